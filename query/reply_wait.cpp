#include "query/reply_wait.h"

#include <cstdint>

#include "shm/ring.h"
#include "shm/session_rings.h"
#include "shm/session_views.h"
#include "shm/snmp_shared_memory.h"

namespace qv::query {
namespace {

// Replies with another sequence number are consumed without using up the
// wait's time. An application that keeps refilling its IN ring with them
// could hold the service's thread for ever; past this many the wait ends as a
// time-out. It is more than two full rings, so the stale replies of earlier,
// timed-out requests never reach it.
constexpr int kMaxDiscardedReplies = 2 * shm::kRingCapacity + 2;

enum class Poll { Empty, Taken, SessionGone };

// The session's views may be released by the service worker between any two
// polls; the lock keeps them in place for this one look, and a changed
// generation or a missing IN region tells that they went while we slept.
Poll TakeReply(int session, std::uint32_t generation, Message& message) {
    shm::SessionLock lock(session);
    if (shm::session_views::Generation(session) != generation ||
        SnmpSharedMemory::GetSharedMemoryInputPointer(static_cast<unsigned int>(session)) == nullptr) {
        return Poll::SessionGone;
    }
    // ReadInputRing copies the whole message out before freeing its slot.
    return ReadInputRing(session, message.data()) ? Poll::Taken : Poll::Empty;
}

std::uint32_t Send(int session, const Message& request) {
    shm::SessionLock lock(session);
    // A full ring drops the request; the wait below then runs to its end.
    if (!IsOutputRingFull(session)) WriteOutputRing(session, request.data());
    return shm::session_views::Generation(session);
}

}  // namespace

bool ExchangeRequest(int session, const Message& request, FirstStep first, Message& reply) {
    const std::uint32_t generation = Send(session, request);
    const std::uint16_t sequence = SequenceOf(request);

    int remainingMs = kReplyWaitMs;
    bool exhausted = false;
    // Never called with the session lock held.
    auto sleepOnce = [&] {
        ::Sleep(kPollIntervalMs);
        remainingMs -= static_cast<int>(kPollIntervalMs);
        if (remainingMs < static_cast<int>(kPollIntervalMs)) exhausted = true;
    };
    if (first == FirstStep::Sleep) sleepOnce();

    int discarded = 0;
    Message taken;
    for (;;) {
        switch (TakeReply(session, generation, taken)) {
        case Poll::SessionGone:
            return false;
        case Poll::Empty:
            // The ring is looked at once more after the last sleep.
            if (exhausted) return false;
            sleepOnce();
            break;
        case Poll::Taken:
            if (SequenceOf(taken) == sequence) {
                reply = taken;
                return true;
            }
            // A reply to an earlier request: dropped, and the ring is looked
            // at again before any further sleep.
            if (++discarded > kMaxDiscardedReplies) return false;
            break;
        }
    }
}

}  // namespace qv::query
