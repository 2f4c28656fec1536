// Starting and stopping the service worker thread.
#pragma once

#include "qv_windows.h"

namespace qv::worker {

// Created by StartServiceWorker, released by StopServiceWorker; zero until then.
extern HANDLE g_hWorkerThread;
extern DWORD g_dwWorkerThreadId;

// Set by the worker once its message queue exists; created by
// StartServiceWorker, closed by the detach once the worker has ended.
extern HANDLE g_hWorkerReady;
// How long a start waits for that.
inline constexpr DWORD kWorkerReadyWaitMs = 5000;

// How long a stop waits for the worker to see its quit message.
inline constexpr DWORD kWorkerStopWaitMs = 20000;

// Starts the worker and returns once it runs and has its message queue (or
// kWorkerReadyWaitMs have passed). False, with the platform's last error,
// when the thread could not be created.
bool StartServiceWorker();

// Posts WM_QUIT to the service worker, waits up to kWorkerStopWaitMs for it to
// end and closes its handle; does nothing when no worker runs. Called by
// SnmpExtensionClose and by the module detach, whichever comes first. False
// while a worker that outlived its wait may still be running (and logging).
bool StopServiceWorker();

// Closes the ready event; only once the worker has ended.
void CloseWorkerReadyEvent();

}  // namespace qv::worker
