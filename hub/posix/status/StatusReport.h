// What `tavro status` prints, made from what it found: the status block and, from a running hub,
// its report (HubReport.h). The first line is the main window's status line, then
// "Freshness: last fix 42 s ago" while the hub tells of a fix that is not current; the text goes on
// with the input port, what to do when it is closed, the virtual ports, the options and
// warnings. The JSON holds the same, and the block's fields.
#pragma once

#include "common/GpsSharedStatus.h"
#include "hub/posix/status/HubReport.h"

#include <string>
#include <vector>

namespace tavro {

// Printed by readers that find no hub: no status block, or one its hub has left.
inline constexpr char hubNotRunningText[] = "Hub not running";
// And by readers whose hub does not answer (followed by ", pid N" when it is known).
inline constexpr char hubNotRespondingText[] = "hub not responding";

// Exit codes of `tavro status`.
inline constexpr int statusInputOpen = 0;
inline constexpr int statusInputClosed = 3;
inline constexpr int statusHubNotRunning = 4;
// The hub listens but does not answer: it is stopped or hung.
inline constexpr int statusHubNotResponding = 6;

struct StatusFacts {
    bool running = false;    // a hub listens on the COM directory's command socket
    bool responding = true;  // and answered within responseDeadlineMs (false: stopped or hung)
    int pid = 0;             // of the hub that listens, when known
    bool hasReport = false;  // and answered the status query with `report`
    GpsSharedStatus block{}; // all zero when there is none
    // A block exists, but no whole copy of it could be taken (its hub stopped in the middle
    // of a write): `block` is then all zero, and its fields are not shown.
    bool blockTorn = false;
    HubReport report;
    std::string directory; // the COM directory looked in
};

int StatusExitCode(const StatusFacts& facts);

// The main window's status line: "<stream> | <fix> | <n> SVs :<ss>" while the input port is
// open, else why it is closed ("Port Doesn't Exist"; "Port Closed" when only the block tells),
// or hubNotRunningText.
std::string StatusLine(const StatusFacts& facts);

// What to do about a closed input port, "" while it is open.
std::string InputPortFix(const HubReport& report);

// Settings that do nothing on this system, virtual ports that could not be made, a held relay.
std::vector<std::string> StatusWarnings(const StatusFacts& facts);

std::string StatusText(const StatusFacts& facts);

// One JSON object, without a line end. Numbers are written as short as they read back to the
// same value, the fix time in ISO 8601 UTC; what the receiver has not reported since the hub
// started (a position, a DOP, its sentence rates, fix interval, EPO status, the time) is null.
// "current" and "fixAgeSeconds" tell whether the block's fix is the receiver's current one or
// its last known (see FixFreshness.h).
std::string StatusJson(const StatusFacts& facts);

} // namespace tavro
