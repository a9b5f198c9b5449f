// SPDX-License-Identifier: Apache-2.0
// A hub's status as `tavro status --json` and both editions' dashboards give it: one JSON
// object with the same fields whichever edition made the report, so that the page reads them
// one way. What the editions say differently (an error's words, what to do about a closed input
// port, the warnings, which name each edition's own ways of fixing things) comes from the
// edition's ReportWording.
#pragma once

#include "hub/ui/HubReport.h"

#include <stdint.h>
#include <string>
#include <vector>

namespace tavro {

// Said by readers that find no hub: no status block, or one its hub has left.
inline constexpr char hubNotRunningText[] = "Hub not running";
// And by readers whose hub does not answer (followed by ", pid N" when it is known).
inline constexpr char hubNotRespondingText[] = "hub not responding";

class ReportWording {
public:
    virtual ~ReportWording() = default;
    // A Win32 error code in this system's words.
    virtual std::string ErrorWords(uint32_t code) const = 0;
    // What to do about a closed input port, "" while it is open.
    virtual std::string InputPortFix(const HubReport& report) const = 0;
    virtual std::vector<std::string> Warnings(const StatusFacts& facts) const = 0;
};

// The main window's status line: "<stream> | <fix> | <n> SVs :<ss>" while the input port is
// open, else why it is closed ("Port Doesn't Exist"; "Port Closed" when only the block tells),
// or hubNotRunningText, or hubNotRespondingText.
std::string StatusLine(const StatusFacts& facts);

// One JSON object, without a line end. Numbers are written as short as they read back to the
// same value, the fix time in ISO 8601 UTC; what the receiver has not reported since the hub
// started (a position, a DOP, its sentence rates, fix interval, EPO status, the time) and what
// the hub does not know (a port's traffic, a terminal) is null. "current" and "fixAgeSeconds"
// tell whether the block's fix is the receiver's current one or its last known (see
// FixFreshness.h).
std::string StatusJson(const StatusFacts& facts, const ReportWording& wording);

// The warnings both editions give in the same words, for their ReportWording::Warnings:
// a virtual port with the input port's number ...
void AddPortClashWarnings(const HubReport& report, std::vector<std::string>& warnings);
// ... and what the network output and the time export cannot do.
void AddOutputWarnings(const HubReport& report, const ReportWording& wording,
                       std::vector<std::string>& warnings);

} // namespace tavro
