#include "serial/posix/system_error.h"

#include <cerrno>

#include "serial/core/comm_types.h"

namespace sio {

int SystemError(int error, bool opening) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return ERROR_FILE_NOT_FOUND;
    case EIO:
        // A device that fails while being opened is as good as absent; later
        // the same error means the device stopped working.
        return opening ? ERROR_FILE_NOT_FOUND : ERROR_GEN_FAILURE;
    case ENOTTY:
    case EISDIR:
        // A mapped path that is a regular file, a directory or /dev/null is
        // no serial port; the caller then reports "comport doesn't exist".
        if (opening)
            return ERROR_FILE_NOT_FOUND;
        return error == ENOTTY ? ERROR_INVALID_FUNCTION : ERROR_GEN_FAILURE;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EBUSY:
    case EAGAIN:  // also EWOULDBLOCK: the lock is held by another opener
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        // Includes 0: a failure must never read as success.
        return ERROR_GEN_FAILURE;
    }
}

}  // namespace sio
