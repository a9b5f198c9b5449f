// The run log of `tavro run`, on standard error (or the journal): the start, the virtual ports
// made or why there are none, every change of the input port's state and of the stream and fix
// once it has settled, the network output as it opens and fails, echoing ports, problems, the
// stop. It uses the words of `tavro status`.
#pragma once

#include "hub/engine/HubEngine.h"
#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/ports/PtyPortSet.h"
#include "hub/posix/status/HubReport.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/ConsoleLog.h"

#include <stdint.h>
#include <string>
#include <utility>

namespace tavro::posixhub {

class RunLog {
public:
    // `settingsUnreadable`: the settings file could not be read at start (the store said why).
    RunLog(platform::posix::ConsoleLog& log, const platform::posix::ComDirectory& directory,
           platform::posix::PtyPortSet& ports, bool settingsUnreadable)
        : log_(log), directory_(directory), ports_(ports), settingsUnreadable_(settingsUnreadable) {
    }

    // The hub runs: what it runs with, its ports, what is wrong.
    void Started(HubEngine& engine);
    // The settings were read again; `portsTouched`: the virtual ports changed or failed.
    void SettingsReadAgain(HubEngine& engine, bool portsTouched);
    // The virtual ports were tried again with `result`: said when it differs from the last.
    void PortsRetried(HubEngine& engine, uint32_t result);
    // After every tick: echoing ports, the input port, the network output.
    void Ticked(HubEngine& engine);
    // The links' guardian `ended` was replaced by `started` (-1: none could be started).
    void GuardianRestarted(int ended, int started);
    // The command socket's listener, when it cannot take connections and again when it can.
    void FollowCommandSocket(const platform::posix::CommandServer& server);

    void DirectoryRepaired();
    // The status block's name, checked: `restored` after a removal, or the failure (said once).
    void StatusBlockKept(uint32_t result, bool restored);
    void DirectoryLost(uint32_t failure);
    void Stopping(int signal);
    void PublishFailed(uint32_t result);

private:
    void ReportPorts(const HubReport& report);
    void ReportEcho();
    void FollowInputPort(HubEngine& engine);
    void LogInputPort(HubEngine& engine);
    void FollowSource(const GpsPort& port, uint32_t now);
    void FollowNetwork(HubEngine& engine);
    void FollowDrops(HubEngine& engine);
    void FollowTime(HubEngine& engine);
    void Describe(HubEngine& engine, HubReport& report);

    platform::posix::ConsoleLog& log_;
    platform::posix::ComDirectory directory_;
    platform::posix::PtyPortSet& ports_;
    const bool settingsUnreadable_;
    uint32_t reportedPortResult_ = 0;
    bool echoReported_[virtualPortCount] = {};
    uint32_t loggedServer_ = 0; // the TCP port last said to be served, 0 when none
    uint32_t loggedServerError_ = 0;
    std::string loggedAddress_;
    bool loggedSending_ = false;
    bool loggedAcceptError_ = false;
    int loggedCommandFailure_ = 0;
    uint32_t loggedSenderError_ = 0;
    uint32_t loggedTimeUnit_ = ntpUnitNone;
    uint32_t loggedTimeError_ = 0;
    bool logged_ = false;
    bool wasOpen_ = false;
    uint32_t lastError_ = 0;
    uint8_t loggedSourceState_ = 0; // SourceState last said (connected, listening, reconnecting)
    std::pair<uint8_t, uint8_t> shownStream_{};
    std::pair<uint8_t, uint8_t> pendingStream_{};
    uint32_t pendingTicks_ = 0;
    bool dropsLogged_[dropCauseCount] = {};
    uint32_t loggedLogError_ = 0;
    uint32_t loggedBlockError_ = 0;
};

} // namespace tavro::posixhub
