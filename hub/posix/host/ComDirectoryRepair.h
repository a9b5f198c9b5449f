// Keeps the hub's COM directory in place while it runs: a tmp cleaner (or a person) that
// removes the directory takes the hub's links, command socket and lock files with it, and
// clients could no longer find their ports nor `tavro` the hub. Checked twice a second; what
// vanished is made again (the terminals and connections are untouched). When another hub has
// taken the directory in between, this one cannot keep it and stops.
#pragma once

#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/instance/InstanceLock.h"
#include "hub/posix/ports/PtyPortSet.h"

#include <stdint.h>

namespace tavro::posixhub {

class ComDirectoryRepair {
public:
    enum class Outcome { Intact, Repaired, Lost };

    // Ticks between two checks (0.5 s).
    static constexpr uint32_t checkTicks = 10;

    ComDirectoryRepair(platform::posix::InstanceLock& lock, platform::posix::PtyPortSet& ports,
                       platform::posix::CommandServer& server)
        : lock_(lock), ports_(ports), server_(server) {}

    // Once per tick; checks every checkTicks-th call. Lost: another hub holds the directory
    // now (Failure() tells what could not be made again).
    Outcome Tick();

    // Checks now and repairs what is missing.
    Outcome CheckNow();

    uint32_t Failure() const { return failure_; }

private:
    platform::posix::InstanceLock& lock_;
    platform::posix::PtyPortSet& ports_;
    platform::posix::CommandServer& server_;
    uint32_t ticks_ = 0;
    uint32_t failure_ = 0;
};

} // namespace tavro::posixhub
