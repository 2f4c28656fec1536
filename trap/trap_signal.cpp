#include "trap/trap_signal.h"

CRITICAL_SECTION g_TrapCriticalSection;

namespace qv::trap {

bool g_trapLockInitialised = false;
HANDLE g_hTrapEvent = nullptr;
DWORD g_agentStartTick = 0;

void InitialiseTrapLock() {
    ::InitializeCriticalSection(&g_TrapCriticalSection);
    g_trapLockInitialised = true;
}

HANDLE CreateTrapEvent() {
    g_hTrapEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return g_hTrapEvent;
}

void CloseTrapEvent() {
    if (g_hTrapEvent != nullptr) {
        ::CloseHandle(g_hTrapEvent);
        g_hTrapEvent = nullptr;
    }
}

void SignalTraps() {
    ::EnterCriticalSection(&g_TrapCriticalSection);
    ::SetEvent(g_hTrapEvent);
    ::LeaveCriticalSection(&g_TrapCriticalSection);
}

}  // namespace qv::trap
