// Last-error storage and the one errno -> Win32 error translation.
//
// Only the per-thread last error and the mapping of errno values belong here;
// every other file of the backend reports failures through these functions.
#include <cerrno>

#include "posix_internal.h"

namespace {

// Windows keeps the last error per thread; so do we.
thread_local DWORD t_lastError = ERROR_SUCCESS;

}  // namespace

extern "C" QV_PLATFORM_API DWORD GetLastError() {
    return t_lastError;
}

extern "C" QV_PLATFORM_API void SetLastError(DWORD error) {
    t_lastError = error;
}

namespace qv::posix {

DWORD Win32ErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY:
            return ERROR_ACCESS_DENIED;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
        case EAGAIN:
            return ERROR_NOT_ENOUGH_MEMORY;
        case ENOSYS:
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case EINVAL:
        case ESPIPE:
            return ERROR_INVALID_PARAMETER;
        case ENOSPC:
        case EFBIG:
            return ERROR_DISK_FULL;
        case EDQUOT:
            return ERROR_NOT_ENOUGH_QUOTA;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EFAULT:
            return ERROR_INVALID_ADDRESS;
        case ESRCH:
            return ERROR_INVALID_THREAD_ID;
        default:
            return ERROR_GEN_FAILURE;
    }
}

void SetLastErrorFromErrno() {
    SetLastError(Win32ErrorFromErrno(errno));
}

}  // namespace qv::posix
