#include "hub/posix/host/EventLoop.h"

#include "common/HubCommand.h"
#include "common/SpeedTable.h"
#include "hub/decode/FrameCutter.h"
#include "hub/settings/SourceAddress.h"
#include "platform/ErrorCodes.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace tavro::posixhub {
namespace {

sigset_t StopSignals(HangUp hangUp) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // A signal read from the loop's descriptor is taken whatever its disposition: an ignored
    // SIGHUP must stay out of the set to stay ignored.
    if (hangUp != HangUp::Ignored) {
        sigaddset(&signals, SIGHUP);
    }
    return signals;
}

// A four-byte payload: the lParam of a window message, a line speed.
uint32_t LittleEndian(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

} // namespace

HangUp HangUpMeaning() {
    struct sigaction current {};
    if (sigaction(SIGHUP, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
        return HangUp::Ignored;
    }
    if (std::getenv("NOTIFY_SOCKET") != nullptr || std::getenv("INVOCATION_ID") != nullptr) {
        return HangUp::Reload;
    }
    const int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (terminal >= 0) {
        close(terminal);
        return HangUp::Stop;
    }
    return HangUp::Reload;
}

bool BlockStopSignals(HangUp hangUp) {
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t signals = StopSignals(hangUp);
    return sigprocmask(SIG_BLOCK, &signals, nullptr) == 0;
}

EventLoop::EventLoop(const platform::posix::ComDirectory& directory, LoopObserver& observer,
                     HangUp hangUp)
    : directory_(directory), observer_(observer), signals_(StopSignals(hangUp)), hangUp_(hangUp) {}

EventLoop::~EventLoop() {
    server_.Close();
}

void EventLoop::Publish() {
    publishResult_ = server_.Listen(directory_);
    if (publishResult_ != error::success) {
        observer_.PublishFailed(publishResult_);
    }
}

void EventLoop::StartTimer(uint32_t periodMs) {
    if (timer_.Fd() >= 0 && !timer_.Start(periodMs)) {
        Fail("timerfd_settime", errno);
    }
}

void EventLoop::Fail(const char* step, int error) {
    if (failedStep_ == nullptr) {
        failedStep_ = step;
        failedErrno_ = error;
    }
    stopRequested_ = true;
}

void EventLoop::StopTimer() {
    timer_.Stop();
}

void EventLoop::Run(HubEngine& engine) {
    engine_ = &engine;
    // Without them only SIGKILL could stop the hub, or nothing would tick.
    if (signals_.Fd() < 0) {
        Fail("signalfd", signals_.Error());
    }
    if (timer_.Fd() < 0) {
        Fail("timerfd", timer_.Error());
    }
    engine.InitDialog();
    // Without its command socket the hub would be unreachable, and another hub owns the
    // directory when the socket is taken: stop at once.
    stopRequested_ = stopRequested_ || publishResult_ != error::success;
    if (!stopRequested_) {
        observer_.Started(engine);
    }
    constexpr size_t fixedEntries = 2;
    constexpr size_t capacity = fixedEntries + engineCapacity + watchCapacity +
                                platform::posix::CommandServer::pollCapacity;
    pollfd entries[capacity];
    platform::WaitEntry waits[engineCapacity];
    Watched watched[watchCapacity];
    while (!stopRequested_) {
        entries[0] = {signals_.Fd(), POLLIN, 0};
        entries[1] = {timer_.Fd(), POLLIN, 0};
        size_t count = fixedEntries;
        const uint32_t waitCount = engine.CollectWaits(waits, engineCapacity);
        for (uint32_t i = 0; i < waitCount; ++i) {
            const short events =
                static_cast<short>(((waits[i].events & platform::waitInput) != 0 ? POLLIN : 0) |
                                   ((waits[i].events & platform::waitOutput) != 0 ? POLLOUT : 0));
            entries[count++] = {static_cast<int>(waits[i].object), events, 0};
        }
        // A copy: handlers may change the table while their turn is handled.
        size_t watchedCount = 0;
        for (const Watched& entry : watched_) {
            if (entry.fd >= 0) {
                watched[watchedCount++] = entry;
                entries[count++] = {entry.fd, entry.events, 0};
            }
        }
        const size_t serverStart = count;
        count = server_.AddToPollSet(entries, count, std::size(entries));
        if (poll(entries, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail("poll", errno);
            break;
        }
        if (entries[0].revents & POLLIN) {
            const int signal = signals_.Take(SIGTERM);
            if (signal == SIGHUP && hangUp_ == HangUp::Reload) {
                observer_.ReloadSettings();
            } else {
                observer_.Stopping(signal);
                break;
            }
        }
        for (uint32_t i = 0; i < waitCount; ++i) {
            const short revents = entries[fixedEntries + i].revents;
            if (revents == 0) {
                continue;
            }
            const bool hungUp = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
            uint8_t ready = 0;
            if ((revents & POLLIN) != 0 || (hungUp && (waits[i].events & platform::waitInput))) {
                ready |= platform::waitInput;
            }
            if ((revents & POLLOUT) != 0 || (hungUp && (waits[i].events & platform::waitOutput))) {
                ready |= platform::waitOutput;
            }
            if (hungUp) {
                ready |= platform::waitHangUp;
            }
            engine.WaitReady(waits[i].token, ready);
        }
        // After the engine's own objects, which the tick may close and open again.
        if (entries[1].revents & POLLIN) {
            // Ticks missed while the thread was busy are lost, not made up.
            if (timer_.TakeExpiry()) {
                engine.Tick();
                observer_.Ticked(engine);
            }
        }
        const size_t watchedStart = fixedEntries + waitCount;
        for (size_t i = 0; i < watchedCount; ++i) {
            const short revents = entries[watchedStart + i].revents;
            // Skipped when its owner let go of it during this round.
            if (revents != 0 && IsWatched(watched[i].fd, watched[i].handler)) {
                watched[i].handler->FdReady(watched[i].fd, revents);
            }
        }
        server_.Service(entries + serverStart, count - serverStart, *this);
    }
    engine.Destroy();
    server_.Close();
    engine_ = nullptr;
}

bool EventLoop::Watch(int fd, short events, FdHandler& handler) {
    if (fd < 0) {
        return false;
    }
    Watched* free = nullptr;
    for (Watched& entry : watched_) {
        if (entry.fd == fd) {
            return false;
        }
        if (entry.fd < 0 && free == nullptr) {
            free = &entry;
        }
    }
    if (free == nullptr) {
        return false;
    }
    *free = {fd, events, &handler};
    return true;
}

bool EventLoop::Rewatch(int fd, short events) {
    for (Watched& entry : watched_) {
        if (entry.fd == fd && fd >= 0) {
            entry.events = events;
            return true;
        }
    }
    return false;
}

void EventLoop::Unwatch(int fd) {
    for (Watched& entry : watched_) {
        if (entry.fd == fd) {
            entry = Watched{};
        }
    }
}

bool EventLoop::IsWatched(int fd, const FdHandler* handler) const {
    for (const Watched& entry : watched_) {
        if (entry.fd == fd && entry.handler == handler) {
            return true;
        }
    }
    return false;
}

uint32_t EventLoop::HandleCommand(uint32_t code, const uint8_t* payload, uint32_t length) {
    if (engine_ == nullptr) {
        return error::invalidHandle;
    }
    if (code == toggleMainWindowMessage) {
        if (length != 4) {
            return error::invalidParameter; // the lParam is missing
        }
        engine_->ToggleMainWindow(
            static_cast<intptr_t>(static_cast<int32_t>(LittleEndian(payload))));
        return error::success;
    }
    if (code == platform::posix::reloadSettingsCode) {
        return observer_.ReloadSettings();
    }
    if (code > static_cast<uint32_t>(HubCommand::ChangeBaud)) {
        return error::invalidFunction; // ignored, as the message window ignores other codes
    }
    // What the engine would ignore gets an answer that says so.
    if (code == static_cast<uint32_t>(HubCommand::ChangeBaud) && length < 4) {
        return error::invalidParameter; // a speed is four bytes; a shorter one is not read
    }
    // The speed becomes "Baud": only one that setting takes (1 baud would be stored too).
    if (code == static_cast<uint32_t>(HubCommand::ChangeBaud) &&
        !IsTableSpeed(LittleEndian(payload))) {
        return error::invalidParameter;
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
    // A network source has no line speed, and udp:// and gpsd:// take no bytes: said, not
    // dropped in silence.
    SourceAddress source;
    const char* reason = nullptr;
    if (ParseSource(engine_->Context().settings.source, source, reason) &&
        ((code == static_cast<uint32_t>(HubCommand::ChangeBaud) &&
          source.kind != SourceKind::Serial) ||
         (code == static_cast<uint32_t>(HubCommand::WriteToReceiver) &&
          !SourceWritable(source.kind)))) {
        return error::notSupported;
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
