// The session list text that answers the status variable.
#pragma once

#include <cstddef>
#include <string>

#include "shm/wire.h"

namespace qv::query {

// The text is held in a buffer of this size, so it carries at most 511 characters.
inline constexpr std::size_t kStatusBufferSize = 512;
inline constexpr char kNoActiveSession[] = "No active session";

// One entry per session whose state is not 0, in index order.
std::string FormatSessionStatus(const QVSNMP_COMBufferHeaderLine* base);

}  // namespace qv::query
