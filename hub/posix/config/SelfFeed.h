// Settings that make the hub its own receiver: "UDP Target" aimed at this machine on the port a
// udp:// "Source" listens on (a broadcast to the LAN on the port the hub hears included), or a
// tcp:// or gpsd:// "Source" that is the hub's own TCP server. One frame would then go round
// for ever, as fast as the machine allows, to every program and network client.
#pragma once

#include "hub/settings/Settings.h"

#include <string>

namespace tavro {

// The loop in words ("" when there is none). Host names are resolved (a tool's time, never
// the hub's loop).
std::string SelfFeed(const Settings& settings);

} // namespace tavro
