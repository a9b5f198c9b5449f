// What `tavro status` and the dashboard find: the status block as it is now and, from a hub
// that answers the command socket's status query, its report.
#pragma once

#include "hub/posix/status/StatusReport.h"
#include "platform/posix/ComDirectory.h"

namespace tavro {

// Waits at most `timeoutMs` for the hub's answer; a hub that runs but does not answer in time
// gives `running` without `hasReport`.
StatusFacts GatherStatus(const platform::posix::ComDirectory& directory, int timeoutMs);

} // namespace tavro
