// TIOCMIWAIT blocks in the kernel until a modem line changes and has no time-out; closing the
// descriptor from another thread does not end it. Cancel therefore interrupts the waiting
// thread with a signal of its own (a real-time one with a handler that does nothing, installed
// without SA_RESTART), sent again every millisecond until the wait has returned, so a signal
// that comes just before the ioctl cannot be lost. The signal is unblocked only in the thread
// that waits.
#include "platform/posix/CarrierWait.h"

#include "platform/ErrorCodes.h"
#include "platform/posix/PosixErrors.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

namespace tavro::platform::posix {
namespace {

int WakeSignal() {
    return SIGRTMIN + 2;
}

void Nothing(int) {}

class TtyCarrierWatch final : public CarrierWatch {
public:
    explicit TtyCarrierWatch(int fd) : fd_(fd) {}
    ~TtyCarrierWatch() override {
        Cancel();
        close(fd_);
    }

    uint32_t Wait(bool& raised, UnixTime& at) override {
        sigset_t wake;
        sigemptyset(&wake);
        sigaddset(&wake, WakeSignal());
        pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
        waiter_ = pthread_self();
        waiting_.store(true);
        uint32_t result = error::operationAborted;
        while (!cancelled_.load()) {
            if (ioctl(fd_, TIOCMIWAIT, TIOCM_CD) == 0) {
                timespec now{};
                clock_gettime(CLOCK_REALTIME, &now);
                at = {static_cast<int64_t>(now.tv_sec), static_cast<uint32_t>(now.tv_nsec)};
                int lines = 0;
                result = ioctl(fd_, TIOCMGET, &lines) == 0 ? error::success : ErrorFromErrno(errno);
                raised = (lines & TIOCM_CD) != 0;
                break;
            }
            if (errno != EINTR) {
                result = errno == ENOTTY || errno == EINVAL ? error::notSupported
                                                            : ErrorFromErrno(errno);
                break;
            }
        }
        waiting_.store(false);
        return result;
    }

    void Cancel() override {
        cancelled_.store(true);
        while (waiting_.load()) {
            pthread_kill(waiter_, WakeSignal());
            const timespec pause{0, 1000000};
            nanosleep(&pause, nullptr);
        }
    }

private:
    int fd_;
    pthread_t waiter_{};
    std::atomic<bool> waiting_{false};
    std::atomic<bool> cancelled_{false};
};

} // namespace

std::unique_ptr<CarrierWatch> WatchCarrierOf(int fd, uint32_t& error) {
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) != 0) {
        error = error::notSupported; // no modem lines: a pseudo-terminal
        return nullptr;
    }
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = Nothing;
        sigemptyset(&action.sa_mask);
        return sigaction(WakeSignal(), &action, nullptr) == 0;
    }();
    const int copy = installed ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (copy < 0) {
        error = installed ? ErrorFromErrno(errno) : error::genFailure;
        return nullptr;
    }
    error = error::success;
    return std::make_unique<TtyCarrierWatch>(copy);
}

} // namespace tavro::platform::posix
