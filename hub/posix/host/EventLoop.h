// The POSIX hub's message window: one thread, one poll() loop over a timer descriptor for the
// 50 ms tick, a signal descriptor for SIGINT, SIGTERM and SIGHUP (which end the hub through the
// same destroy path as closing it on Windows), and the command socket "TavroMsgWnd", whose requests
// are handled between ticks on the same thread, as WM_COPYDATA is. The engine's own objects (the
// receiver's descriptor with "Immediate Relay") are asked for after every wake; other parts of
// the front end add descriptors of their own with Watch.
#pragma once

#include "hub/engine/HubEngine.h"
#include "hub/engine/MessageWindow.h"
#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/status/HubReport.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/PeriodicTimer.h"
#include "platform/linux/SignalDescriptor.h"
#include "platform/posix/ComDirectory.h"

#include <poll.h>
#include <stdint.h>

namespace tavro::posixhub {

// What SIGHUP means to this hub, decided once at start:
// - Ignored: it was ignored when the hub started (`nohup tavro run &`), and stays so, so that
//   logging out does not end the hub and every client with it;
// - Stop: the hub runs in a terminal, whose hang-up ends it like closing its window;
// - Reload: under a service manager, or without any terminal (a daemon), it re-reads the
//   settings, as daemons do.
enum class HangUp { Ignored, Stop, Reload };
HangUp HangUpMeaning();

// Blocks the stop signals (SIGINT, SIGTERM, and SIGHUP unless `hangUp` is Ignored) in the
// calling thread (before any other thread exists), so that they reach the loop's descriptor
// instead of ending the process. SIGPIPE is ignored.
bool BlockStopSignals(HangUp hangUp);

// What the loop reports while it runs (start-up summary, problems); the front end prints it.
class LoopObserver {
public:
    virtual ~LoopObserver() = default;
    virtual void Started(HubEngine& engine) = 0;
    virtual void Stopping(int signal) = 0;
    virtual void PublishFailed(uint32_t error) = 0;
    // SIGHUP with HangUp::Reload, or a request on the command socket: re-read the settings
    // and apply them; the result answers the request.
    virtual uint32_t ReloadSettings() { return error::invalidFunction; }
    // After every tick: the front end's own upkeep (it may RequestStop) and the run log.
    virtual void Ticked(HubEngine&) {}
    // The status query: what the hub tells `tavro status` beyond the status block.
    virtual void Describe(HubEngine&, HubReport&) {}
};

// Something that owns a descriptor the loop watches (see EventLoop::Watch).
class FdHandler {
public:
    virtual ~FdHandler() = default;
    // `fd` is ready: `revents` as poll() reported it (POLLIN, POLLOUT, POLLHUP, POLLERR...).
    // Runs on the loop's thread, between ticks; it may Watch, Unwatch or Rewatch any
    // descriptor.
    virtual void FdReady(int fd, short revents) = 0;
};

class EventLoop final : public MessageLoop,
                        public MessageWindow,
                        private platform::posix::CommandHandler {
public:
    EventLoop(const platform::posix::ComDirectory& directory, LoopObserver& observer,
              HangUp hangUp = HangUp::Stop);
    ~EventLoop() override;

    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // MessageLoop: InitDialog, then ticks and commands until a stop signal, then Destroy.
    void Run(HubEngine& engine) override;

    // MessageWindow.
    void Publish() override;
    void StartTimer(uint32_t periodMs) override;
    void StopTimer() override;
    void AllowCommandsFromLowerIntegrity() override {} // the socket's mode decides who may send

    // Ends Run after the current iteration (tests, and the front end's upkeep; the hub itself
    // stops on signals).
    void RequestStop() { stopRequested_ = true; }

    platform::posix::CommandServer& Server() { return server_; }

    // What ended the loop other than a stop: the step that failed ("signalfd", "timerfd",
    // "timerfd_settime", "poll") and its errno; null while nothing failed. The hub cannot
    // run without its signals, tick and wait, so Run stops at once then.
    const char* FailedStep() const { return failedStep_; }
    int FailedErrno() const { return failedErrno_; }

    // Descriptors watched for the rest of the front end (at most watchCapacity at a time):
    // `handler` hears of `fd` whenever poll() reports one of `events` (or POLLHUP, POLLERR).
    // Watch fails (false) when the table is full or `fd` is watched already; Rewatch changes
    // the events (0 pauses the descriptor); Unwatch forgets it (call it before closing the
    // descriptor). Neither allocates.
    static constexpr size_t watchCapacity = 16;
    bool Watch(int fd, short events, FdHandler& handler);
    bool Rewatch(int fd, short events);
    void Unwatch(int fd);

private:
    struct Watched {
        int fd = -1;
        short events = 0;
        FdHandler* handler = nullptr;
    };
    // The engine's objects at most: the receiver (2) and the network output.
    static constexpr size_t engineCapacity = 2 + NetworkOutput::waitCapacity;

    uint32_t HandleCommand(uint32_t code, const uint8_t* payload, uint32_t length) override;
    uint32_t HandleQuery(uint32_t code, const uint8_t* payload, uint32_t length, uint8_t* reply,
                         uint32_t capacity, uint32_t& replyLength) override;
    bool IsWatched(int fd, const FdHandler* handler) const;
    void Fail(const char* step, int error);

    platform::posix::ComDirectory directory_;
    LoopObserver& observer_;
    platform::posix::CommandServer server_;
    HubEngine* engine_ = nullptr;
    platform::posix::PeriodicTimer timer_;
    platform::posix::SignalDescriptor signals_;
    HangUp hangUp_;
    uint32_t publishResult_ = 0;
    bool stopRequested_ = false;
    const char* failedStep_ = nullptr;
    int failedErrno_ = 0;
    Watched watched_[watchCapacity];
};

} // namespace tavro::posixhub
