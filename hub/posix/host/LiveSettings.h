// Settings that change while the hub runs take effect at once, as the Windows main window
// applies its controls: a new input port or speed re-opens the receiver, new virtual port
// numbers create, rename or remove ports (the other ports' terminals and clients are not
// touched), options apply from the next tick. Entry points: `tavro config set` (through the
// command socket), SIGHUP under a service manager, and the port retry of `tavro run`.
//
// The other way round, a speed the hub takes on by command (`tavro send baud`, `feltro baud`)
// is stored as "Baud" at once, so the next start opens the receiver at the speed it now runs
// at; it is the only setting the hub writes on its own.
#pragma once

#include "hub/engine/HubEngine.h"
#include "hub/posix/ports/PtyPortSet.h"
#include "platform/Registry.h"

#include <stdint.h>

namespace tavro::posixhub {

class LiveSettings {
public:
    LiveSettings(HubEngine& engine, platform::posix::PtyPortSet& ports,
                 platform::Registry& registry)
        : engine_(engine), ports_(ports), registry_(registry) {}

    // What Apply changed.
    struct Outcome {
        bool inputReopened = false;
        bool portsChanged = false;
    };

    // Reads the settings again and applies what differs from what the hub runs with. The
    // result is the virtual ports' (error::success, or why the new numbers could not be
    // used: error::alreadyExists with the port set's ConflictingComNumber, ...); the other
    // settings apply whatever it is.
    uint32_t Apply(Outcome& outcome);

    // After each tick: stores "Baud" when the hub took on a new speed by command.
    void StoreSpeedChange();

private:
    uint32_t ApplyPortNumbers(const uint32_t (&numbers)[virtualPortCount], bool& changed);

    HubEngine& engine_;
    platform::posix::PtyPortSet& ports_;
    platform::Registry& registry_;
    uint32_t storedBaud_ = 0; // "Baud" as last read or stored; 0 before the first look
};

} // namespace tavro::posixhub
