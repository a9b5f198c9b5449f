// Serial ports on POSIX: the tty that the COM directory's link COM<n> names, driven through
// termios with the behaviour of the Win32 serial functions.
//
// - Sharing: every open takes a flock on the device (shared for SerialSharing::ReadWrite,
//   exclusive for SerialSharing::None), so the share modes work between our programs whatever
//   their rights. An exclusive open also sets TIOCEXCL, which keeps other programs out too
//   (except those running as root: the kernel lets them through).
// - Opening resets the line discipline to raw bytes (Windows ports have none) and, when no one
//   else holds the port, empties its input queue, as the Windows serial driver does on open.
// - The descriptor is non-blocking; the Win32 read and write time-outs are done with poll.
// - SetupComm has nothing to size on Linux: the call is accepted and changes nothing.
// - DCB fields with a termios counterpart are applied (speed, data bits, parity, stop bits,
//   CRTSCTS from fOutxCtsFlow / RTS handshake, IXON / IXOFF from fOutX / fInX, XonChar,
//   XoffChar, INPCK from fParity, DTR and RTS levels); the rest (XonLim, XoffLim, DSR flow,
//   fNull, the event characters ...) have none and are kept so that GetCommState returns what
//   was set. DTR handshake has no Linux counterpart and keeps DTR on. Speeds without a Bnnn
//   code (187500) use termios2. A speed the device rounds by more than 2 %, or a character
//   format it cannot carry (pseudo-terminals know only 8 data bits without parity), is refused
//   with error::invalidParameter and the line is left as it was.
// - Waiting in an event loop: the descriptor is the wait object for both directions.
//   WriteNoWait keeps at most lineAheadLimit bytes in the terminal's output queue, so that
//   bytes queued by the caller after a long write still reach the line soon (the caller
//   decides their order); a pseudo-terminal has no output queue and takes what fits.
// - A COM link that names a pseudo-terminal is followed only to the terminal it was made for.
//   Terminal numbers are handed out again: once the program that made the link (a simulator,
//   a pseudo-terminal bridge) is gone, the same /dev/pts/N may be somebody's login session,
//   whose modes and pending input an open here would change. A terminal made after the link
//   cannot be the one the link was made for, so it counts as absent (error::fileNotFound),
//   checked before the open and again on the opened descriptor. (A terminal's change time is
//   its creation, unless its mode is changed afterwards: `mesg` on a session's terminal does,
//   which only makes the rule stricter.) A terminal whose other end is gone refuses the open
//   by itself.
#include "platform/SerialPort.h"

#include "platform/ErrorCodes.h"
#include "platform/posix/CarrierWait.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/DcbTermios.h"
#include "platform/posix/LineSpeed.h"
#include "platform/posix/PosixErrors.h"
#include "platform/posix/TerminalDevices.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace tavro::platform {
namespace {

using posix::ErrorFromErrno;

constexpr int pollSliceMs = 100; // how soon a blocked call notices Close() from another thread
// Bytes WriteNoWait lets wait in the terminal's output queue. The terminal reports room for
// more (POLLOUT) once fewer than 256 wait, so this stays above that to wake once per chunk.
constexpr int lineAheadLimit = 512;
constexpr uint64_t noDeadline = UINT64_MAX;

// What both writes check first: false, with `result` to return, when there is no line, nothing
// to write or no bytes to take it from.
bool WriteCanStart(int fd, const void* data, uint32_t size, uint32_t& result) {
    result = fd < 0            ? error::invalidHandle
             : size == 0       ? error::success
             : data == nullptr ? error::invalidParameter
                               : error::success;
    return fd >= 0 && size != 0 && data != nullptr;
}

uint64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

uint64_t DeadlineAfter(uint64_t start, uint64_t milliseconds) {
    return milliseconds >= noDeadline - start ? noDeadline : start + milliseconds;
}

// A descriptor of /dev/null, shared by the whole process. Close() moves it onto the number of
// a closed port so that the number cannot be reused while another thread may still use it.
int NullDescriptor() {
    static const int descriptor = open("/dev/null", O_RDWR | O_CLOEXEC);
    return descriptor;
}

void SetModemLine(int fd, int line, bool on) {
    // Pseudo-terminals have no modem lines; failing here is normal for them.
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

class PosixSerialPort final : public SerialPort {
public:
    PosixSerialPort(int fd, bool exclusive) : fd_(fd), exclusive_(exclusive) {
        state_.DCBlength = sizeof(Dcb);
        state_.fDtrControl = dcb::dtrControlEnable;
        state_.fRtsControl = dcb::rtsControlEnable;
        state_.XonLim = 2048;
        state_.XoffLim = 512;
        posix::LineErrorCounts counts;
        if (posix::ReadLineErrorCounts(fd, counts)) {
            lastCounts_ = counts;
        }
    }

    ~PosixSerialPort() override {
        Close();
        if (retiredFd_ >= 0) {
            close(retiredFd_);
        }
    }

    // The kernel sizes a terminal's queues itself; the request is accepted and has no effect.
    uint32_t SetupComm(uint32_t, uint32_t) override {
        return fd_.load() < 0 ? error::invalidHandle : error::success;
    }

    uint32_t SetCommTimeouts(const CommTimeouts& timeouts) override {
        if (fd_.load() < 0) {
            return error::invalidHandle;
        }
        if (timeouts.ReadIntervalTimeout == maxTimeout &&
            timeouts.ReadTotalTimeoutMultiplier == maxTimeout &&
            timeouts.ReadTotalTimeoutConstant == maxTimeout) {
            return error::invalidParameter;
        }
        timeouts_ = timeouts;
        return error::success;
    }

    uint32_t GetCommState(Dcb& state) override {
        const int fd = fd_.load();
        if (fd < 0) {
            return error::invalidHandle;
        }
        termios settings{};
        uint32_t baud = 0;
        if (tcgetattr(fd, &settings) != 0 || !posix::GetLineSpeed(fd, baud)) {
            return ErrorFromErrno(errno);
        }
        // Start from what was set and correct it with what the line really does, which
        // another program may have changed since.
        state = state_;
        state.DCBlength = sizeof(Dcb);
        state.BaudRate = baud;
        posix::ReadDcb(settings, state);
        return error::success;
    }

    uint32_t SetCommState(const Dcb& state) override {
        const int fd = fd_.load();
        if (fd < 0) {
            return error::invalidHandle;
        }
        uint32_t result = posix::ValidateDcb(state);
        if (result != error::success) {
            return result;
        }
        termios previous{};
        uint32_t previousBaud = 0;
        if (tcgetattr(fd, &previous) != 0 || !posix::GetLineSpeed(fd, previousBaud)) {
            return ErrorFromErrno(errno);
        }
        termios settings = previous;
        posix::ApplyDcb(state, settings);
        termios applied{};
        if (tcsetattr(fd, TCSANOW, &settings) != 0) {
            result = ErrorFromErrno(errno);
        } else if (tcgetattr(fd, &applied) != 0) {
            result = ErrorFromErrno(errno);
        } else if (!posix::SameLineFormat(settings, applied)) {
            result = error::invalidParameter; // the device cannot do this character format
        }
        if (result == error::success) {
            result = ApplySpeed(fd, state.BaudRate);
        }
        if (result != error::success) {
            tcsetattr(fd, TCSANOW, &previous);
            posix::SetLineSpeed(fd, previousBaud);
            return result;
        }
        SetModemLine(fd, TIOCM_DTR, state.fDtrControl != dcb::dtrControlDisable);
        if (state.fRtsControl != dcb::rtsControlHandshake) {
            SetModemLine(fd, TIOCM_RTS, state.fRtsControl != dcb::rtsControlDisable);
        }
        state_ = state;
        state_.DCBlength = sizeof(Dcb);
        return error::success;
    }

    uint32_t ClearCommError(uint32_t& errors, ComStat& status) override {
        errors = 0;
        status = ComStat{};
        const int fd = fd_.load();
        if (fd < 0) {
            return error::invalidHandle;
        }
        int queued = 0;
        if (ioctl(fd, FIONREAD, &queued) != 0) {
            return ErrorFromErrno(errno);
        }
        int outQueued = 0;
        if (ioctl(fd, TIOCOUTQ, &outQueued) != 0) {
            outQueued = 0;
        }
        status.cbInQue = queued > 0 ? static_cast<uint32_t>(queued) : 0;
        status.cbOutQue = outQueued > 0 ? static_cast<uint32_t>(outQueued) : 0;
        // Real UARTs count line errors; the difference since the last call is what Windows
        // reports and clears here. Pseudo-terminals have no counters and report none.
        posix::LineErrorCounts counts;
        if (posix::ReadLineErrorCounts(fd, counts)) {
            if (counts.bufferOverrun != lastCounts_.bufferOverrun) {
                errors |= commError::rxOver;
            }
            if (counts.overrun != lastCounts_.overrun) {
                errors |= commError::overrun;
            }
            if (counts.parity != lastCounts_.parity) {
                errors |= commError::rxParity;
            }
            if (counts.frame != lastCounts_.frame) {
                errors |= commError::frame;
            }
            if (counts.breaks != lastCounts_.breaks) {
                errors |= commError::breakCondition;
            }
            lastCounts_ = counts;
        }
        return error::success;
    }

    uint32_t Read(void* buffer, uint32_t size, uint32_t& got) override {
        got = 0;
        int fd = fd_.load();
        if (fd < 0) {
            return error::invalidHandle;
        }
        if (size == 0) {
            return error::success;
        }
        if (buffer == nullptr) {
            return error::invalidParameter;
        }
        auto* bytes = static_cast<uint8_t*>(buffer);
        bool ended = false;
        uint32_t result = ReadAvailable(fd, bytes, size, got, ended);
        const CommTimeouts t = timeouts_;
        if (result != error::success || got == size) {
            return result;
        }
        const bool intervalOnly = t.ReadIntervalTimeout == maxTimeout;
        if (intervalOnly && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
            return error::success; // return at once with what is buffered
        }
        const uint64_t start = MonotonicMs();
        if (intervalOnly && t.ReadTotalTimeoutMultiplier == maxTimeout) {
            // Return at once with what is there, else with the first byte that arrives within
            // the constant.
            if (got > 0) {
                return error::success;
            }
            const uint64_t deadline = DeadlineAfter(start, t.ReadTotalTimeoutConstant);
            if (!WaitReady(fd, POLLIN, deadline)) {
                return fd_.load() < 0 ? error::invalidHandle : error::success;
            }
            return ReadAvailable(fd, bytes, size, got, ended);
        }
        const uint64_t total =
            static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * size + t.ReadTotalTimeoutConstant;
        const uint64_t totalDeadline = total == 0 ? noDeadline : DeadlineAfter(start, total);
        const bool useInterval = t.ReadIntervalTimeout != 0 && !intervalOnly;
        uint64_t lastByte = start;
        while (got < size) {
            uint64_t deadline = totalDeadline;
            if (useInterval && got > 0) {
                const uint64_t intervalDeadline = DeadlineAfter(lastByte, t.ReadIntervalTimeout);
                deadline = intervalDeadline < deadline ? intervalDeadline : deadline;
            }
            if (!WaitReady(fd, POLLIN, deadline)) {
                break;
            }
            uint32_t more = 0;
            result = ReadAvailable(fd, bytes + got, size - got, more, ended);
            got += more;
            if (result != error::success) {
                return result;
            }
            if (ended) {
                break; // reported readable, then end of file: the line hung up
            }
            if (more > 0) {
                lastByte = MonotonicMs();
            }
        }
        return fd_.load() < 0 ? error::invalidHandle : error::success;
    }

    uint32_t Write(const void* data, uint32_t size, uint32_t& written) override {
        written = 0;
        const int fd = fd_.load();
        if (uint32_t result = error::success; !WriteCanStart(fd, data, size, result)) {
            return result;
        }
        const auto* bytes = static_cast<const uint8_t*>(data);
        const CommTimeouts t = timeouts_;
        const uint64_t total = static_cast<uint64_t>(t.WriteTotalTimeoutMultiplier) * size +
                               t.WriteTotalTimeoutConstant;
        const uint64_t deadline = total == 0 ? noDeadline : DeadlineAfter(MonotonicMs(), total);
        while (written < size) {
            const ssize_t count = write(fd, bytes + written, size - written);
            if (count > 0) {
                written += static_cast<uint32_t>(count);
                continue;
            }
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0 && errno != EAGAIN) {
                return ErrorFromErrno(errno);
            }
            if (!WaitReady(fd, POLLOUT, deadline)) {
                break; // timed out: success with fewer bytes, as WriteFile reports it
            }
        }
        return fd_.load() < 0 ? error::invalidHandle : error::success;
    }

    WaitObject ArmArrival() override {
        const int fd = fd_.load();
        return fd < 0 ? noWaitObject : fd;
    }

    uint32_t WriteNoWait(const void* data, uint32_t size, uint32_t& accepted) override {
        accepted = 0;
        const int fd = fd_.load();
        if (uint32_t result = error::success; !WriteCanStart(fd, data, size, result)) {
            return result;
        }
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued < 0) {
            queued = 0;
        }
        if (queued >= lineAheadLimit) {
            return error::success;
        }
        const uint32_t room = static_cast<uint32_t>(lineAheadLimit - queued);
        const uint32_t wanted = size < room ? size : room;
        const auto* bytes = static_cast<const uint8_t*>(data);
        while (accepted < wanted) {
            const ssize_t count = write(fd, bytes + accepted, wanted - accepted);
            if (count > 0) {
                accepted += static_cast<uint32_t>(count);
            } else if (count < 0 && errno == EINTR) {
                continue;
            } else if (count < 0 && errno != EAGAIN) {
                return accepted > 0 ? error::success : ErrorFromErrno(errno);
            } else {
                break;
            }
        }
        return error::success;
    }

    WaitObject WriteWait() override {
        const int fd = fd_.load();
        return fd < 0 ? noWaitObject : fd;
    }

    std::unique_ptr<CarrierWatch> WatchCarrier(uint32_t& error) override {
        const int fd = fd_.load();
        if (fd < 0) {
            error = error::invalidHandle;
            return nullptr;
        }
        return posix::WatchCarrierOf(fd, error);
    }

    void Close() override {
        const int fd = fd_.exchange(-1);
        if (fd < 0) {
            return;
        }
        if (exclusive_) {
            ioctl(fd, TIOCNXCL);
        }
        // Another thread may be between loading the number and using it. Pointing the number
        // at /dev/null releases the tty (and its lock) now, and keeps the number from being
        // handed to an unrelated file until this object is destroyed.
        const int placeholder = NullDescriptor();
        if (placeholder >= 0 && dup2(placeholder, fd) == fd) {
            retiredFd_ = fd;
        } else {
            close(fd);
        }
    }

private:
    // A UART divides its clock; it may only come near the speed asked for. Within 2 % the
    // receiver at the other end still reads it, beyond that the speed counts as unsupported.
    static uint32_t ApplySpeed(int fd, uint32_t wanted) {
        uint32_t actual = 0;
        if (!posix::SetLineSpeed(fd, wanted)) {
            return errno == EINVAL ? error::invalidParameter : ErrorFromErrno(errno);
        }
        if (!posix::GetLineSpeed(fd, actual)) {
            return ErrorFromErrno(errno);
        }
        const uint64_t difference = actual > wanted ? actual - wanted : wanted - actual;
        return difference * 50 <= wanted ? error::success : error::invalidParameter;
    }

    // Reads what is queued without waiting. `ended` tells that read() returned 0, which after
    // poll() reported the line readable means that it hung up.
    static uint32_t ReadAvailable(int fd, uint8_t* bytes, uint32_t size, uint32_t& got,
                                  bool& ended) {
        got = 0;
        ended = false;
        for (;;) {
            const ssize_t count = read(fd, bytes, size);
            if (count >= 0) {
                got = static_cast<uint32_t>(count);
                ended = count == 0;
                return error::success;
            }
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN ? error::success : ErrorFromErrno(errno);
        }
    }

    // Waits until `fd` is ready for `events` or the deadline passes, in short slices so that a
    // Close() from another thread ends the wait. False on time-out or close.
    bool WaitReady(int fd, short events, uint64_t deadline) {
        for (;;) {
            if (fd_.load() != fd) {
                return false;
            }
            const uint64_t now = MonotonicMs();
            if (now >= deadline) {
                return false;
            }
            const uint64_t left = deadline - now;
            pollfd entry{fd, events, 0};
            const int ready = poll(
                &entry, 1,
                left < static_cast<uint64_t>(pollSliceMs) ? static_cast<int>(left) : pollSliceMs);
            if (ready > 0) {
                if (entry.revents & (POLLERR | POLLNVAL)) {
                    return false;
                }
                if (entry.revents & events) {
                    return true;
                }
                if (entry.revents & POLLHUP) {
                    return false; // the other end is gone; nothing more will come
                }
            } else if (ready < 0 && errno != EINTR) {
                return false;
            }
        }
    }

    std::atomic<int> fd_;
    int retiredFd_ = -1;
    const bool exclusive_;
    Dcb state_{};
    CommTimeouts timeouts_{};
    posix::LineErrorCounts lastCounts_{};
};

bool NotLater(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec <= b.tv_nsec);
}

// Whether `target`, what the link at `path` leads to, may be opened through it: anything but a
// pseudo-terminal made after the link (see the file's comment).
bool LinkLeadsToItsOwnDevice(const char* path, const struct stat& target) {
    struct stat link {};
    if (!posix::IsPseudoTerminalSlave(target) || lstat(path, &link) != 0 ||
        !S_ISLNK(link.st_mode)) {
        return true;
    }
    return NotLater(target.st_ctim, link.st_mtim);
}

// Takes the share lock; empties the input queue when no one else holds the port.
uint32_t LockPort(int fd, SerialSharing sharing) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        tcflush(fd, TCIFLUSH);
        if (sharing == SerialSharing::None) {
            ioctl(fd, TIOCEXCL);
            return error::success;
        }
        // Converting is not atomic: someone may take the port in between, which is then "in
        // use", the same answer a moment later would give.
        return flock(fd, LOCK_SH | LOCK_NB) == 0 ? error::success : error::accessDenied;
    }
    if (errno != EWOULDBLOCK) {
        return ErrorFromErrno(errno);
    }
    if (sharing == SerialSharing::None) {
        return error::accessDenied;
    }
    return flock(fd, LOCK_SH | LOCK_NB) == 0 ? error::success : error::accessDenied;
}

class PosixSerialPorts final : public SerialPorts {
public:
    std::unique_ptr<SerialPort> Open(uint32_t comNumber, SerialSharing sharing,
                                     uint32_t& error) override {
        char path[posix::comPathCapacity];
        error = comNumber == 0 ? error::fileNotFound
                               : posix::ComDirectory::FromEnvironment().LinkPath(comNumber, path);
        if (error != error::success) {
            return nullptr;
        }
        struct stat before {};
        if (stat(path, &before) == 0 && !LinkLeadsToItsOwnDevice(path, before)) {
            error = error::fileNotFound;
            return nullptr;
        }
        const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            error = ErrorFromErrno(errno);
            return nullptr;
        }
        // The terminal may have been replaced between the look and the open.
        struct stat opened {};
        if (fstat(fd, &opened) != 0 || !LinkLeadsToItsOwnDevice(path, opened)) {
            close(fd);
            error = error::fileNotFound;
            return nullptr;
        }
        termios settings{};
        if (tcgetattr(fd, &settings) != 0) {
            close(fd);
            error = error::invalidFunction; // not a serial device
            return nullptr;
        }
        error = LockPort(fd, sharing);
        if (error == error::success) {
            posix::MakeRaw(settings);
            if (tcsetattr(fd, TCSANOW, &settings) != 0) {
                error = ErrorFromErrno(errno);
            }
        }
        if (error != error::success) {
            close(fd);
            return nullptr;
        }
        std::unique_ptr<SerialPort> port(new (std::nothrow)
                                             PosixSerialPort(fd, sharing == SerialSharing::None));
        if (port == nullptr) {
            close(fd);
            error = error::notEnoughMemory;
        }
        return port;
    }
};

} // namespace

SerialPorts& SystemSerialPorts() {
    static PosixSerialPorts instance;
    return instance;
}

} // namespace tavro::platform
