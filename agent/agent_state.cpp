#include "agent/agent_state.h"

HANDLE hMapObject = nullptr;
CRITICAL_SECTION g_TrapCriticalSection;

namespace qv::agent {

std::wstring g_hostProcessName;
bool g_isAgentRole = false;
bool g_trapLockInitialised = false;
AFX_EXTENSION_MODULE g_extensionModule = {};

HANDLE g_hWorkerThread = nullptr;
DWORD g_dwWorkerThreadId = 0;
HANDLE g_hTrapEvent = nullptr;
HANDLE g_hWorkerReady = nullptr;

}  // namespace qv::agent
