// Sending a request into a session's OUT ring and waiting for the matching
// reply in its IN ring.
#pragma once

#include "qv_windows.h"
#include "query/query_message.h"

namespace qv::query {

inline constexpr DWORD kPollIntervalMs = 50;
inline constexpr int kReplyWaitMs = 2050;

// GET and SET give the application one interval before they first look;
// GETNEXT looks at once.
enum class FirstStep { Sleep, Poll };

// Sends `request` (dropped without notice when the OUT ring is full) and
// waits up to about 2.05 s for a reply carrying its sequence number. True with
// `reply` filled when one came; false when the wait timed out or the session
// was released while it ran.
bool ExchangeRequest(int session, const Message& request, FirstStep first, Message& reply);

}  // namespace qv::query
