// The POSIX hub's message window: one thread, one poll() loop over a timerfd for the 50 ms
// tick, a signalfd for SIGINT, SIGTERM and SIGHUP (which end the hub through the same destroy
// path as closing it on Windows), and the command socket "TavroMsgWnd", whose requests are
// handled between ticks on the same thread, as WM_COPYDATA is.
#pragma once

#include "hub/engine/HubEngine.h"
#include "hub/engine/MessageWindow.h"
#include "hub/posix/HubReport.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/CommandSocket.h"

#include <stdint.h>

namespace tavro::posixhub {

// Blocks the stop signals in the calling thread (before any other thread exists), so that
// they reach the loop's signalfd instead of ending the process. SIGPIPE is ignored.
bool BlockStopSignals();

// What the loop reports while it runs (start-up summary, problems); the front end prints it.
class LoopObserver {
public:
    virtual ~LoopObserver() = default;
    virtual void Started(HubEngine& engine) = 0;
    virtual void Stopping(int signal) = 0;
    virtual void PublishFailed(uint32_t error) = 0;
    // After every tick: the front end's own upkeep (it may RequestStop) and the run log.
    virtual void Ticked(HubEngine&) {}
    // The status query: what the hub tells `tavro status` beyond the status block.
    virtual void Describe(HubEngine&, HubReport&) {}
};

class EventLoop final : public MessageLoop,
                        public MessageWindow,
                        private platform::posix::CommandHandler {
public:
    EventLoop(const platform::posix::ComDirectory& directory, LoopObserver& observer);
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

private:
    uint32_t HandleCommand(uint32_t code, const uint8_t* payload, uint32_t length) override;
    uint32_t HandleQuery(uint32_t code, const uint8_t* payload, uint32_t length, uint8_t* reply,
                         uint32_t capacity, uint32_t& replyLength) override;

    platform::posix::ComDirectory directory_;
    LoopObserver& observer_;
    platform::posix::CommandServer server_;
    HubEngine* engine_ = nullptr;
    int timerFd_ = -1;
    int signalFd_ = -1;
    uint32_t publishResult_ = 0;
    bool stopRequested_ = false;
};

} // namespace tavro::posixhub
