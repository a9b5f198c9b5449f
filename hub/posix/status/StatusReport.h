// What `tavro status` prints, made from what it found (StatusFacts): the status block and, from
// a running hub, its report (HubReport.h). The first line is the main window's status line
// (StatusLine), then "Freshness: last fix 42 s ago" while the hub tells of a fix that is not
// current; the text goes on with the input port, what to do when it is closed, the virtual
// ports, the options and warnings. The JSON holds the same, and the block's fields.
#pragma once

#include "hub/posix/status/HubReport.h"
#include "hub/ui/ReportJson.h"

#include <string>
#include <vector>

namespace tavro {

// Exit codes of `tavro status`.
inline constexpr int statusInputOpen = 0;
inline constexpr int statusInputClosed = 3;
inline constexpr int statusHubNotRunning = 4;
// The hub listens but does not answer: it is stopped or hung.
inline constexpr int statusHubNotResponding = 6;

int StatusExitCode(const StatusFacts& facts);

// What to do about a closed input port, "" while it is open.
std::string InputPortFix(const HubReport& report);

// Settings that do nothing on this system, virtual ports that could not be made, a held relay.
std::vector<std::string> StatusWarnings(const StatusFacts& facts);

std::string StatusText(const StatusFacts& facts);

// The JSON of hub/ui/ReportJson.h in this edition's words.
std::string StatusJson(const StatusFacts& facts);

} // namespace tavro
