// Taking records out of the base ring for the service worker.
#pragma once

#include <cstdint>

namespace qv::worker {

inline constexpr int kNothingToProcess = 0;
inline constexpr int kConnectionRequestRecord = 1;
inline constexpr int kTrapRecord = 2;
inline constexpr int kAnonymousRecord = 9;

}  // namespace qv::worker

// Takes the next record out of the base ring into `buffer` (1024 bytes) and
// classifies it: 0 nothing to process (empty ring, or a record of another
// kind), 1 connection request, 2 trap record, 9 record without identity.
// The caller makes sure the base region is mapped.
int ReadBaseRecord(std::uint8_t* buffer);
