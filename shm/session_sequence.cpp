#include "shm/session_sequence.h"

#include <atomic>

#include "shm/wire.h"

namespace qv::shm {
namespace {

std::atomic<std::uint16_t> g_sequence[kSessionCount];

bool InRange(int session) { return session >= 0 && session < kSessionCount; }

}  // namespace

std::uint16_t TakeSequenceNumber(int session) {
    if (!InRange(session)) return 0;
    // Unsigned 16-bit arithmetic: 65535 + 1 wraps to 0.
    return g_sequence[session].fetch_add(1);
}

std::uint16_t PeekSequenceNumber(int session) { return InRange(session) ? g_sequence[session].load() : 0; }

void ResetSequenceNumbers() {
    for (auto& counter : g_sequence) counter.store(0);
}

}  // namespace qv::shm
