// Whether this process may set the system clock: CAP_SYS_TIME in its effective capabilities
// (root has it unless a service manager took it away). Asked once, to warn about "Auto Time
// Sync" before it fails quietly at every minute.
#pragma once

namespace tavro::platform::posix {

bool MaySetSystemClock();

} // namespace tavro::platform::posix
