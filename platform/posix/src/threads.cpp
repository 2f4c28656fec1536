// Threads, thread ids, thread message queues and Sleep.
//
// Only CreateThread and its companions, the per-thread message queues behind
// PeekMessageW/GetMessageW/PostThreadMessageW, and Sleep live here.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <limits>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

#include "posix_internal.h"

namespace qv::posix {
namespace {

// Windows refuses more than this many posted messages per queue.
constexpr std::size_t kQueueLimit = 10000;

HWND ThreadMessagesOnly() {
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
}

class MessageQueue {
public:
    bool Post(const MSG& message) {
        {
            std::lock_guard lock(mutex_);
            if (messages_.size() >= kQueueLimit) return false;
            messages_.push_back(message);
        }
        arrived_.notify_all();
        return true;
    }

    bool Peek(MSG* message, UINT filterMin, UINT filterMax, bool remove) {
        std::lock_guard lock(mutex_);
        return TakeLocked(message, filterMin, filterMax, remove);
    }

    void Get(MSG* message, UINT filterMin, UINT filterMax) {
        std::unique_lock lock(mutex_);
        arrived_.wait(lock, [&] { return TakeLocked(message, filterMin, filterMax, true); });
    }

private:
    // WM_QUIT passes any filter, as on Windows, so that a loop with a filter
    // can still be told to stop.
    static bool Matches(UINT message, UINT filterMin, UINT filterMax) {
        if (filterMin == 0 && filterMax == 0) return true;
        if (message == WM_QUIT) return true;
        return message >= filterMin && message <= filterMax;
    }

    bool TakeLocked(MSG* message, UINT filterMin, UINT filterMax, bool remove) {
        const auto found = std::find_if(messages_.begin(), messages_.end(), [&](const MSG& m) {
            return Matches(m.message, filterMin, filterMax);
        });
        if (found == messages_.end()) return false;
        *message = *found;
        if (remove) messages_.erase(found);
        return true;
    }

    std::mutex mutex_;  // guards messages_
    std::condition_variable arrived_;
    std::deque<MSG> messages_;
};

// Thread id -> queue of every thread that has one. Leaked on purpose: threads
// may post and exit while the process is being torn down.
class QueueRegistry {
public:
    std::shared_ptr<MessageQueue> Find(DWORD threadId) {
        std::lock_guard lock(mutex_);
        const auto found = queues_.find(threadId);
        return found == queues_.end() ? nullptr : found->second;
    }
    void Add(DWORD threadId, std::shared_ptr<MessageQueue> queue) {
        std::lock_guard lock(mutex_);
        queues_[threadId] = std::move(queue);
    }
    void Remove(DWORD threadId) {
        std::shared_ptr<MessageQueue> queue;
        std::lock_guard lock(mutex_);
        const auto found = queues_.find(threadId);
        if (found == queues_.end()) return;
        queue = std::move(found->second);
        queues_.erase(found);
    }

private:
    std::mutex mutex_;  // guards queues_
    std::unordered_map<DWORD, std::shared_ptr<MessageQueue>> queues_;
};

QueueRegistry& Queues() {
    static QueueRegistry* const registry = new QueueRegistry;
    return *registry;
}

// The calling thread's queue. Thread ids are reused by Linux once a thread has
// gone, so the queue must leave the registry when its thread ends, whichever
// way the thread was started.
struct QueueOwner {
    std::shared_ptr<MessageQueue> queue;
    DWORD threadId = 0;
    ~QueueOwner() { Drop(); }
    void Drop() {
        if (queue) {
            Queues().Remove(threadId);
            queue.reset();
        }
    }
};
thread_local QueueOwner t_queue;

MessageQueue* CurrentQueue() {
    if (!t_queue.queue) {
        auto queue = std::make_shared<MessageQueue>();
        t_queue.threadId = GetCurrentThreadId();
        Queues().Add(t_queue.threadId, queue);
        t_queue.queue = std::move(queue);
    }
    return t_queue.queue.get();
}

class ThreadObject final : public KernelObject {
public:
    ThreadObject(LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD suspendCount)
        : start_(start), parameter_(parameter), suspendCount_(suspendCount) {}

    // Runs on the new thread; the object outlives any CloseHandle meanwhile
    // because the thread holds its own reference.
    static void* Run(void* argument) {
        std::shared_ptr<ThreadObject> self(std::move(*static_cast<std::shared_ptr<ThreadObject>*>(argument)));
        delete static_cast<std::shared_ptr<ThreadObject>*>(argument);
        {
            std::unique_lock lock(self->mutex_);
            self->threadId_ = GetCurrentThreadId();
            self->changed_.notify_all();
            self->changed_.wait(lock, [&] { return self->suspendCount_ == 0; });
        }
        const DWORD exitCode = self->start_(self->parameter_);
        // Before the handle is signalled: whoever waited for the end may rely
        // on posts to this thread id failing from now on.
        t_queue.Drop();
        {
            std::lock_guard lock(self->mutex_);
            self->exitCode_ = exitCode;
            self->ended_ = true;
        }
        self->changed_.notify_all();
        return nullptr;
    }

    DWORD WaitForThreadId() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return threadId_ != 0; });
        return threadId_;
    }

    DWORD Resume() {
        std::lock_guard lock(mutex_);
        const DWORD previous = suspendCount_;
        if (previous > 0 && --suspendCount_ == 0) changed_.notify_all();
        return previous;
    }

    DWORD ExitCode() {
        std::lock_guard lock(mutex_);
        return ended_ ? exitCode_ : STILL_ACTIVE;
    }

    DWORD Wait(DWORD milliseconds) override {
        std::unique_lock lock(mutex_);
        if (milliseconds == INFINITE) {
            changed_.wait(lock, [&] { return ended_; });
            return WAIT_OBJECT_0;
        }
        const bool ended = changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                             [&] { return ended_; });
        return ended ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }

private:
    LPTHREAD_START_ROUTINE start_;
    LPVOID parameter_;
    std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    DWORD suspendCount_;
    DWORD threadId_ = 0;
    bool ended_ = false;
    DWORD exitCode_ = STILL_ACTIVE;
};

// Windows ignores the size hint's reservation flag for our purposes; any
// other creation flag is something we do not implement.
constexpr DWORD kStackSizeIsReservation = 0x00010000u;

}  // namespace
}  // namespace qv::posix

using qv::posix::ThreadObject;

extern "C" QV_PLATFORM_API DWORD GetCurrentThreadId() {
    thread_local const DWORD id = static_cast<DWORD>(::gettid());
    return id;
}

extern "C" QV_PLATFORM_API HANDLE CreateThread(LPSECURITY_ATTRIBUTES /*attributes*/,
                                               SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                               LPVOID parameter, DWORD creationFlags,
                                               LPDWORD threadId) {
    if (start == nullptr ||
        (creationFlags & ~(CREATE_SUSPENDED | qv::posix::kStackSizeIsReservation)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<ThreadObject> thread;
    std::shared_ptr<ThreadObject>* startArgument = nullptr;
    try {
        thread = std::make_shared<ThreadObject>(start, parameter,
                                                (creationFlags & CREATE_SUSPENDED) != 0 ? 1 : 0);
        startArgument = new std::shared_ptr<ThreadObject>(thread);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Registered first, so that a handle exists before the thread can end.
    HANDLE handle = qv::posix::RegisterHandle(thread);
    if (handle == nullptr) {
        delete startArgument;
        return nullptr;
    }

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        const long page = ::sysconf(_SC_PAGESIZE);
        SIZE_T rounded = std::max<SIZE_T>(stackSize, PTHREAD_STACK_MIN);
        rounded = (rounded + static_cast<SIZE_T>(page) - 1) / static_cast<SIZE_T>(page) *
                  static_cast<SIZE_T>(page);
        pthread_attr_setstacksize(&attributes, rounded);
    }
    pthread_t native;
    const int error = ::pthread_create(&native, &attributes, &ThreadObject::Run, startArgument);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete startArgument;
        CloseHandle(handle);
        SetLastError(qv::posix::Win32ErrorFromErrno(error));
        return nullptr;
    }
    const DWORD id = thread->WaitForThreadId();
    if (threadId != nullptr) *threadId = id;
    return handle;
}

extern "C" QV_PLATFORM_API DWORD ResumeThread(HANDLE thread) {
    const auto object = qv::posix::LookupHandleAs<ThreadObject>(thread);
    if (!object) return static_cast<DWORD>(-1);
    return object->Resume();
}

extern "C" QV_PLATFORM_API BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    const auto object = qv::posix::LookupHandleAs<ThreadObject>(thread);
    if (!object) return FALSE;
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = object->ExitCode();
    return TRUE;
}

extern "C" QV_PLATFORM_API BOOL PeekMessageW(LPMSG msg, HWND window, UINT filterMin,
                                             UINT filterMax, UINT removeFlags) {
    // The queue comes into being even when the call itself fails, as the
    // first call of any message function does on Windows.
    qv::posix::MessageQueue* queue = qv::posix::CurrentQueue();
    if (window != nullptr && window != qv::posix::ThreadMessagesOnly()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (msg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return queue->Peek(msg, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

extern "C" QV_PLATFORM_API BOOL GetMessageW(LPMSG msg, HWND window, UINT filterMin,
                                            UINT filterMax) {
    qv::posix::MessageQueue* queue = qv::posix::CurrentQueue();
    if (window != nullptr && window != qv::posix::ThreadMessagesOnly()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    if (msg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    queue->Get(msg, filterMin, filterMax);
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

extern "C" QV_PLATFORM_API BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam,
                                                   LPARAM lParam) {
    const auto queue = qv::posix::Queues().Find(threadId);
    if (!queue) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    MSG posted{};
    posted.hwnd = nullptr;
    posted.message = message;
    posted.wParam = wParam;
    posted.lParam = lParam;
    posted.time = GetTickCount();
    if (!queue->Post(posted)) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return TRUE;
}

extern "C" QV_PLATFORM_API void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        ::sched_yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) ::pause();
    }
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
