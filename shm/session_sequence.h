// Per-session sequence numbers of the messages the agent puts into OUT rings.
//
// Shared by the query path (requests) and the service worker (time-out
// notices); each takes the current value and advances it, 65535 wrapping to 0.
#pragma once

#include <cstdint>

namespace qv::shm {

std::uint16_t TakeSequenceNumber(int session);
std::uint16_t PeekSequenceNumber(int session);
void ResetSequenceNumbers();

}  // namespace qv::shm
