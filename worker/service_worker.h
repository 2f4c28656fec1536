// The agent's background thread: one pass about every 50 ms.
#pragma once

#include <cstdint>

#include "qv_windows.h"
#include "shm/wire.h"

// Thread routine started by SnmpExtensionInit; returns 0 when it finds
// WM_QUIT at the head of its message queue, or when a pass throws.
// The parameter, when not null, is an event the worker sets once its message
// queue exists, that is once a quit message can be posted to it.
DWORD WINAPI ServiceWorkerThreadProc(LPVOID parameter);

namespace qv::worker {

inline constexpr DWORD kPassSleepMs = 50;
// A session that puts nothing into the base ring for more passes than this is
// timed out.
inline constexpr int kKeepAlivePasses = 80;
// The liveness file is rewritten when the pass counter exceeds this.
inline constexpr int kLivenessPasses = 1000;
// At most one ring's worth of records is drained per pass; records appended
// while the drain runs wait for the next pass, so a peer that never stops
// appending cannot hold the worker in its drain.
inline constexpr int kMaxRecordsPerPass = 1022;

inline constexpr char kLivenessFilePath[] = "C:\\QVSNMPALIVE.txt";

// The time-out notice (shm/wire.h) for a slot.
void BuildTimeOutNotice(std::uint8_t* message, std::uint16_t sequence, std::uint16_t pen, std::int8_t appId,
                        std::int8_t appInst);

// One pass of the worker, without its quit check.
void RunPass();

// The parts of a pass: takes out every waiting record (true when at least one
// was a trap record), and counts and times out the up sessions.
bool DrainBaseRing(QVSNMP_COMBufferHeaderLine* base);
void SuperviseSessions(QVSNMP_COMBufferHeaderLine* base);

// One time-out of slot `session`: notice into the OUT ring if it fits, views
// released, row cleared.
void TimeOutSession(int session);

// Writes the liveness line for time string `hhmmss` at the start of the file.
void WriteLivenessFile(const char* hhmmss);

// Counters kept between passes.
int TrapDetectionCount();

}  // namespace qv::worker
