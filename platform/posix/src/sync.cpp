// Events, WaitForSingleObject and critical sections.
//
// Only in-process synchronisation lives here; thread objects bring their own
// wait (threads.cpp), and nothing here is shared between processes.
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "posix_internal.h"

namespace qv::posix {
namespace {

class Event final : public KernelObject {
public:
    Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

    void Set() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        // An auto-reset event lets exactly one waiter through per signal: the
        // first to take the lock consumes it, the others see it cleared.
        if (manualReset_) {
            changed_.notify_all();
        } else {
            changed_.notify_one();
        }
    }

    void Reset() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }

    DWORD Wait(DWORD milliseconds) override {
        std::unique_lock lock(mutex_);
        const auto ready = [&] { return signalled_; };
        if (milliseconds == INFINITE) {
            changed_.wait(lock, ready);
        } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
            return WAIT_TIMEOUT;
        }
        if (!manualReset_) signalled_ = false;
        return WAIT_OBJECT_0;
    }

private:
    const bool manualReset_;
    std::mutex mutex_;  // guards signalled_
    std::condition_variable changed_;
    bool signalled_;
};

}  // namespace
}  // namespace qv::posix

using qv::posix::Event;

extern "C" QV_PLATFORM_API HANDLE CreateEventW(LPSECURITY_ATTRIBUTES /*attributes*/,
                                               BOOL manualReset, BOOL initialState, LPCWSTR name) {
    // Named events would have to work across processes; nothing needs them.
    if (name != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    HANDLE handle = qv::posix::RegisterNew<Event>(manualReset != FALSE, initialState != FALSE);
    if (handle != nullptr) SetLastError(ERROR_SUCCESS);
    return handle;
}

extern "C" QV_PLATFORM_API BOOL SetEvent(HANDLE event) {
    const auto object = qv::posix::LookupHandleAs<Event>(event);
    if (!object) return FALSE;
    object->Set();
    return TRUE;
}

extern "C" QV_PLATFORM_API BOOL ResetEvent(HANDLE event) {
    const auto object = qv::posix::LookupHandleAs<Event>(event);
    if (!object) return FALSE;
    object->Reset();
    return TRUE;
}

extern "C" QV_PLATFORM_API DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    // The reference keeps the object alive through the wait even if another
    // thread closes the handle meanwhile.
    const auto target = qv::posix::LookupHandle(object);
    if (!target) return WAIT_FAILED;
    return target->Wait(milliseconds);
}

// ---- critical sections -------------------------------------------------------------
// The owner field is read without the mutex by threads that do not own the
// section; it can only ever equal the reader's own id if the reader wrote it,
// so a relaxed atomic access is enough to decide "do I own it already?".

namespace {

DWORD Owner(CRITICAL_SECTION* section) {
    return std::atomic_ref<DWORD>(section->ownerThread).load(std::memory_order_relaxed);
}

void SetOwner(CRITICAL_SECTION* section, DWORD owner) {
    std::atomic_ref<DWORD>(section->ownerThread).store(owner, std::memory_order_relaxed);
}

}  // namespace

extern "C" QV_PLATFORM_API void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutex_init(&section->mutex, nullptr);
    section->ownerThread = 0;
    section->recursion = 0;
}

extern "C" QV_PLATFORM_API void EnterCriticalSection(LPCRITICAL_SECTION section) {
    const DWORD self = GetCurrentThreadId();
    if (Owner(section) == self) {
        ++section->recursion;
        return;
    }
    pthread_mutex_lock(&section->mutex);
    SetOwner(section, self);
    section->recursion = 1;
}

extern "C" QV_PLATFORM_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    const DWORD self = GetCurrentThreadId();
    if (Owner(section) == self) {
        ++section->recursion;
        return TRUE;
    }
    if (pthread_mutex_trylock(&section->mutex) != 0) return FALSE;
    SetOwner(section, self);
    section->recursion = 1;
    return TRUE;
}

extern "C" QV_PLATFORM_API void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    // Leaving a section one does not own is a caller bug; unlocking a mutex
    // held by another thread would break that thread's exclusion.
    if (Owner(section) != GetCurrentThreadId()) return;
    if (--section->recursion > 0) return;
    SetOwner(section, 0);
    pthread_mutex_unlock(&section->mutex);
}

extern "C" QV_PLATFORM_API void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutex_destroy(&section->mutex);
    section->ownerThread = 0;
    section->recursion = 0;
}
