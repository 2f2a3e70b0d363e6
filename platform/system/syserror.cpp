#include "sky/syserror.h"

#include <cerrno>

#include "win/errors.h"

namespace sky {

DWORD win32ErrorFromErrno(int error) {
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case EBUSY:
        return ERROR_BUSY;
    case ENOEXEC:
        return ERROR_BAD_EXE_FORMAT;
    case E2BIG:
        return ERROR_BAD_ENVIRONMENT;
    case EPIPE:
        return ERROR_BROKEN_PIPE;
    case ELOOP:
        return ERROR_CANT_RESOLVE_FILENAME;
    case EAGAIN:
    case EMFILE:
    case ENFILE:
        return ERROR_NO_SYSTEM_RESOURCES;
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case ETIMEDOUT:
        return ERROR_TIMEOUT;
    case ENOSYS:
    case ENOTSUP:
        return ERROR_NOT_SUPPORTED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace sky
