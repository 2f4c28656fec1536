#include "agent/dll_main.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "agent/agent_state.h"
#include "agent/role.h"
#include "log/log_thread.h"
#include "log/snmp_log.h"
#include "log/trace.h"
#include "shm/wire.h"
#include "shm/regions.h"
#include "shm/shared_access.h"
#include "shm/snmp_session.h"
#include "shm/snmp_shared_memory.h"
#include "shm/session_views.h"
#include "shm/snmp_time.h"
#include "trap/trap_signal.h"
#include "worker/worker_thread.h"

namespace {

using qv::trace::LocalTrace;

std::wstring LogFilePath(const std::wstring& processName) {
    return L"C:\\QVTEMP\\QVSNMPDEBUG\\QVSNMP_" + processName + L".txt";
}

std::string ToAnsi(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(size - 1));
    return narrow;
}

// Error numbers are traced as signed decimals.
long long TraceNumber(DWORD error) { return static_cast<std::int32_t>(error); }

void SwitchLoggingOn(LocalTrace& trace, const std::wstring& logPath) {
    // The probe creates the file when the debug directory exists; without the
    // directory it fails and logging stays off for the life of the process.
    HANDLE probe = ::CreateFileW(logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(probe);
        gb_EnableLog = true;
        trace.Line("gb_EnableLog = true;");
    }
    if (gb_EnableLog && g_pLogThread == nullptr) {
        g_pLogThread = new CLogThread;
        g_pLogThread->m_strFileName = CString(logPath.c_str());
        g_pLogThread->InitInstance();
        g_pLogThread->StartLog();
        trace.Line("SnmpLog::GetLoggingThread()->StartLog();");
    }
}

// Agent part of the attach. False for the failure exits, which have traced
// their own line.
bool AttachAgent(HINSTANCE instance, LocalTrace& trace) {
    using namespace qv::agent;
    if (AfxInitExtensionModule(g_extensionModule, instance) == 0) {
        trace.Line("Failed to initialize extension module");
        return false;
    }
    if (!gb_LogCriticalSectionInitialised) {
        ::InitializeCriticalSection(&g_LogCriticalSection);
        gb_LogCriticalSectionInitialised = TRUE;
        trace.Line("gb_LogCriticalSectionInitialised = true;");
    }
    SwitchLoggingOn(trace, LogFilePath(g_hostProcessName));

    qv::shm::NullDaclSecurity security;
    DWORD createError = 0;
    hMapObject = qv::shm::CreateNamedRegion(qv::shm::kBaseRegionName, security.Attributes(), &createError);
    if (hMapObject == nullptr) {
        trace.Line("hMapObject == NULL. GetLastError = ", TraceNumber(createError));
        return false;
    }
    const bool fInit = createError != ERROR_ALREADY_EXISTS;

    auto* base = static_cast<QVSNMP_COMBufferHeaderLine*>(qv::shm::MapWholeRegion(hMapObject));
    SnmpSharedMemory::SetSharedMemoryBasePointer(base);
    if (SnmpSharedMemory::GetSharedMemoryBasePointer() == nullptr) {
        trace.Line("g_pSharedMemory == NULL");
        // Nothing will use the mapping object without a view; let it go now
        // rather than hold the region open for the life of the process.
        ::CloseHandle(hMapObject);
        hMapObject = nullptr;
        return false;
    }
    if (fInit) {
        trace.Line("fInit");
        std::memset(static_cast<void*>(base), 0, qv::shm::kRegionSize);
        trace.Line("gb_IAmTheWindowsService");
    }
    // Records pending in a region that outlived an earlier agent are dropped.
    qv::shm::StoreShared(base->readIndex, qv::shm::kFirstDataSlot);
    qv::shm::StoreShared(base->writeIndex, qv::shm::kFirstDataSlot);
    qv::shm::StoreShared(base->trapReadIndex, qv::shm::kFirstDataSlot);

    SnmpTime::Init();
    qv::trap::InitialiseTrapLock();
    // Owned by the MFC extension-module list from here on; the module never
    // deletes it itself.
    new CDynLinkLibrary(g_extensionModule, FALSE);
    return true;
}

bool ProcessAttach(HINSTANCE instance, LocalTrace& trace) {
    using namespace qv::agent;
    trace.Line("case DLL_PROCESS_ATTACH");
    g_isAgentRole = DetectRole(g_hostProcessName);
    if (g_isAgentRole && !AttachAgent(instance, trace)) return false;

    if (gb_EnableLog && g_pLogThread != nullptr) {
        ::EnterCriticalSection(&g_LogCriticalSection);
        g_pLogThread->LogMessage(CString(L"QVSNMP.dll loaded"), LOG_CODE_INFO);
        ::LeaveCriticalSection(&g_LogCriticalSection);
    }
    trace.Line("QVSNMP.dll loaded by " + ToAnsi(g_hostProcessName));
    return true;
}

// The log object a worker that outlived the detach's wait may still reach;
// held here, never freed, for the rest of the process.
CLogThread* g_logThreadKeptForLateWorker = nullptr;

void StopLogging(bool workerStopped) {
    if (CLogThread* logThread = qv::log::LoadLogThread()) {
        if (workerStopped) {
            logThread->StopLog();
            qv::log::StoreLogThread(nullptr);
            delete logThread;
        } else {
            // A worker that outlived its wait may be inside a log call or about
            // to make one. Close the file under the log lock, so no line is
            // half written, and keep both the object and the lock alive: its
            // later calls find no log object, or one with no file, and write
            // nothing. The object is deliberately never freed.
            ::EnterCriticalSection(&g_LogCriticalSection);
            logThread->StopLog();
            qv::log::StoreLogThread(nullptr);
            g_logThreadKeptForLateWorker = logThread;
            ::LeaveCriticalSection(&g_LogCriticalSection);
        }
    }
    if (gb_LogCriticalSectionInitialised && workerStopped) {
        ::DeleteCriticalSection(&g_LogCriticalSection);
        gb_LogCriticalSectionInitialised = FALSE;
    }
}

void TearDownSharedState(LocalTrace& trace) {
    QVSNMP_COMBufferHeaderLine* base = SnmpSharedMemory::GetSharedMemoryBasePointer();
    for (int i = 0; i < qv::shm::kSessionCount; ++i) {
        // Also the views of a slot its application freed: the agent still
        // holds those until the slot is connected again.
        {
            qv::shm::SessionLock lock(i);
            qv::shm::session_views::Release(i);
        }
        qv::shm::ClearSessionRow(base, i);
    }
    qv::shm::StoreShared(base->serviceUp, std::uint8_t{0});
    trace.Line("Service down!");
    qv::shm::StoreShared(base->readIndex, qv::shm::kFirstDataSlot);
    qv::shm::StoreShared(base->writeIndex, qv::shm::kFirstDataSlot);
    ::UnmapViewOfFile(base);
    if (hMapObject != nullptr) {
        ::CloseHandle(hMapObject);
        hMapObject = nullptr;
    }
}

void ProcessDetach(LocalTrace& trace) {
    using namespace qv::agent;
    trace.Line("case DLL_PROCESS_DETACH");
    // The worker goes first, so that none of its log calls can reach the lock
    // or the log object after they are gone.
    //
    // When the service stops an agent it calls SnmpExtensionClose first, which
    // stops the worker outside the loader lock; this call then finds no worker
    // and returns at once. Without that call (a host that unloads the module
    // directly) the wait happens here, under the loader lock: on Windows a
    // thread's exit needs that lock, so the worker cannot finish and the wait
    // runs its full time before detach goes on. At process exit the system
    // has ended the worker already and the wait returns at once.
    const bool workerStopped = qv::worker::StopServiceWorker();
    qv::trap::CloseTrapEvent();
    if (workerStopped) qv::worker::CloseWorkerReadyEvent();
    StopLogging(workerStopped);
    if (g_isAgentRole && SnmpSharedMemory::GetSharedMemoryBasePointer() != nullptr) {
        TearDownSharedState(trace);
    }
    AfxTermExtensionModule(g_extensionModule, FALSE);
    trace.Line("Exit process detach");
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    LocalTrace trace(qv::trace::kDllMainPath);
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            if (!ProcessAttach(instance, trace)) return FALSE;
            break;
        case DLL_PROCESS_DETACH:
            ProcessDetach(trace);
            break;
        case DLL_THREAD_ATTACH:
            trace.Line("case DLL_THREAD_ATTACH");
            break;
        case DLL_THREAD_DETACH:
            trace.Line("case DLL_THREAD_DETACH");
            break;
        default:
            trace.Line("case default");
            break;
    }
    trace.Line("I'm exiting DllMain!");
    return TRUE;
}
