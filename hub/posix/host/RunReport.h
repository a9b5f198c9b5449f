// What the running hub tells `tavro status` beyond the status block (the answer to the status
// query), and what its run log says in the same words: the input port and why it is closed,
// the virtual ports with their terminals and counts, the options, the network output.
#pragma once

#include "hub/engine/HubEngine.h"
#include "hub/posix/ports/PtyPortSet.h"
#include "hub/posix/status/HubReport.h"
#include "platform/posix/ComDirectory.h"

namespace tavro::posixhub {

void DescribeRunningHub(HubEngine& engine, const platform::posix::ComDirectory& directory,
                        platform::posix::PtyPortSet& ports, HubReport& report);

} // namespace tavro::posixhub
