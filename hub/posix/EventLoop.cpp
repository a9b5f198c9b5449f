#include "hub/posix/EventLoop.h"

#include "common/HubCommand.h"
#include "hub/decode/FrameCutter.h"
#include "platform/ErrorCodes.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace tavro::posixhub {
namespace {

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

} // namespace

bool BlockStopSignals() {
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t signals = StopSignals();
    return sigprocmask(SIG_BLOCK, &signals, nullptr) == 0;
}

EventLoop::EventLoop(const platform::posix::ComDirectory& directory, LoopObserver& observer)
    : directory_(directory), observer_(observer) {
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    const sigset_t signals = StopSignals();
    signalFd_ = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
}

EventLoop::~EventLoop() {
    server_.Close();
    if (timerFd_ >= 0) {
        close(timerFd_);
    }
    if (signalFd_ >= 0) {
        close(signalFd_);
    }
}

void EventLoop::Publish() {
    publishResult_ = server_.Listen(directory_);
    if (publishResult_ != error::success) {
        observer_.PublishFailed(publishResult_);
    }
}

void EventLoop::StartTimer(uint32_t periodMs) {
    const long seconds = static_cast<long>(periodMs / 1000);
    const long nanoseconds = static_cast<long>(periodMs % 1000) * 1000000L;
    itimerspec period{{seconds, nanoseconds}, {seconds, nanoseconds}};
    timerfd_settime(timerFd_, 0, &period, nullptr);
}

void EventLoop::StopTimer() {
    itimerspec stopped{};
    timerfd_settime(timerFd_, 0, &stopped, nullptr);
}

void EventLoop::Run(HubEngine& engine) {
    engine_ = &engine;
    engine.InitDialog();
    // Without its command socket the hub would be unreachable, and another hub owns the
    // directory when the socket is taken: stop at once.
    stopRequested_ = stopRequested_ || publishResult_ != error::success;
    if (!stopRequested_) {
        observer_.Started(engine);
    }
    constexpr size_t fixedEntries = 2;
    pollfd entries[fixedEntries + platform::posix::CommandServer::pollCapacity];
    while (!stopRequested_) {
        entries[0] = {signalFd_, POLLIN, 0};
        entries[1] = {timerFd_, POLLIN, 0};
        const size_t count = server_.AddToPollSet(entries, fixedEntries, std::size(entries));
        if (poll(entries, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (entries[0].revents & POLLIN) {
            signalfd_siginfo info{};
            const int signal = read(signalFd_, &info, sizeof info) == sizeof info
                                   ? static_cast<int>(info.ssi_signo)
                                   : SIGTERM;
            observer_.Stopping(signal);
            break;
        }
        if (entries[1].revents & POLLIN) {
            // Ticks missed while the thread was busy are lost, not made up.
            uint64_t expirations = 0;
            if (read(timerFd_, &expirations, sizeof expirations) == sizeof expirations) {
                engine.Tick();
                observer_.Ticked(engine);
            }
        }
        server_.Service(entries + fixedEntries, count - fixedEntries, *this);
    }
    engine.Destroy();
    server_.Close();
    engine_ = nullptr;
}

uint32_t EventLoop::HandleCommand(uint32_t code, const uint8_t* payload, uint32_t length) {
    if (engine_ == nullptr) {
        return error::invalidHandle;
    }
    if (code == toggleMainWindowMessage) {
        if (length != 4) {
            return error::invalidParameter; // the lParam is missing
        }
        const uint32_t lParam =
            static_cast<uint32_t>(payload[0]) | static_cast<uint32_t>(payload[1]) << 8 |
            static_cast<uint32_t>(payload[2]) << 16 | static_cast<uint32_t>(payload[3]) << 24;
        engine_->ToggleMainWindow(static_cast<intptr_t>(static_cast<int32_t>(lParam)));
        return error::success;
    }
    if (code > static_cast<uint32_t>(HubCommand::ChangeBaud)) {
        return error::invalidFunction; // ignored, as the message window ignores other codes
    }
    // What the engine would ignore gets an answer that says so.
    if (code == static_cast<uint32_t>(HubCommand::ChangeBaud) && length < 4) {
        return error::invalidParameter; // a speed is four bytes; a shorter one is not read
    }
    if (code == static_cast<uint32_t>(HubCommand::InjectFrame) &&
        (length == 0 || length > FrameCutter::maxFrameLength)) {
        return error::invalidParameter; // no frame, or longer than any frame
    }
    // Receiver commands are sentences; a larger payload would hold the line (and at 4800 baud
    // the loop) for seconds.
    if (code == static_cast<uint32_t>(HubCommand::WriteToReceiver) && length > writeToReceiverMax) {
        return error::invalidParameter;
    }
    engine_->CopyData(code, payload, length);
    if (code == static_cast<uint32_t>(HubCommand::InjectFrame) && !engine_->LastInjectTaken()) {
        return error::invalidData; // it failed its checksum: not decoded, not relayed
    }
    return error::success;
}

uint32_t EventLoop::HandleQuery(uint32_t code, const uint8_t*, uint32_t, uint8_t* reply,
                                uint32_t capacity, uint32_t& replyLength) {
    replyLength = 0;
    if (engine_ == nullptr) {
        return error::invalidHandle;
    }
    if (code != platform::posix::statusQueryCode) {
        return error::invalidFunction;
    }
    HubReport report;
    observer_.Describe(*engine_, report);
    const std::string text = EncodeHubReport(report);
    if (text.size() > capacity) {
        return error::insufficientBuffer;
    }
    std::memcpy(reply, text.data(), text.size());
    replyLength = static_cast<uint32_t>(text.size());
    return error::success;
}

} // namespace tavro::posixhub
