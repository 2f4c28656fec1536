#include "log/snmp_log.h"

bool gb_EnableLog = false;
BOOL gb_LogCriticalSectionInitialised = FALSE;
CRITICAL_SECTION g_LogCriticalSection;
CLogThread* g_pLogThread = nullptr;

namespace SnmpLog {

void LogMessage(CString message, int code) {
    if (!gb_EnableLog || code == LOG_CODE_SILENT || g_pLogThread == nullptr) {
        return;
    }
    EnterCriticalSection(&g_LogCriticalSection);
    // Read again under the lock: a detach that clears the pointer while it
    // holds the lock must not have the object used after that.
    if (CLogThread* logThread = g_pLogThread) {
        logThread->LogMessage(message, code);
    }
    LeaveCriticalSection(&g_LogCriticalSection);
}

bool IsLogEnabled() {
    return gb_EnableLog;
}

CLogThread* GetLoggingThread() {
    return g_pLogThread;
}

}  // namespace SnmpLog
