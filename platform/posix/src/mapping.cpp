// Named and unnamed file mappings over POSIX shared memory, and their views.
//
// Only CreateFileMapping*, OpenFileMapping*, MapViewOfFile and UnmapViewOfFile
// and what they need to give named objects the Windows lifetime live here.
//
// Lifetime. A Windows section keeps its name while any process holds a handle
// of it; views keep the memory, not the name. A name in /dev/shm lives until
// someone unlinks it, and a process killed by SIGKILL unlinks nothing. The gap
// is closed with open-file-description locks on the object itself, which the
// kernel drops when the open goes away, however the process ended:
//   byte 0, exclusive  the creation lock, held only while deciding whether an
//                      object is fresh (at create/open) or dead (at release);
//   byte 1, shared     "this open holds the name", kept while a handle of the
//                      open exists (views alone do not count).
// Under the creation lock, a try-exclusive lock on byte 1 succeeds exactly when
// nobody else holds the object: a creator then starts it afresh (zero-filled,
// new size), an opener treats it as absent, and a releaser unlinks the name so
// that nothing is left in /dev/shm. Two racing creators serialise on byte 0,
// so exactly one of them sees an unheld object.
//
// Any local process can open these objects, so nothing here may wait on a lock
// another process could hold for ever: the creation lock is held by our own
// code for microseconds, and a try that has not got it after a short while
// treats the object as taken hostage (see TakeCreationLock).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "posix_internal.h"

namespace qv::posix {

int SetByteLock(int fd, short type, off_t byte, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    lock.l_pid = 0;  // required for open-file-description locks
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

namespace {

constexpr off_t kCreationLockByte = 0;
constexpr off_t kHolderLockByte = 1;
// How long to try for the creation lock. Our own holders keep it for a few
// system calls; this leaves room for a holder descheduled on a loaded machine.
constexpr auto kCreationLockPatience = std::chrono::milliseconds(500);
constexpr auto kCreationLockPoll = std::chrono::milliseconds(1);
// How often a creator replaces an object whose creation lock is held hostage.
constexpr int kHostageReplacements = 3;
// Windows places views on 64 KiB boundaries and demands offsets aligned to it.
constexpr std::uint64_t kAllocationGranularity = 64 * 1024;

bool HeldByAnotherOpen(int error) {
    return error == EAGAIN || error == EACCES;
}

// The creation lock, tried until kCreationLockPatience has passed: 0, or the
// errno of the last refusal (EAGAIN when another open kept it all along).
int TakeCreationLock(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + kCreationLockPatience;
    for (;;) {
        const int error = SetByteLock(fd, F_WRLCK, kCreationLockByte, false);
        if (!HeldByAnotherOpen(error) || std::chrono::steady_clock::now() >= deadline) return error;
        std::this_thread::sleep_for(kCreationLockPoll);
    }
}

// The named objects this process holds, for the clean-up at exit. Leaked on
// purpose, like every table the module's detach may still reach.
class LiveObjects {
public:
    void Add(SharedMemoryObject* object) {
        std::lock_guard lock(mutex_);
        objects_.insert(object);
    }
    void Remove(SharedMemoryObject* object) {
        std::lock_guard lock(mutex_);
        objects_.erase(object);
    }
    template <typename Action>
    void ForEach(Action action) {
        std::lock_guard lock(mutex_);
        for (SharedMemoryObject* object : objects_) action(*object);
    }

private:
    std::mutex mutex_;  // guards objects_
    std::set<SharedMemoryObject*> objects_;
};

LiveObjects& Live() {
    static LiveObjects* const live = new LiveObjects;
    return *live;
}

}  // namespace

// One open of a shared-memory object by this process. A named one holds its
// name (byte 1) from acquisition until ReleaseName: for a mapping, when the
// last handle of the open closes; otherwise when the object dies. Views keep
// the object (descriptor and memory) but not the name.
class SharedMemoryObject {
public:
    SharedMemoryObject(int fd, std::string shmName, std::uint64_t size)
        : fd_(fd), shmName_(std::move(shmName)), size_(size), holdsName_(!shmName_.empty()) {
        if (holdsName_) Live().Add(this);
    }
    ~SharedMemoryObject() {
        ReleaseName();
        // Closing drops whatever byte locks this open still has.
        ::close(fd_);
    }
    SharedMemoryObject(const SharedMemoryObject&) = delete;
    SharedMemoryObject& operator=(const SharedMemoryObject&) = delete;

    int Fd() const { return fd_; }
    std::uint64_t Size() const { return size_; }
    const std::string& Name() const { return shmName_; }

    void ReleaseName() {
        if (shmName_.empty()) return;
        Live().Remove(this);
        DropHold();
    }

    // This open stops holding the name; when no other open holds it, the name
    // goes. Runs once, whichever of release and exit comes first.
    void DropHold() {
        if (!holdsName_.exchange(false)) return;
        // Without the creation lock a new holder could be arriving at this very
        // moment; we would unlink the object it just joined. A lock held
        // hostage leaves the name in place: the next creator finds it unheld.
        const bool locked = TakeCreationLock(fd_) == 0;
        if (locked && SetByteLock(fd_, F_WRLCK, kHolderLockByte, false) == 0) {
            struct stat status {};
            // Nobody but a holder unlinks the name, and nobody else holds it.
            // nlink 0: a new object of the same name is none of our business.
            if (::fstat(fd_, &status) == 0 && status.st_nlink > 0) {
                ::shm_unlink(shmName_.c_str());
            }
        }
        // A view still open keeps this open alive: let byte 1 go explicitly,
        // or the name would outlive its last handle.
        SetByteLock(fd_, F_UNLCK, kHolderLockByte, false);
        SetByteLock(fd_, F_UNLCK, kCreationLockByte, false);
    }

private:
    int fd_;
    std::string shmName_;  // empty for an unnamed (memfd) object
    std::uint64_t size_;
    std::atomic<bool> holdsName_;
};

int SharedMemoryObjectFd(const SharedMemoryObject& object) { return object.Fd(); }

namespace {

// A process that exits still holding objects (without closing its handles,
// as Windows allows) would otherwise leave their names in /dev/shm until the
// next creator or opener notices that nobody holds them. This runs after the
// module's own detach, since libraries that depend on this one are finalised
// first; the handles and views stay usable.
__attribute__((destructor)) void ReleaseNamesAtExit() {
    Live().ForEach([](SharedMemoryObject& object) { object.DropHold(); });
}

// What a mapping handle names. Its end is the end of the open's last handle,
// which on Windows takes the name away even while views remain.
class FileMapping final : public KernelObject {
public:
    FileMapping(std::shared_ptr<SharedMemoryObject> object, DWORD access, std::uint64_t size)
        : object_(std::move(object)), access_(access), size_(size) {}
    ~FileMapping() override { object_->ReleaseName(); }

    const std::shared_ptr<SharedMemoryObject>& Object() const { return object_; }
    bool Allows(DWORD desiredAccess) const { return (access_ & desiredAccess) == desiredAccess; }
    std::uint64_t Size() const { return size_; }

private:
    std::shared_ptr<SharedMemoryObject> object_;
    DWORD access_;       // FILE_MAP_* rights the handle grants
    std::uint64_t size_;  // what a whole view covers: the creator's size, or the object's at open
};

// A view keeps its object's open (and so its memory) alive: on Windows a view
// outlives the handle it was made from.
struct View {
    std::shared_ptr<SharedMemoryObject> object;
    std::size_t length;
};

class ViewTable {
public:
    void Add(void* base, View view) {
        std::lock_guard lock(mutex_);
        views_.emplace(reinterpret_cast<std::uintptr_t>(base), std::move(view));
    }
    bool Remove(const void* base, View* removed) {
        std::lock_guard lock(mutex_);
        const auto found = views_.find(reinterpret_cast<std::uintptr_t>(base));
        if (found == views_.end()) return false;
        *removed = std::move(found->second);
        views_.erase(found);
        return true;
    }

private:
    std::mutex mutex_;  // guards views_
    std::map<std::uintptr_t, View> views_;
};

// Leaked on purpose: the module's detach unmaps views during process exit.
ViewTable& Views() {
    static ViewTable* const table = new ViewTable;
    return *table;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char a = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a')
                                                        : text[i];
        if (a != prefix[i]) return false;
    }
    return true;
}

}  // namespace

// "Global\NAME", "Local\NAME" or "NAME" -> "/NAME" or "/NS.NAME". There is one
// namespace on Linux; QVSNMP_NAMESPACE keeps independent runs (tests, several
// instances) apart and is read at every call so that it can change.
bool SharedMemoryName(std::string_view name, std::string* shmName) {
    if (StartsWithNoCase(name, "global\\")) {
        name.remove_prefix(7);
    } else if (StartsWithNoCase(name, "local\\")) {
        name.remove_prefix(6);
    }
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("/\\") != std::string_view::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    shmName->assign("/");
    const char* space = std::getenv("QVSNMP_NAMESPACE");
    if (space != nullptr && *space != '\0') {
        shmName->append(space).append(".");
    }
    shmName->append(name);
    return true;
}

namespace {

class DescriptorGuard {
public:
    explicit DescriptorGuard(int fd) : fd_(fd) {}
    ~DescriptorGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    DescriptorGuard(const DescriptorGuard&) = delete;
    DescriptorGuard& operator=(const DescriptorGuard&) = delete;
    int Fd() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// The object for a descriptor that is ready (locks taken, size set); the
// guard keeps the descriptor when this fails.
std::shared_ptr<SharedMemoryObject> Adopt(DescriptorGuard* guard, const std::string& shmName,
                                          std::uint64_t size) {
    try {
        auto object = std::make_shared<SharedMemoryObject>(guard->Fd(), shmName, size);
        guard->Release();
        return object;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

}  // namespace

std::shared_ptr<SharedMemoryObject> AcquireNamed(const std::string& shmName, bool create,
                                                 std::uint64_t size, mode_t mode,
                                                 bool* created) {
    int hostages = 0;
    for (;;) {
        const int fd = ::shm_open(shmName.c_str(), O_RDWR | (create ? O_CREAT : 0), mode);
        if (fd < 0) {
            SetLastErrorFromErrno();
            return nullptr;
        }
        DescriptorGuard guard(fd);
        if (const int error = TakeCreationLock(fd)) {
            // Held hostage. A creator puts a fresh object under the name (the
            // hostage taker keeps the old one to itself); an opener fails.
            if (create && HeldByAnotherOpen(error) && hostages++ < kHostageReplacements) {
                ::shm_unlink(shmName.c_str());
                continue;
            }
            SetLastError(Win32ErrorFromErrno(error));
            return nullptr;
        }
        struct stat status {};
        if (::fstat(fd, &status) != 0) {
            SetLastErrorFromErrno();
            return nullptr;
        }
        if (status.st_nlink == 0) {
            // Its last holder unlinked it while we waited for the creation
            // lock; the name may already lead to a newer object.
            continue;
        }
        const int exclusive = SetByteLock(fd, F_WRLCK, kHolderLockByte, false);
        if (exclusive != 0 && !HeldByAnotherOpen(exclusive)) {
            SetLastError(Win32ErrorFromErrno(exclusive));
            return nullptr;
        }
        if (exclusive != 0) {
            // Held elsewhere: join it. Nobody holds byte 1 exclusively outside
            // the creation lock, which we have, so the shared lock is granted.
            if (const int error = SetByteLock(fd, F_RDLCK, kHolderLockByte, false)) {
                SetLastError(Win32ErrorFromErrno(error));
                return nullptr;
            }
            SetByteLock(fd, F_UNLCK, kCreationLockByte, false);
            *created = false;
            return Adopt(&guard, shmName, static_cast<std::uint64_t>(status.st_size));
        }
        // Nobody holds it: what is in /dev/shm was left by holders that are gone
        // (killed, say) and does not exist in the Windows sense.
        if (!create) {
            ::shm_unlink(shmName.c_str());
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        if (::fchmod(fd, mode) != 0) {
            if (errno != EPERM) {
                SetLastErrorFromErrno();
                return nullptr;
            }
            // A leftover of another user: replace it by one of our own.
            ::shm_unlink(shmName.c_str());
            continue;
        }
        if (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
            SetLastErrorFromErrno();
            ::shm_unlink(shmName.c_str());
            return nullptr;
        }
        if (const int error = SetByteLock(fd, F_RDLCK, kHolderLockByte, false)) {
            SetLastError(Win32ErrorFromErrno(error));
            ::shm_unlink(shmName.c_str());
            return nullptr;
        }
        SetByteLock(fd, F_UNLCK, kCreationLockByte, false);
        *created = true;
        return Adopt(&guard, shmName, size);
    }
}

namespace {

std::shared_ptr<SharedMemoryObject> CreateUnnamed(std::uint64_t size) {
    const int fd = ::memfd_create("qvsnmp-mapping", MFD_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return nullptr;
    }
    DescriptorGuard guard(fd);
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        SetLastErrorFromErrno();
        return nullptr;
    }
    return Adopt(&guard, std::string(), size);
}

HANDLE CreateMapping(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                     DWORD maximumSizeHigh, DWORD maximumSizeLow, const char* name) {
    if (file != INVALID_HANDLE_VALUE) {
        // Mappings of real files are not something the module needs.
        if (LookupHandle(file)) SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    DWORD access = 0;
    if (protect == PAGE_READWRITE) {
        access = FILE_MAP_READ | FILE_MAP_WRITE | FILE_MAP_COPY;
    } else if (protect == PAGE_READONLY) {
        access = FILE_MAP_READ | FILE_MAP_COPY;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::uint64_t size =
        (static_cast<std::uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
    if (size == 0 || size > static_cast<std::uint64_t>(INT64_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<SharedMemoryObject> object;
    bool created = true;
    if (name == nullptr) {
        object = CreateUnnamed(size);
    } else {
        std::string shmName;
        if (!SharedMemoryName(name, &shmName)) return nullptr;
        object = AcquireNamed(shmName, true, size, NamedObjectMode(attributes), &created);
    }
    if (!object) return nullptr;
    // A creator that joins an existing object still views the size it asked
    // for, or nothing: a smaller view would be read past its end by a caller
    // that trusts its own size (see MapViewOfFile).
    HANDLE handle = RegisterNew<FileMapping>(std::move(object), access, size);
    if (handle == nullptr) return nullptr;
    // ERROR_ALREADY_EXISTS is information for the caller, not a failure.
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
}

HANDLE OpenMapping(DWORD desiredAccess, const char* name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string shmName;
    if (!SharedMemoryName(name, &shmName)) return nullptr;
    DWORD access = desiredAccess & (FILE_MAP_READ | FILE_MAP_WRITE | FILE_MAP_COPY);
    // Write access to a section includes reading it.
    if ((access & FILE_MAP_WRITE) != 0) access |= FILE_MAP_READ;
    bool created = false;
    auto object = AcquireNamed(shmName, false, 0, 0, &created);
    if (!object) return nullptr;
    const std::uint64_t size = object->Size();
    HANDLE handle = RegisterNew<FileMapping>(std::move(object), access, size);
    if (handle != nullptr) SetLastError(ERROR_SUCCESS);
    return handle;
}

}  // namespace
}  // namespace qv::posix

using qv::posix::FileMapping;
using qv::posix::View;

extern "C" QV_PLATFORM_API HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes,
                                                     DWORD protect, DWORD maximumSizeHigh,
                                                     DWORD maximumSizeLow, LPCSTR name) {
    return qv::posix::CreateMapping(file, attributes, protect, maximumSizeHigh, maximumSizeLow,
                                    name);
}

extern "C" QV_PLATFORM_API HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES attributes,
                                                     DWORD protect, DWORD maximumSizeHigh,
                                                     DWORD maximumSizeLow, LPCWSTR name) {
    return qv::posix::WithUtf8Name(name, [&](const char* narrow) {
        return qv::posix::CreateMapping(file, attributes, protect, maximumSizeHigh, maximumSizeLow,
                                        narrow);
    });
}

extern "C" QV_PLATFORM_API HANDLE OpenFileMappingA(DWORD desiredAccess, BOOL /*inheritHandle*/,
                                                   LPCSTR name) {
    return qv::posix::OpenMapping(desiredAccess, name);
}

extern "C" QV_PLATFORM_API HANDLE OpenFileMappingW(DWORD desiredAccess, BOOL /*inheritHandle*/,
                                                   LPCWSTR name) {
    return qv::posix::WithUtf8Name(
        name, [&](const char* narrow) { return qv::posix::OpenMapping(desiredAccess, narrow); });
}

extern "C" QV_PLATFORM_API LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess,
                                                DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
    const auto section = qv::posix::LookupHandleAs<FileMapping>(mapping);
    if (!section) return nullptr;

    int protection = 0;
    int flags = MAP_SHARED;
    DWORD needed = 0;
    if ((desiredAccess & FILE_MAP_WRITE) != 0) {
        protection = PROT_READ | PROT_WRITE;
        needed = FILE_MAP_WRITE;
    } else if ((desiredAccess & FILE_MAP_READ) != 0) {
        protection = PROT_READ;
        needed = FILE_MAP_READ;
    } else if ((desiredAccess & FILE_MAP_COPY) != 0) {
        protection = PROT_READ | PROT_WRITE;
        flags = MAP_PRIVATE;
        needed = FILE_MAP_COPY;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!section->Allows(needed)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }

    const std::uint64_t offset = (static_cast<std::uint64_t>(offsetHigh) << 32) | offsetLow;
    if (offset % qv::posix::kAllocationGranularity != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    const std::uint64_t size = section->Size();
    if (offset >= size || bytes > size - offset) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const std::size_t length = bytes != 0 ? bytes : static_cast<std::size_t>(size - offset);
    // Another process may have made the object smaller than the handle says
    // (created it small in advance, or truncated it since): Windows refuses a
    // view larger than its section, and so do we.
    struct stat status {};
    if (::fstat(section->Object()->Fd(), &status) != 0 ||
        static_cast<std::uint64_t>(status.st_size) < offset + length) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }

    void* base = ::mmap(nullptr, length, protection, flags, section->Object()->Fd(),
                        static_cast<off_t>(offset));
    if (base == MAP_FAILED) {
        qv::posix::SetLastErrorFromErrno();
        return nullptr;
    }
    try {
        qv::posix::Views().Add(base, View{section->Object(), length});
    } catch (const std::bad_alloc&) {
        ::munmap(base, length);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    qv::posix::GuardView(base, length, section->Object()->Fd(), offset + length,
                         section->Object()->Name());
    return base;
}

extern "C" QV_PLATFORM_API BOOL UnmapViewOfFile(LPCVOID base) {
    View view;
    if (!qv::posix::Views().Remove(base, &view)) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    qv::posix::UnguardView(base);
    ::munmap(const_cast<void*>(base), view.length);
    // view.object goes out of scope here; if it was the last user of the open,
    // the object may die now, outside the table lock.
    return TRUE;
}
