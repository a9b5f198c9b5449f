#include "platform/linux/SignalDescriptor.h"

#include <cerrno>
#include <sys/signalfd.h>
#include <unistd.h>

namespace tavro::platform::posix {

SignalDescriptor::SignalDescriptor(const sigset_t& signals)
    : fd_(signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC)), error_(fd_ < 0 ? errno : 0) {}

SignalDescriptor::~SignalDescriptor() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

int SignalDescriptor::Take(int fallback) {
    signalfd_siginfo info{};
    return read(fd_, &info, sizeof info) == sizeof info ? static_cast<int>(info.ssi_signo)
                                                        : fallback;
}

} // namespace tavro::platform::posix
