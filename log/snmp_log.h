// The process-wide log: switches, the global log lock and the exported calls.
#pragma once

#include "log/log_thread.h"
#include "qv_afx.h"
#include "qv_windows.h"
#include "shm/qvsnmp_export.h"

// Set once by module attach when the log file could be opened; never cleared.
extern bool gb_EnableLog;
extern BOOL gb_LogCriticalSectionInitialised;
// Held by every caller for the whole hand-over of one message to the log
// object; taken before the object's own m_csFile.
extern CRITICAL_SECTION g_LogCriticalSection;
// Owned by module attach and detach; null while there is no log object.
extern CLogThread* g_pLogThread;

inline constexpr int LOG_CODE_SET_FILE = 1235;
inline constexpr int LOG_CODE_SILENT = 1240;
inline constexpr int LOG_CODE_INFO = 1241;
inline constexpr int LOG_CODE_WARN = 1242;
inline constexpr int LOG_CODE_ALARM = 1243;

namespace qv::log {

// g_pLogThread is read by every thread that logs, without the log lock, and
// cleared by the detach while a late worker may still be logging. Every access
// that can meet another thread goes through these, so each is one atomic load
// or store.
CLogThread* LoadLogThread();
void StoreLogThread(CLogThread* logThread);

}  // namespace qv::log

namespace SnmpLog {

// Writes nothing unless logging is on, the code is not 1240 and there is a log object.
QVSNMP_API void LogMessage(CString message, int code);
QVSNMP_API bool IsLogEnabled();
CLogThread* GetLoggingThread();

}  // namespace SnmpLog
