// Process-wide state of the module that the entry points share.
#pragma once

#include <string>

#include "qv_afx.h"
#include "qv_windows.h"

// The agent's handle of the base region's mapping object, kept from attach to
// detach (owner: the module attach; released by the module detach).
extern HANDLE hMapObject;

// Orders the worker's signalling of the trap event against the trap walk.
// Initialised by the agent attach; lock order: this lock, then the log lock.
extern CRITICAL_SECTION g_TrapCriticalSection;

namespace qv::agent {

// File name of the host executable without directory and extension, or
// "WindowsSnmp" in the agent role.
extern std::wstring g_hostProcessName;
extern bool g_isAgentRole;
extern bool g_trapLockInitialised;
extern AFX_EXTENSION_MODULE g_extensionModule;

// Created by SnmpExtensionInit, released by the module detach; zero until then.
extern HANDLE g_hWorkerThread;
extern DWORD g_dwWorkerThreadId;
extern HANDLE g_hTrapEvent;

// Set by the worker once its message queue exists; created by
// SnmpExtensionInit, closed by the detach once the worker has ended.
extern HANDLE g_hWorkerReady;
// How long SnmpExtensionInit waits for that.
inline constexpr DWORD kWorkerReadyWaitMs = 5000;

// How long a stop waits for the worker to see its quit message.
inline constexpr DWORD kWorkerStopWaitMs = 20000;

// Posts WM_QUIT to the service worker, waits up to kWorkerStopWaitMs for it to
// end and closes its handle; does nothing when no worker runs. Called by
// SnmpExtensionClose and by the module detach, whichever comes first. False
// while a worker that outlived its wait may still be running (and logging).
bool StopServiceWorker();

}  // namespace qv::agent
