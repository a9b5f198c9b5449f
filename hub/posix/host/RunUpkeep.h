// What keeps `tavro run` whole between ticks: the COM directory put back when something
// removed it, and virtual ports that could not be made tried again every 2.5 s (a COM number
// taken by another device may be freed, a clash with another hub's links resolved).
#pragma once

#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/host/ComDirectoryRepair.h"
#include "hub/posix/instance/InstanceLock.h"
#include "hub/posix/ports/PtyPortSet.h"

#include <stdint.h>

namespace tavro::posixhub {

// Whether virtual ports that failed with `result` are worth trying again: without a number,
// or with one beyond COM255, only new settings can help.
bool PortsRetryable(uint32_t result);

class RunUpkeep {
public:
    // Ticks between two attempts to make virtual ports that could not be made (2.5 s).
    static constexpr uint32_t portRetryTicks = 50;

    RunUpkeep(platform::posix::InstanceLock& lock, platform::posix::PtyPortSet& ports,
              platform::posix::CommandServer& server)
        : ports_(ports), repair_(lock, ports, server) {}

    // Once per tick: the COM directory's check (ComDirectoryRepair::Tick); Failure() tells
    // what could not be made again when it is lost.
    ComDirectoryRepair::Outcome KeepDirectory() { return repair_.Tick(); }
    uint32_t Failure() const { return repair_.Failure(); }

    // Once per tick: true when the virtual ports were tried again, with the port set's result.
    bool RetryPorts(uint32_t& result);

private:
    platform::posix::PtyPortSet& ports_;
    ComDirectoryRepair repair_;
    uint32_t ticksSinceAttempt_ = 0;
};

} // namespace tavro::posixhub
