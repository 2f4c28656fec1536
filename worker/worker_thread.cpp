#include "worker/worker_thread.h"

#include "worker/service_worker.h"

namespace qv::worker {

HANDLE g_hWorkerThread = nullptr;
DWORD g_dwWorkerThreadId = 0;
HANDLE g_hWorkerReady = nullptr;

namespace {

// Set when a worker did not end within its wait. It keeps running on the
// module's state, so the detach must not tear logging down under it, however
// many stops have come since.
bool g_workerOutlivedStop = false;

// How often a quit message that found no message queue is posted again.
constexpr DWORD kRepostIntervalMs = 10;

}  // namespace

bool StartServiceWorker() {
    DWORD threadId = 0;
    g_hWorkerReady = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_hWorkerThread = ::CreateThread(nullptr, 0, ServiceWorkerThreadProc, g_hWorkerReady, 0, &threadId);
    if (g_hWorkerThread == nullptr) return false;
    g_dwWorkerThreadId = threadId;
    // Start-up returns only once the worker runs and has its message queue. A
    // worker still starting when the module is unloaded without
    // SnmpExtensionClose would otherwise wait for the loader's lock (for its
    // thread attach on Windows, for registering its thread-local queue on
    // Linux) while the detach waits for it: the detach would give up after its
    // full wait, and the worker would then run in an unloaded module.
    if (g_hWorkerReady != nullptr) ::WaitForSingleObject(g_hWorkerReady, kWorkerReadyWaitMs);
    return true;
}

bool StopServiceWorker() {
    if (g_hWorkerThread != nullptr) {
        // A thread has a message queue only from its first call of a message
        // function on; until then a posted message is refused. A worker
        // stopped right after its start (a service that stops at once) has
        // not got that far yet, so the quit message is posted again until
        // the queue takes it or the worker has ended.
        DWORD waited = 0;
        while (!::PostThreadMessageW(g_dwWorkerThreadId, WM_QUIT, 0, 0) && waited < kWorkerStopWaitMs) {
            if (::WaitForSingleObject(g_hWorkerThread, kRepostIntervalMs) == WAIT_OBJECT_0) break;
            waited += kRepostIntervalMs;
        }
        const DWORD left = waited < kWorkerStopWaitMs ? kWorkerStopWaitMs - waited : 0;
        if (::WaitForSingleObject(g_hWorkerThread, left) != WAIT_OBJECT_0) {
            g_workerOutlivedStop = true;
        }
        ::CloseHandle(g_hWorkerThread);
        g_hWorkerThread = nullptr;
        g_dwWorkerThreadId = 0;
    }
    return !g_workerOutlivedStop;
}

void CloseWorkerReadyEvent() {
    if (g_hWorkerReady != nullptr) {
        ::CloseHandle(g_hWorkerReady);
        g_hWorkerReady = nullptr;
    }
}

}  // namespace qv::worker
