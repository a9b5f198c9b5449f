// What the running hub tells `tavro status` beyond the status block (the HubReport of
// hub/ui/HubReport.h): the hub answers the command socket's status query with it.
//
// On the socket it is text, one "name=value" line per fact ("input.port=1", "port1.com=5"),
// so that a reader skips names it does not know and a newer hub may add some.
#pragma once

#include "hub/ui/HubReport.h"

#include <string>
#include <string_view>

namespace tavro {

std::string EncodeHubReport(const HubReport& report);

// Reads what EncodeHubReport made; unknown names and malformed lines are skipped. False when
// the text holds no report at all (no "version" line).
bool DecodeHubReport(std::string_view text, HubReport& report);

} // namespace tavro
