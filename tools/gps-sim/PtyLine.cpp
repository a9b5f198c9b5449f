#include "tools/gps-sim/PtyLine.h"

#include "platform/posix/LineSpeed.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace tavro::gpssim {

PtyLine::~PtyLine() {
    if (master_ >= 0) {
        close(master_);
    }
}

bool PtyLine::Open(uint32_t baud, std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(master_);
    if (name == nullptr) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = name;
    // Raw before anyone opens it: an echoing terminal would hand the receiver's own output
    // back to it as commands.
    termios settings{};
    if (tcgetattr(master_, &settings) != 0) {
        error = std::string("cannot read the terminal settings: ") + std::strerror(errno);
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(master_, TCSANOW, &settings) != 0 ||
        !platform::posix::SetLineSpeed(master_, baud)) {
        error = std::string("cannot set up the terminal: ") + std::strerror(errno);
        return false;
    }
    // Open and close the slave once: from then on the master reports a hang-up whenever no
    // program has the slave open, which is how the receiver knows nobody listens.
    const int slave = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave >= 0) {
        close(slave);
    }
    return true;
}

void PtyLine::Wait(int timeoutMs, bool& readable, bool& connected) const {
    pollfd entry{master_, POLLIN, 0};
    const int ready = poll(&entry, 1, 0);
    connected = !(ready > 0 && (entry.revents & POLLHUP));
    readable = false;
    if (!connected) {
        // A hung-up master polls ready at once; sleep instead of spinning.
        poll(nullptr, 0, timeoutMs);
        return;
    }
    if (ready > 0 && (entry.revents & POLLIN)) {
        readable = true;
        return;
    }
    entry.revents = 0;
    if (poll(&entry, 1, timeoutMs) > 0) {
        connected = !(entry.revents & POLLHUP);
        readable = connected && (entry.revents & POLLIN);
    }
}

size_t PtyLine::Read(char* buffer, size_t size) const {
    const ssize_t count = read(master_, buffer, size);
    return count > 0 ? static_cast<size_t>(count) : 0;
}

size_t PtyLine::Write(const uint8_t* data, size_t size) const {
    size_t written = 0;
    while (written < size) {
        const ssize_t count = write(master_, data + written, size - written);
        if (count > 0) {
            written += static_cast<size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return written;
}

uint32_t PtyLine::LineBaud() const {
    uint32_t baud = 0;
    return platform::posix::GetLineSpeed(master_, baud) ? baud : 0;
}

} // namespace tavro::gpssim
