// SPDX-License-Identifier: Apache-2.0
#include "hub/posix/host/LinkGuardian.h"

#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/ports/PtyPortSet.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/ParentWatch.h"

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace tavro::posixhub {

uint32_t RemoveLeftBehind(const platform::posix::ComDirectory& directory) {
    // Only what a hub that did not stop cleanly left: never a running hub's links, nor links
    // made by others (a receiver's, even one whose device is unplugged).
    const uint32_t result = platform::posix::PtyPortSet::RemoveLinksLeftBehind(directory);
    if (result == error::success) {
        platform::posix::RemoveStaleSocket(directory);
    }
    return result;
}

int StartLinkGuardian() {
    char parent[24];
    std::snprintf(parent, sizeof parent, "%ld", static_cast<long>(getpid()));
    const char* const arguments[] = {"tavro", guardVerbName, parent, nullptr};
    return platform::posix::StartWatcher(arguments);
}

bool GuardianEnded(int pid) {
    return pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid;
}

} // namespace tavro::posixhub
