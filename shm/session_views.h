// The agent's own views of each session's IN and OUT region, and the lock that
// keeps their release away from a query that is using them.
//
// The service worker maps a session's regions when it opens the session and
// releases them when the session times out or the slot is connected anew; the
// query path, on another thread, reads and writes the same rings. Every use of
// a session's views by the query path and every release by the worker happen
// under that session's lock, held only for one ring operation at a time (never
// across a sleep), so the worker is never held up for long. A query notices a
// release it slept through by the session's generation, which every install
// and release advances.
#pragma once

#include <cstdint>

#include "shm/unique_handle.h"

namespace qv::shm {

class SessionLock {
public:
    explicit SessionLock(int session);
    ~SessionLock();
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;

private:
    int session_;
};

// All of these require the session's lock to be held by the caller.
namespace session_views {

// Takes ownership of the two views (and of the mapping handles they came
// from), registers the views in SnmpSharedMemory and releases whatever the
// slot held before (a slot freed by its application and then connected
// again).
//
// The handles are kept because a view alone does not keep a region's name:
// Windows removes a named object from the namespace when its last handle is
// closed, even while views of it remain, and an application could then no
// longer open the regions of its session by name.
void Install(int session, UniqueView in, UniqueView out, UniqueMappingHandle inMapping = UniqueMappingHandle(),
             UniqueMappingHandle outMapping = UniqueMappingHandle());

// Unmaps the slot's IN view, then its OUT view, closes the two mapping
// handles and clears the registry's pointers for the slot. Does nothing for a
// slot without views.
void Release(int session);

bool Held(int session);
std::uint32_t Generation(int session);

}  // namespace session_views

}  // namespace qv::shm
