#include "shm/session_views.h"

#include <mutex>
#include <new>

#include "shm/wire.h"
#include "shm/snmp_shared_memory.h"

namespace qv::shm {
namespace {

struct SlotViews {
    std::mutex lock;
    UniqueView in;
    UniqueView out;
    UniqueMappingHandle inMapping;
    UniqueMappingHandle outMapping;
    std::uint32_t generation = 0;
};

// Built once in static storage and never destroyed: a worker that outlived
// the detach's wait may still reach these during process exit. Static storage
// rather than the heap, so that nothing is left allocated when the module is
// unloaded.
SlotViews* Slots() {
    alignas(SlotViews) static unsigned char storage[sizeof(SlotViews) * kSessionCount];
    static SlotViews* slots = [] {
        auto* first = reinterpret_cast<SlotViews*>(storage);
        for (int i = 0; i < kSessionCount; ++i) new (first + i) SlotViews();
        return first;
    }();
    return slots;
}

bool InRange(int session) { return session >= 0 && session < kSessionCount; }

}  // namespace

SessionLock::SessionLock(int session) : session_(session) {
    if (InRange(session_)) Slots()[session_].lock.lock();
}

SessionLock::~SessionLock() {
    if (InRange(session_)) Slots()[session_].lock.unlock();
}

namespace session_views {

void Install(int session, UniqueView in, UniqueView out, UniqueMappingHandle inMapping,
             UniqueMappingHandle outMapping) {
    if (!InRange(session)) return;
    Release(session);
    SlotViews& slot = Slots()[session];
    slot.in = std::move(in);
    slot.out = std::move(out);
    slot.inMapping = std::move(inMapping);
    slot.outMapping = std::move(outMapping);
    ++slot.generation;
    const auto index = static_cast<unsigned int>(session);
    SnmpSharedMemory::SetSharedMemoryInputPointer(index, slot.in.Get());
    SnmpSharedMemory::SetSharedMemoryOutputPointer(index, slot.out.Get());
}

void Release(int session) {
    if (!InRange(session)) return;
    SlotViews& slot = Slots()[session];
    if (!slot.in && !slot.out) return;
    const auto index = static_cast<unsigned int>(session);
    SnmpSharedMemory::SetSharedMemoryInputPointer(index, nullptr);
    SnmpSharedMemory::SetSharedMemoryOutputPointer(index, nullptr);
    slot.in.Reset();
    slot.out.Reset();
    slot.inMapping.Reset();
    slot.outMapping.Reset();
    ++slot.generation;
}

bool Held(int session) { return InRange(session) && (Slots()[session].in || Slots()[session].out); }

std::uint32_t Generation(int session) { return InRange(session) ? Slots()[session].generation : 0; }

}  // namespace session_views

}  // namespace qv::shm
