// `tavro guard-links PID` (internal): the hub's guardian. `tavro run` starts it as its child;
// it waits for the kernel's notice that the hub ended and then removes the hub's links and
// command socket at once, as `tavro clean` would. A link names the terminal through the hub's
// process (/proc/<hub>/fd/<n>), so once the system gives the hub's process number to another
// program the link would lead into that program; removed within milliseconds of the hub's
// end, it never can (the system hands out every other number before it comes back).
#include "hub/posix/cli/VerbSupport.h"
#include "hub/posix/cli/Verbs.h"

#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/ports/PtyPortSet.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/ParentWatch.h"
#include "platform/posix/ComDirectory.h"

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

int GuardVerb(int argc, char** argv) {
    uint32_t parent = 0;
    if (argc != 1 || !ParseUnsigned(argv[0], parent) || parent == 0) {
        std::fputs("usage: tavro guard-links PID   (started by tavro run)\n", stderr);
        return exitUsage;
    }
    if (!platform::posix::WaitForParentEnd(static_cast<pid_t>(parent))) {
        std::perror("tavro guard-links: cannot watch the hub");
        return exitFailed;
    }
    const platform::posix::ComDirectory directory =
        platform::posix::ComDirectory::FromEnvironment();
    // A hub that already took over the directory (a restart) keeps its links: alreadyExists.
    const uint32_t result = RemoveLeftBehind(directory);
    return result == error::success || result == error::alreadyExists ? exitOk : exitFailed;
}

} // namespace tavro::posixhub
