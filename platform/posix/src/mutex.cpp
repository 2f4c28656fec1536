// Named and unnamed Win32 mutexes.
//
// Only CreateMutex*, OpenMutex*, ReleaseMutex and the mutex side of
// WaitForSingleObject live here.
//
// Between processes. A named mutex is a small object in /dev/shm that each
// process holds open under the lifetime rules of named mappings (mapping.cpp,
// byte locks 0 and 1), so the name disappears with its last holder. Owning the
// mutex is holding an exclusive open-file-description lock on byte 2 of that
// object; the kernel drops it when the owner's process ends, however it ends.
// That alone cannot tell a release from a death, so the object also carries an
// owner record: the owner sets it right after taking byte 2, and ReleaseMutex
// clears it before letting byte 2 go. A taker that finds the record still set
// knows that the previous owner never released: WAIT_ABANDONED.
//
// Within a process. Every handle of one name in a process shares one object
// (one open: two opens of the same process would exclude each other even for
// the owning thread). Among the process's threads an owner field with a
// recursion count decides, as Win32 mutexes are owned by a thread; only the
// owning thread's turn holds byte 2. A thread that ends while it owns a mutex
// abandons it, as on Windows.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "posix_internal.h"

namespace qv::posix {
namespace {

constexpr off_t kOwnershipLockByte = 2;
constexpr std::uint64_t kObjectSize = 4096;
constexpr off_t kOwnerRecordOffset = 64;
// While another process owns the mutex, a timed wait retries this often.
constexpr auto kTimedWaitPoll = std::chrono::milliseconds(1);

struct OwnerRecord {
    std::uint32_t owned;  // 1 from take to release
    std::int32_t pid;     // for whoever inspects the object by hand
    std::uint64_t thread;
};

using Clock = std::chrono::steady_clock;

int OwnershipLock(int fd, short type, bool wait) {
    return SetByteLock(fd, type, kOwnershipLockByte, wait);
}

class Mutex;

// The mutexes the current thread has taken, so that its end can abandon those
// it still owns. Entries stay until the thread ends; a mutex the thread let go
// is skipped then.
class OwnedByThisThread {
public:
    ~OwnedByThisThread();
    void Remember(const std::shared_ptr<Mutex>& mutex, DWORD thread);

private:
    DWORD thread_ = 0;  // taken at first use: the id may be gone at thread end
    std::vector<std::weak_ptr<Mutex>> mutexes_;
};

thread_local OwnedByThisThread t_owned;

class Mutex : public std::enable_shared_from_this<Mutex> {
public:
    // `object` is null for an unnamed mutex, which needs no cross-process part.
    explicit Mutex(std::shared_ptr<SharedMemoryObject> object) : object_(std::move(object)) {}

    DWORD Acquire(DWORD milliseconds) {
        const DWORD self = GetCurrentThreadId();
        const bool forever = milliseconds == INFINITE;
        const auto deadline = forever ? Clock::time_point::max()
                                      : Clock::now() + std::chrono::milliseconds(milliseconds);
        std::unique_lock lock(mutex_);
        if (owner_ == self) {
            ++recursion_;
            return WAIT_OBJECT_0;
        }
        while (owner_ != 0) {
            if (forever) {
                free_.wait(lock);
            } else if (free_.wait_until(lock, deadline) == std::cv_status::timeout && owner_ != 0) {
                return WAIT_TIMEOUT;
            }
        }
        // The process's turn is ours; the other threads of this process wait
        // on free_ while we compete with other processes outside the lock.
        owner_ = self;
        lock.unlock();
        bool abandoned = false;
        if (object_) {
            const DWORD taken = TakeOwnershipLock(forever, deadline);
            if (taken != WAIT_OBJECT_0) {
                lock.lock();
                owner_ = 0;
                free_.notify_one();
                return taken;
            }
            abandoned = SwapOwnerRecord(OwnerRecord{1, static_cast<std::int32_t>(::getpid()), self});
        }
        lock.lock();
        recursion_ = 1;
        abandoned = std::exchange(abandonedHere_, false) || abandoned;
        lock.unlock();
        try {
            t_owned.Remember(shared_from_this(), self);
        } catch (const std::bad_alloc&) {
            // Without the entry a thread ending as owner keeps the mutex owned
            // until its process ends; ownership itself is unaffected.
        }
        return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }

    bool Release() {
        std::lock_guard lock(mutex_);
        if (owner_ != GetCurrentThreadId() || recursion_ == 0) {
            SetLastError(ERROR_NOT_OWNER);
            return false;
        }
        if (--recursion_ > 0) return true;
        if (object_) {
            // SYNC POINT: the record is cleared before byte 2 is let go, so
            // the next owner never mistakes a proper release for a death.
            SwapOwnerRecord(OwnerRecord{0, 0, 0});
            OwnershipLock(Fd(), F_UNLCK, false);
        }
        owner_ = 0;
        free_.notify_one();
        return true;
    }

    // A thread ends: if it still owns the mutex, the next taker is told so.
    void AbandonIfOwnedBy(DWORD thread) {
        std::lock_guard lock(mutex_);
        if (owner_ != thread || recursion_ == 0) return;
        recursion_ = 0;
        owner_ = 0;
        if (object_) {
            // The record stays set: the next taker, here or elsewhere, reads it.
            OwnershipLock(Fd(), F_UNLCK, false);
        } else {
            abandonedHere_ = true;
        }
        free_.notify_one();
    }

private:
    int Fd() const { return SharedMemoryObjectFd(*object_); }

    DWORD TakeOwnershipLock(bool forever, Clock::time_point deadline) {
        if (forever) {
            const int error = OwnershipLock(Fd(), F_WRLCK, true);
            if (error == 0) return WAIT_OBJECT_0;
            SetLastError(Win32ErrorFromErrno(error));
            return WAIT_FAILED;
        }
        // There is no timed form of the lock request: try, then sleep a little.
        for (;;) {
            const int error = OwnershipLock(Fd(), F_WRLCK, false);
            if (error == 0) return WAIT_OBJECT_0;
            if (error != EAGAIN && error != EACCES) {
                SetLastError(Win32ErrorFromErrno(error));
                return WAIT_FAILED;
            }
            const auto now = Clock::now();
            if (now >= deadline) return WAIT_TIMEOUT;
            std::this_thread::sleep_for(std::min<Clock::duration>(kTimedWaitPoll, deadline - now));
        }
    }

    // Writes `next` and reports whether the record was set before. Called only
    // while holding byte 2, which orders all readers and writers of the record.
    bool SwapOwnerRecord(const OwnerRecord& next) {
        OwnerRecord previous{};
        if (::pread(Fd(), &previous, sizeof previous, kOwnerRecordOffset) != sizeof previous) {
            previous = OwnerRecord{};
        }
        ::pwrite(Fd(), &next, sizeof next, kOwnerRecordOffset);
        return previous.owned != 0;
    }

    std::shared_ptr<SharedMemoryObject> object_;
    std::mutex mutex_;  // guards owner_, recursion_ and abandonedHere_
    std::condition_variable free_;
    DWORD owner_ = 0;    // thread whose turn it is (also while it waits for byte 2)
    LONG recursion_ = 0;
    bool abandonedHere_ = false;  // unnamed mutex left by an ended thread
};

OwnedByThisThread::~OwnedByThisThread() {
    for (const auto& entry : mutexes_) {
        if (const auto mutex = entry.lock()) mutex->AbandonIfOwnedBy(thread_);
    }
}

void OwnedByThisThread::Remember(const std::shared_ptr<Mutex>& mutex, DWORD thread) {
    thread_ = thread;
    for (auto& entry : mutexes_) {
        const auto known = entry.lock();
        if (known == mutex) return;
        if (!known) {
            entry = mutex;
            return;
        }
    }
    mutexes_.push_back(mutex);
}

class MutexHandle final : public KernelObject {
public:
    explicit MutexHandle(std::shared_ptr<Mutex> mutex) : mutex_(std::move(mutex)) {}
    DWORD Wait(DWORD milliseconds) override { return mutex_->Acquire(milliseconds); }
    bool Release() { return mutex_->Release(); }

private:
    std::shared_ptr<Mutex> mutex_;
};

// The named mutexes this process has open, so that all its handles of one
// name share one open. Leaked on purpose, like the other process-wide tables.
class NamedMutexes {
public:
    // The process's mutex of that name, or a new one; null (last error set)
    // when the object cannot be had. `existed` tells whether it was there.
    std::shared_ptr<Mutex> Get(const std::string& shmName, bool create, mode_t mode, bool* existed) {
        std::lock_guard lock(mutex_);
        if (auto known = mutexes_[shmName].lock()) {
            *existed = true;
            return known;
        }
        bool created = false;
        auto object = AcquireNamed(shmName, create, kObjectSize, mode, &created);
        if (!object) {
            mutexes_.erase(shmName);
            return nullptr;
        }
        auto mutex = std::make_shared<Mutex>(std::move(object));
        mutexes_[shmName] = mutex;
        *existed = !created;
        return mutex;
    }

private:
    std::mutex mutex_;  // guards mutexes_
    std::map<std::string, std::weak_ptr<Mutex>> mutexes_;
};

NamedMutexes& Named() {
    static NamedMutexes* const named = new NamedMutexes;
    return *named;
}

HANDLE CreateMutexNamed(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, const char* name) {
    std::shared_ptr<Mutex> mutex;
    bool existed = false;
    try {
        if (name == nullptr) {
            mutex = std::make_shared<Mutex>(nullptr);
        } else {
            std::string shmName;
            if (!SharedMemoryName(name, &shmName)) return nullptr;
            mutex = Named().Get(shmName, true, NamedObjectMode(attributes), &existed);
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!mutex) return nullptr;
    HANDLE handle = RegisterNew<MutexHandle>(mutex);
    if (handle == nullptr) return nullptr;
    // Only the creator of a mutex gets the initial ownership it asks for.
    if (initialOwner != FALSE && !existed) mutex->Acquire(INFINITE);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE OpenMutexNamed(const char* name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string shmName;
    if (!SharedMemoryName(name, &shmName)) return nullptr;
    bool existed = false;
    std::shared_ptr<Mutex> mutex;
    try {
        mutex = Named().Get(shmName, false, 0, &existed);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!mutex) return nullptr;
    HANDLE handle = RegisterNew<MutexHandle>(std::move(mutex));
    if (handle != nullptr) SetLastError(ERROR_SUCCESS);
    return handle;
}

}  // namespace
}  // namespace qv::posix

extern "C" QV_PLATFORM_API HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner,
                                               LPCSTR name) {
    return qv::posix::CreateMutexNamed(attributes, initialOwner, name);
}

extern "C" QV_PLATFORM_API HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner,
                                               LPCWSTR name) {
    return qv::posix::WithUtf8Name(name, [&](const char* narrow) {
        return qv::posix::CreateMutexNamed(attributes, initialOwner, narrow);
    });
}

extern "C" QV_PLATFORM_API HANDLE OpenMutexA(DWORD /*desiredAccess*/, BOOL /*inheritHandle*/,
                                             LPCSTR name) {
    return qv::posix::OpenMutexNamed(name);
}

extern "C" QV_PLATFORM_API HANDLE OpenMutexW(DWORD /*desiredAccess*/, BOOL /*inheritHandle*/,
                                             LPCWSTR name) {
    return qv::posix::WithUtf8Name(name, &qv::posix::OpenMutexNamed);
}

extern "C" QV_PLATFORM_API BOOL ReleaseMutex(HANDLE mutex) {
    const auto object = qv::posix::LookupHandleAs<qv::posix::MutexHandle>(mutex);
    if (!object) return FALSE;
    return object->Release() ? TRUE : FALSE;
}
