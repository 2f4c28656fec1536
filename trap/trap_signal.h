// The trap lock and the trap event. The service worker sets the event when a
// pass took trap records out of the base ring; the SNMP service then calls
// SnmpExtensionTrap, whose walk runs under the lock, so the event is never set
// in the middle of a walk.
#pragma once

#include "qv_windows.h"

// Orders the worker's signalling of the trap event against the trap walk.
// Initialised by the agent attach; lock order: this lock, then the log lock.
extern CRITICAL_SECTION g_TrapCriticalSection;

namespace qv::trap {

extern bool g_trapLockInitialised;
// Created by SnmpExtensionInit, closed by the module detach; null until then.
extern HANDLE g_hTrapEvent;
// GetTickCount at start-up; trap time stamps count from here.
extern DWORD g_agentStartTick;

// Initialises the trap lock (agent attach).
void InitialiseTrapLock();

// Creates the auto-reset trap event and keeps it; null (last error as the
// platform left it) when it cannot be created.
HANDLE CreateTrapEvent();
void CloseTrapEvent();

// Sets the trap event under the trap lock.
void SignalTraps();

}  // namespace qv::trap
