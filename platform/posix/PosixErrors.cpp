#include "platform/posix/PosixErrors.h"

#include "platform/ErrorCodes.h"

#include <cerrno>
#include <cstdio>

namespace tavro::platform::posix {

namespace {

uint32_t MapErrno(int code) {
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

} // namespace

uint32_t ErrorFromErrno(int code) {
    return code != 0 ? NoteSystemError(MapErrno(code), code) : error::success;
}

void ErrorText(uint32_t code, char (&text)[96]) {
    struct Words {
        uint32_t code;
        const char* text;
    };
    static constexpr Words words[] = {
        {error::success, "no error"},
        {error::invalidFunction, "not supported by the device"},
        {error::fileNotFound, "no such file or device"},
        {error::pathNotFound, "no such directory"},
        {error::accessDenied, "permission denied or device busy"},
        {error::invalidHandle, "not open"},
        {error::notEnoughMemory, "out of memory or file descriptors"},
        {error::invalidData, "invalid data"},
        {error::genFailure, "input/output error"},
        {error::sharingViolation, "device busy"},
        {error::notSupported, "not supported"},
        {error::fileExists, "file exists"},
        {error::invalidParameter, "invalid argument"},
        {error::diskFull, "no space left on device"},
        {error::semTimeout, "timed out"},
        {error::badPathName, "path too long"},
        {error::alreadyExists, "already exists"},
        {error::notFound, "not found"},
        {error::privilegeNotHeld, "operation not permitted"},
        {error::noSystemResources, "no buffer space available"},
        {error::socketAccessDenied, "permission denied (ports below 1024 need privileges)"},
        {error::addressInUse, "address already in use"},
        {error::addressNotAvailable, "not an address of this machine"},
        {error::networkUnreachable, "network unreachable"},
        {error::connectionReset, "connection reset"},
        {error::hostNotFound, "host not found"},
        {error::connectionRefused, "connection refused"},
        {error::timedOut, "no answer (timed out)"},
        {error::handleEof, "closed by the other end"},
    };
    for (const Words& entry : words) {
        if (entry.code == code) {
            std::snprintf(text, sizeof text, "%s", entry.text);
            return;
        }
    }
    std::snprintf(text, sizeof text, "unexpected failure (code %u)", static_cast<unsigned>(code));
}

} // namespace tavro::platform::posix
