// Win32 system error codes. Every platform adapter reports failures in these terms so that
// the product logic handles the same numbers on every edition.
#pragma once

#include <stdint.h>

namespace tavro::error {

inline constexpr uint32_t success = 0;
inline constexpr uint32_t invalidFunction = 1;
inline constexpr uint32_t fileNotFound = 2;
inline constexpr uint32_t pathNotFound = 3;
inline constexpr uint32_t accessDenied = 5;
inline constexpr uint32_t invalidHandle = 6;
inline constexpr uint32_t notEnoughMemory = 8;
inline constexpr uint32_t invalidData = 13;
inline constexpr uint32_t notReady = 21;
inline constexpr uint32_t genFailure = 31;
inline constexpr uint32_t sharingViolation = 32;
inline constexpr uint32_t notSupported = 50;
inline constexpr uint32_t fileExists = 80;
inline constexpr uint32_t invalidParameter = 87;
inline constexpr uint32_t diskFull = 112;
inline constexpr uint32_t insufficientBuffer = 122;
inline constexpr uint32_t semTimeout = 121;
inline constexpr uint32_t badPathName = 161;
inline constexpr uint32_t alreadyExists = 183;
inline constexpr uint32_t moreData = 234;
inline constexpr uint32_t noMoreItems = 259;
inline constexpr uint32_t mrMidNotFound = 317;
inline constexpr uint32_t operationAborted = 995;
inline constexpr uint32_t ioPending = 997;
inline constexpr uint32_t registryCorrupt = 1015;
inline constexpr uint32_t registryIoFailed = 1016;
inline constexpr uint32_t keyDeleted = 1018;
inline constexpr uint32_t serviceAlreadyRunning = 1056;
inline constexpr uint32_t serviceDisabled = 1058;
inline constexpr uint32_t serviceDoesNotExist = 1060;
inline constexpr uint32_t serviceCannotAcceptControl = 1061;
inline constexpr uint32_t serviceNotActive = 1062;
inline constexpr uint32_t serviceMarkedForDelete = 1072;
inline constexpr uint32_t serviceExists = 1073;
inline constexpr uint32_t notFound = 1168;
inline constexpr uint32_t driverBlocked = 1275;
inline constexpr uint32_t privilegeNotHeld = 1314;
inline constexpr uint32_t noSystemResources = 1450;
inline constexpr uint32_t invalidUserBuffer = 1784;
inline constexpr uint32_t badDriver = 2001;
inline constexpr uint32_t handleEof = 38;              // the other end closed
inline constexpr uint32_t socketAccessDenied = 10013;  // WSAEACCES: e.g. a port below 1024
inline constexpr uint32_t addressInUse = 10048;        // WSAEADDRINUSE
inline constexpr uint32_t addressNotAvailable = 10049; // WSAEADDRNOTAVAIL: not this machine's
inline constexpr uint32_t networkUnreachable = 10051;  // WSAENETUNREACH
inline constexpr uint32_t connectionReset = 10054;     // WSAECONNRESET
inline constexpr uint32_t timedOut = 10060;            // WSAETIMEDOUT
inline constexpr uint32_t connectionRefused = 10061;   // WSAECONNREFUSED
inline constexpr uint32_t hostNotFound = 11001;        // WSAHOST_NOT_FOUND

} // namespace tavro::error

namespace tavro::platform {

// A failure as the system reported it: the portable Win32 code the hub's logic handles and,
// beside it, the operating system's own error (errno on POSIX; on Windows the code is the
// system's own), 0 where the failure is the hub's own finding.
struct SystemError {
    uint32_t code = 0;
    int32_t osCode = 0;
};

#if defined(_WIN32)
// The adapters' codes are the system's own errors here.
inline void ClearSystemError() {}
inline SystemError SystemErrorOf(uint32_t code) {
    return {code, static_cast<int32_t>(code)};
}
#else
// The errno behind the last code a POSIX adapter made of one on this thread, as GetLastError
// keeps the last error per thread: an adapter notes it (NoteSystemError) where it maps errno,
// so that the number the system gave is not lost in the mapping.
inline thread_local SystemError lastSystemError;

inline uint32_t NoteSystemError(uint32_t code, int osCode) {
    lastSystemError = {code, osCode};
    return code;
}

// Before a call whose failure is to be told with its errno.
inline void ClearSystemError() {
    lastSystemError = {};
}

// `code` with the errno noted for it since the last ClearSystemError; osCode 0 when the code
// did not come from an errno (the hub's own finding).
inline SystemError SystemErrorOf(uint32_t code) {
    return code != 0 && lastSystemError.code == code ? lastSystemError : SystemError{code, 0};
}
#endif

} // namespace tavro::platform
