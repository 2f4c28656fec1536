// Files on a mapped C: drive: path translation, CreateFile and file I/O.
//
// Only the translation of Windows paths and the Win32 file calls live here;
// the text-mode trace stream built on the same translation is trace_file.cpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>

#include "posix_internal.h"
#include "qv_platform.h"

namespace qv::posix {
namespace {

constexpr const char* kDefaultDriveC = "/var/lib/qvsnmp/drive_c";

std::string DriveCRoot() {
    const char* root = std::getenv("QVSNMP_DRIVE_C");
    std::string result = root != nullptr && *root != '\0' ? root : kDefaultDriveC;
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

std::string WithSlashes(std::string_view path) {
    std::string result(path);
    for (char& c : result) {
        if (c == '\\') c = '/';
    }
    return result;
}

class File final : public KernelObject {
public:
    File(int fd, DWORD access) : fd_(fd), access_(access) {}
    ~File() override { ::close(fd_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    int Fd() const { return fd_; }
    bool CanRead() const { return (access_ & GENERIC_READ) != 0; }
    bool CanWrite() const { return (access_ & GENERIC_WRITE) != 0; }

private:
    int fd_;
    DWORD access_;
};

bool DirectoryExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// ENOENT from open means either the file or a directory above it is missing;
// Windows tells the two apart.
DWORD MissingPathError(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;
    const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
    return DirectoryExists(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

int OpenFlags(DWORD access) {
    const bool read = (access & GENERIC_READ) != 0;
    const bool write = (access & GENERIC_WRITE) != 0;
    if (write) return read ? O_RDWR : O_WRONLY;
    return O_RDONLY;
}

HANDLE OpenFile(const char* windowsPath, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                DWORD disposition) {
    if (windowsPath == nullptr || *windowsPath == '\0') {
        SetLastError(windowsPath == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
        (disposition == TRUNCATE_EXISTING && (access & GENERIC_WRITE) == 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = TranslatePath(windowsPath);
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    // Windows does not hand handles to child processes unless asked to.
    const int inherit = attributes != nullptr && attributes->bInheritHandle ? 0 : O_CLOEXEC;
    const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    // Truncating needs write access to the file even where the caller asked
    // only to read, as CREATE_ALWAYS does on Windows.
    const int base = (truncates ? O_RDWR : OpenFlags(access)) | inherit;
    int fd = -1;
    bool existed = false;
    for (;;) {
        if (disposition != CREATE_NEW) {
            fd = ::open(path.c_str(), base | (truncates ? O_TRUNC : 0));
            if (fd >= 0) {
                existed = true;
                break;
            }
            if (errno != ENOENT || disposition == OPEN_EXISTING ||
                disposition == TRUNCATE_EXISTING) {
                break;
            }
        }
        // New files get 0666 less the umask, like any program's files here.
        fd = ::open(path.c_str(), base | O_CREAT | O_EXCL, 0666);
        // Lost a race with another creator: open what it made instead.
        if (fd < 0 && errno == EEXIST && disposition != CREATE_NEW) continue;
        break;
    }
    if (fd < 0) {
        const int error = errno;
        SetLastError(error == ENOENT ? MissingPathError(path) : Win32ErrorFromErrno(error));
        return INVALID_HANDLE_VALUE;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        // Directories need FILE_FLAG_BACKUP_SEMANTICS on Windows; we have none.
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    std::shared_ptr<File> file;
    try {
        file = std::make_shared<File>(fd, access);
    } catch (const std::bad_alloc&) {
        ::close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = RegisterHandle(std::move(file));
    if (handle == nullptr) return INVALID_HANDLE_VALUE;
    const bool reportsExisting = disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS;
    SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

}  // namespace

// C: is a directory of its own (QVSNMP_DRIVE_C, read at every call so that
// tests and instances can each have one); Z: is the Linux root, as Windows
// compatibility layers present it; a Linux absolute path is taken as is.
// Other drives and UNC paths have no place on this system.
std::string TranslatePath(std::string_view windowsPath) {
    if (windowsPath.size() >= 2 && windowsPath[1] == ':') {
        const char drive = windowsPath[0];
        std::string_view rest = windowsPath.substr(2);
        while (!rest.empty() && (rest.front() == '\\' || rest.front() == '/')) {
            rest.remove_prefix(1);
        }
        if (drive == 'c' || drive == 'C') {
            return DriveCRoot() + "/" + WithSlashes(rest);
        }
        if (drive == 'z' || drive == 'Z') {
            return "/" + WithSlashes(rest);
        }
        return std::string();
    }
    if (windowsPath.size() >= 2 && (windowsPath[0] == '\\' || windowsPath[0] == '/') &&
        (windowsPath[1] == '\\')) {
        return std::string();
    }
    return WithSlashes(windowsPath);
}

}  // namespace qv::posix

namespace qv::platform {

std::string NativePath(std::string_view windowsPath) {
    return qv::posix::TranslatePath(windowsPath);
}

}  // namespace qv::platform

using qv::posix::File;

// Share modes are accepted and not enforced: Linux has no mandatory file
// locking to express them, and advisory locks would bind only processes that
// asked for them. The module only ever shares for reading.
extern "C" QV_PLATFORM_API HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD /*shareMode*/,
                                              LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
                                              DWORD /*flags*/, HANDLE /*templateFile*/) {
    return qv::posix::OpenFile(path, access, attributes, disposition);
}

extern "C" QV_PLATFORM_API HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD /*shareMode*/,
                                              LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
                                              DWORD /*flags*/, HANDLE /*templateFile*/) {
    if (path == nullptr) return qv::posix::OpenFile(nullptr, access, attributes, disposition);
    const std::string narrow = qv::posix::Utf8FromWide(path);
    return qv::posix::OpenFile(narrow.c_str(), access, attributes, disposition);
}

extern "C" QV_PLATFORM_API BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite,
                                          LPDWORD bytesWritten, LPOVERLAPPED overlapped) {
    if (bytesWritten != nullptr) *bytesWritten = 0;
    const auto object = qv::posix::LookupHandleAs<File>(file);
    if (!object) return FALSE;
    if (overlapped != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (!object->CanWrite()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (buffer == nullptr && bytesToWrite != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char* data = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < bytesToWrite) {
        const ssize_t put = ::write(object->Fd(), data + done, bytesToWrite - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            qv::posix::SetLastErrorFromErrno();
            if (bytesWritten != nullptr) *bytesWritten = done;
            return FALSE;
        }
        done += static_cast<DWORD>(put);
    }
    if (bytesWritten != nullptr) *bytesWritten = done;
    return TRUE;
}

extern "C" QV_PLATFORM_API BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead,
                                         LPDWORD bytesRead, LPOVERLAPPED overlapped) {
    if (bytesRead != nullptr) *bytesRead = 0;
    const auto object = qv::posix::LookupHandleAs<File>(file);
    if (!object) return FALSE;
    if (overlapped != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (!object->CanRead()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (buffer == nullptr && bytesToRead != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char* data = static_cast<char*>(buffer);
    DWORD done = 0;
    // Reading at the end of a file succeeds with 0 bytes, as on Windows.
    while (done < bytesToRead) {
        const ssize_t got = ::read(object->Fd(), data + done, bytesToRead - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            qv::posix::SetLastErrorFromErrno();
            if (bytesRead != nullptr) *bytesRead = done;
            return FALSE;
        }
        if (got == 0) break;
        done += static_cast<DWORD>(got);
    }
    if (bytesRead != nullptr) *bytesRead = done;
    return TRUE;
}

extern "C" QV_PLATFORM_API DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh,
                                                DWORD method) {
    const auto object = qv::posix::LookupHandleAs<File>(file);
    if (!object) return INVALID_SET_FILE_POINTER;
    int whence = SEEK_SET;
    switch (method) {
        case FILE_BEGIN: whence = SEEK_SET; break;
        case FILE_CURRENT: whence = SEEK_CUR; break;
        case FILE_END: whence = SEEK_END; break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the distance is a signed 32-bit number; with one,
    // the two form a signed 64-bit distance.
    const std::int64_t move =
        distanceHigh == nullptr
            ? static_cast<std::int64_t>(distance)
            : static_cast<std::int64_t>((static_cast<std::uint64_t>(
                                             static_cast<std::uint32_t>(*distanceHigh))
                                         << 32) |
                                        static_cast<std::uint32_t>(distance));
    const off_t current = ::lseek(object->Fd(), 0, SEEK_CUR);
    off_t origin = 0;
    if (whence == SEEK_CUR) {
        origin = current;
    } else if (whence == SEEK_END) {
        struct stat status {};
        if (::fstat(object->Fd(), &status) != 0) {
            qv::posix::SetLastErrorFromErrno();
            return INVALID_SET_FILE_POINTER;
        }
        origin = status.st_size;
    }
    const std::int64_t target = static_cast<std::int64_t>(origin) + move;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh == nullptr && target > static_cast<std::int64_t>(0xFFFFFFFEu)) {
        // The result could not be told apart from INVALID_SET_FILE_POINTER.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (::lseek(object->Fd(), static_cast<off_t>(target), SEEK_SET) < 0) {
        qv::posix::SetLastErrorFromErrno();
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(target >> 32);
    // Callers with a high part must check the last error when the low part
    // happens to equal INVALID_SET_FILE_POINTER.
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target & 0xFFFFFFFF);
}

extern "C" QV_PLATFORM_API BOOL FlushFileBuffers(HANDLE file) {
    const auto object = qv::posix::LookupHandleAs<File>(file);
    if (!object) return FALSE;
    if (!object->CanWrite()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (::fsync(object->Fd()) != 0) {
        qv::posix::SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

extern "C" QV_PLATFORM_API DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    const auto object = qv::posix::LookupHandleAs<File>(file);
    if (!object) return INVALID_FILE_SIZE;
    struct stat status {};
    if (::fstat(object->Fd(), &status) != 0) {
        qv::posix::SetLastErrorFromErrno();
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size & 0xFFFFFFFF);
}
