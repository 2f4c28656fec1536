#include "worker/service_worker.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <stdexcept>

#include "log/snmp_log.h"
#include "shm/wire.h"
#include "shm/ring.h"
#include "shm/session_rings.h"
#include "shm/session_sequence.h"
#include "shm/session_views.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/snmp_time.h"
#include "trap/trap_signal.h"
#include "worker/base_ring_reader.h"
#include "worker/connection.h"

namespace qv::worker {
namespace {

// Only the worker thread touches these.
int g_livenessPassCounter = 0;
int g_trapDetectionCounter = 0;

bool QuitRequested() {
    MSG message;
    // PM_NOREMOVE: nothing is ever taken off the queue, so only the message at
    // its head counts. The first call also gives the thread its queue.
    return ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE) != 0 && message.message == WM_QUIT;
}

// Local time of day as six digits, HHMMSS.
void FormatTimeString(char (&hhmmss)[7]) {
    const __time64_t now = ::_time64(nullptr);
    std::tm local{};
    if (::_localtime64_s(&local, &now) != 0 || std::strftime(hhmmss, sizeof hhmmss, "%H%M%S", &local) != 6) {
        throw std::runtime_error("local time conversion failed");
    }
}

void PublishHeartbeat(QVSNMP_COMBufferHeaderLine* base, const char (&hhmmss)[7]) {
    for (std::size_t i = 0; i < std::size(base->heartbeatDigits); ++i) {
        shm::StoreShared(base->heartbeatDigits[i], static_cast<std::uint8_t>(hhmmss[i] - '0'));
    }
    // Truncated toward zero. A time that does not fit (no time base yet) is
    // published as 0 rather than converted with undefined behaviour.
    const double seconds = SnmpTime::GetTime();
    const bool fits = seconds > -9.0e18 && seconds < 9.0e18;
    shm::StoreShared(base->heartbeatSeconds, fits ? static_cast<std::int64_t>(seconds) : std::int64_t{0});
}

void Log(const char* text) { SnmpLog::LogMessage(CString(text), LOG_CODE_INFO); }

}  // namespace

bool DrainBaseRing(QVSNMP_COMBufferHeaderLine* base) {
    bool trapSeen = false;
    std::uint8_t record[shm::kSlotSize];
    for (int taken = 0; taken < kMaxRecordsPerPass && SnmpSharedMemory::GetSharedMemoryBasePointer() != nullptr;
         ++taken) {
        const int kind = ReadBaseRecord(record);
        if (kind == kNothingToProcess) break;
        const int sender = SnmpSession::GetCurrentSnmpSessionId(
            shm::ReadU16(record + shm::record::kPen), static_cast<std::int8_t>(record[shm::record::kAppId]),
            static_cast<std::int8_t>(record[shm::record::kAppInst]));
        if (sender >= 0) shm::StoreShared(base->keepAlive[sender], std::uint16_t{0});

        if (kind == kConnectionRequestRecord) {
            ProcessConnectionRequest(record);
        } else if (kind == kTrapRecord) {
            char line[128];
            std::snprintf(line, sizeof line, "Detect trap in buffer Count %d, Time: %lf \n", g_trapDetectionCounter,
                          SnmpTime::GetTime());
            Log(line);
            ++g_trapDetectionCounter;
            trapSeen = true;
        }
    }
    return trapSeen;
}

void SuperviseSessions(QVSNMP_COMBufferHeaderLine* base) {
    for (int i = 0; i < shm::kSessionCount; ++i) {
        if (shm::LoadShared(base->sessionState[i]) != shm::kSessionUp) continue;
        const auto count = static_cast<std::uint16_t>(shm::LoadShared(base->keepAlive[i]) + 1);
        shm::StoreShared(base->keepAlive[i], count);
        if (count > kKeepAlivePasses) TimeOutSession(i);
    }
}

void RunPass() {
    QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    if (base == nullptr) {
        // Started before a base region was mapped: nothing to publish or drain.
        ::Sleep(kPassSleepMs);
        return;
    }
    shm::StoreShared(base->serviceUp, std::uint8_t{1});
    ::Sleep(kPassSleepMs);

    char hhmmss[7];
    FormatTimeString(hhmmss);
    PublishHeartbeat(base, hhmmss);

    if (++g_livenessPassCounter > kLivenessPasses) {
        char line[32];
        std::snprintf(line, sizeof line, "Time string: %s", hhmmss);
        Log(line);
        WriteLivenessFile(hhmmss);
        g_livenessPassCounter = 0;
    }

    if (DrainBaseRing(base)) trap::SignalTraps();
    SuperviseSessions(base);
}

void BuildTimeOutNotice(std::uint8_t* message, std::uint16_t sequence, std::uint16_t pen, std::int8_t appId,
                        std::int8_t appInst) {
    namespace field = shm::message;
    std::memset(message, 0, shm::kSlotSize);
    shm::WriteU16(message + field::kSequence, sequence);
    shm::WriteU16(message + field::kPen, pen);
    message[field::kNoticeAppId] = static_cast<std::uint8_t>(appId);
    message[field::kNoticeAppInst] = static_cast<std::uint8_t>(appInst);
    message[field::kOperation] = field::kTimeOutNotice;
    message[field::kStatus] = field::kNoticeStatus;
    message[field::kValueAttribute] = field::kAttribute;
    message[field::kValue] = field::kNoticeValue;
    message[field::kMarker1] = field::kMarker1Value;
    message[field::kMarker2] = field::kMarker2Value;
}

void TimeOutSession(int session) {
    QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    const shm::SessionRow row = shm::LoadSessionRow(base, session);
    std::uint8_t notice[shm::kSlotSize];
    BuildTimeOutNotice(notice, shm::TakeSequenceNumber(session), row.pen, row.appId, row.appInst);

    // The state goes to 0 first, so a query that looks the session up from
    // here on is refused; one already in flight finds the views released under
    // the session lock and ends as timed out.
    shm::StoreShared(base->sessionState[session], shm::kSessionFree);
    {
        shm::SessionLock lock(session);
        // A full OUT ring drops the notice; the session is released all the same.
        if (!IsOutputRingFull(session)) WriteOutputRing(session, notice);
        shm::session_views::Release(session);
    }
    shm::ClearSessionRow(base, session);
}

void WriteLivenessFile(const char* hhmmss) {
    HANDLE file = ::CreateFileA(kLivenessFilePath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    // Written over the start of the file without truncating it.
    char line[1024];
    const int length = std::snprintf(line, sizeof line, "Windows SNMP Service related QVSNMP.dll alive: %s\r\n", hhmmss);
    DWORD written = 0;
    ::WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    ::CloseHandle(file);
}

int TrapDetectionCount() { return g_trapDetectionCounter; }

}  // namespace qv::worker

DWORD WINAPI ServiceWorkerThreadProc(LPVOID parameter) {
    // The first look at the queue creates it.
    MSG probe;
    ::PeekMessageW(&probe, nullptr, 0, 0, PM_NOREMOVE);
    if (parameter != nullptr) ::SetEvent(static_cast<HANDLE>(parameter));
    try {
        for (;;) {
            if (qv::worker::QuitRequested()) return 0;
            qv::worker::RunPass();
        }
    } catch (...) {
        // Any failure of a pass ends the worker quietly; the query path goes on
        // serving the sessions that are up.
        return 0;
    }
}
