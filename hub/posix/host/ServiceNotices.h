// The hub's side of the service manager: "ready" once it runs, the watchdog's keep-alive from
// the tick (a hung loop stops sending it), and the virtual ports' terminals kept in the
// manager's descriptor store under their COM names, so that a restart (an update, a crash,
// `systemctl --user restart tavro`) hands them to the next hub with their clients still on
// them. Without a manager every call does nothing.
#pragma once

#include "common/DriverExchangeBlock.h"
#include "hub/posix/ports/PtyPortSet.h"

#include <stdint.h>

namespace tavro::posixhub {

class ServiceNotices {
public:
    // The terminals the manager handed over at start, offered to `ports` for their numbers
    // (before the ports are opened).
    void TakeHandedTerminals(platform::posix::PtyPortSet& ports);

    // After every tick (and once the hub runs): stores the masters of new or renumbered
    // ports, takes out those of ports that went and of handed-over terminals no port took,
    // and keeps the watchdog fed.
    void Ticked(const platform::posix::PtyPortSet& ports);

    void Ready(const char* status);
    void Reloading();
    void Stopping();

private:
    struct Stored {
        int master = -1;
        uint32_t comNumber = 0;
    };

    Stored stored_[virtualPortCount];
    // COM numbers of the terminals handed over at start, until the first Ticked has taken out
    // the ones no port took.
    uint32_t handed_[virtualPortCount] = {};
    bool handedChecked_ = false;
    uint32_t watchdogTicks_ = 0; // ticks between keep-alives, 0 without a watchdog
    uint32_t ticksSinceKeepAlive_ = 0;
    bool watchdogRead_ = false;
};

} // namespace tavro::posixhub
