#include "agent/agent_state.h"

namespace qv::agent {
namespace {

// Set when a worker did not end within its wait. It keeps running on the
// module's state, so the detach must not tear logging down under it, however
// many stops have come since.
bool g_workerOutlivedStop = false;

// How often a quit message that found no message queue is posted again.
constexpr DWORD kRepostIntervalMs = 10;

}  // namespace

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

}  // namespace qv::agent
