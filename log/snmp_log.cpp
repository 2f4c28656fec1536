#include "log/snmp_log.h"

#include <atomic>

bool gb_EnableLog = false;
BOOL gb_LogCriticalSectionInitialised = FALSE;
CRITICAL_SECTION g_LogCriticalSection;
CLogThread* g_pLogThread = nullptr;

namespace qv::log {

CLogThread* LoadLogThread() { return std::atomic_ref<CLogThread*>(g_pLogThread).load(std::memory_order_acquire); }

void StoreLogThread(CLogThread* logThread) {
    std::atomic_ref<CLogThread*>(g_pLogThread).store(logThread, std::memory_order_release);
}

}  // namespace qv::log

namespace SnmpLog {

void LogMessage(CString message, int code) {
    if (!gb_EnableLog || code == LOG_CODE_SILENT || qv::log::LoadLogThread() == nullptr) {
        return;
    }
    EnterCriticalSection(&g_LogCriticalSection);
    // Read again under the lock: a detach that clears the pointer while it
    // holds the lock must not have the object used after that.
    if (CLogThread* logThread = qv::log::LoadLogThread()) {
        logThread->LogMessage(message, code);
    }
    LeaveCriticalSection(&g_LogCriticalSection);
}

bool IsLogEnabled() {
    return gb_EnableLog;
}

CLogThread* GetLoggingThread() {
    return qv::log::LoadLogThread();
}

}  // namespace SnmpLog
