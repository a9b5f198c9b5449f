// `tavro guard-links PID` (internal): the hub's guardian (host/LinkGuardian.h), which `tavro
// run` starts as its child.
#include "hub/posix/cli/VerbSupport.h"
#include "hub/posix/cli/Verbs.h"

#include "hub/posix/host/LinkGuardian.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/ParentWatch.h"
#include "platform/posix/ComDirectory.h"

#include <cstdio>

namespace tavro::posixhub {

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
