#include "platform/posix/PosixErrors.h"

#include "platform/ErrorCodes.h"

#include <cerrno>

namespace tavro::platform::posix {

uint32_t ErrorFromErrno(int code) {
    switch (code) {
    case 0:
        return error::success;
    case ENOENT:
    case ENXIO: // a device node without a device behind it, e.g. an unplugged adapter
    case ENODEV:
        return error::fileNotFound;
    case ENOTDIR:
    case ELOOP:
        return error::pathNotFound;
    case EACCES:
    case EPERM:
    case EBUSY: // a tty held with TIOCEXCL
    case EWOULDBLOCK:
    case EROFS:
        return error::accessDenied;
    case EBADF:
        return error::invalidHandle;
    case ENOMEM:
    case ENOSPC:
    case EMFILE:
    case ENFILE:
        return error::notEnoughMemory;
    case EINVAL:
        return error::invalidParameter;
    case ENAMETOOLONG:
        return error::badPathName;
    case EEXIST:
        return error::alreadyExists;
    case ENOTTY:
    case ENOTSUP:
        return error::invalidFunction;
    case ETIMEDOUT:
        return error::semTimeout;
    default:
        return error::genFailure;
    }
}

} // namespace tavro::platform::posix
