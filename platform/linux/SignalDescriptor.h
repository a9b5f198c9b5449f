// Signals as a descriptor for an event loop (signalfd): the signals of the set, blocked by the
// caller in every thread, are read from it instead of being delivered. A signal read this way
// is taken whatever its disposition, so an ignored signal must stay out of the set.
#pragma once

#include <signal.h>

namespace tavro::platform::posix {

class SignalDescriptor {
public:
    explicit SignalDescriptor(const sigset_t& signals);
    ~SignalDescriptor();
    SignalDescriptor(const SignalDescriptor&) = delete;
    SignalDescriptor& operator=(const SignalDescriptor&) = delete;

    // -1 when the descriptor could not be made (Error tells why).
    int Fd() const { return fd_; }
    int Error() const { return error_; }

    // Call when Fd is readable: the signal that arrived, `fallback` when none could be read.
    int Take(int fallback);

private:
    int fd_ = -1;
    int error_ = 0;
};

} // namespace tavro::platform::posix
