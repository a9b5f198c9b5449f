// SPDX-License-Identifier: Apache-2.0
// The hub's guardian: `tavro run` starts this program again as its child (`tavro guard-links
// PID`, an internal verb, not listed), which waits for the kernel's notice that the hub ended
// and then removes the hub's links and command socket at once, as `tavro clean` would. A link
// names the terminal through the hub's process (/proc/<hub>/fd/<n>), so once the system gives
// the hub's process number to another program the link would lead into that program; removed
// within milliseconds of the hub's end, it never can (the system hands out every other number
// before it comes back).
#pragma once

#include "platform/posix/ComDirectory.h"

#include <stdint.h>

namespace tavro::posixhub {

inline constexpr char guardVerbName[] = "guard-links";

// Starts the guardian for this process (call it from the main thread): its pid, or -1 when it
// cannot be started (errno set).
int StartLinkGuardian();

// Whether the guardian `pid` has ended (it is reaped then).
bool GuardianEnded(int pid);

// What a hub that did not stop cleanly left in `directory` (links, command socket) is removed;
// error::alreadyExists while a hub runs there.
uint32_t RemoveLeftBehind(const platform::posix::ComDirectory& directory);

} // namespace tavro::posixhub
