// `tavro unlink COM<n>`: removes COM<n> from the COM directory.
#include "hub/posix/cli/VerbSupport.h"
#include "hub/posix/cli/Verbs.h"

#include "hub/posix/command/CommandSocket.h"
#include "platform/ErrorCodes.h"
#include "platform/posix/ComDirectory.h"

#include <cstdio>
#include <string>

namespace tavro::posixhub {

using platform::posix::ComDirectory;

int UnlinkVerb(int argc, char** argv) {
    unsigned number = 0;
    if (argc != 1 || !ParseComName(argv[0], number)) {
        std::fputs("usage: tavro unlink COM<n>\n", stderr);
        return exitUsage;
    }
    const ComDirectory directory = DirectoryOrComplain();
    if (!directory.IsValid()) {
        return exitFailed;
    }
    // A virtual port's link leads into the running hub's descriptors; the hub would make it
    // again within a second, so removing it would only seem to work.
    int hubPid = 0;
    char device[platform::posix::comPathCapacity];
    bool present = false;
    if (platform::posix::HubListens(directory, &hubPid) && hubPid > 0 &&
        directory.Resolve(number, device, present) == error::success &&
        std::string(device).rfind("/proc/" + std::to_string(hubPid) + "/", 0) == 0) {
        std::fprintf(stderr,
                     "tavro unlink: COM%u is a virtual port of the running hub (pid %d); set its "
                     "Port0..Port7 to 0 with tavro config set to remove it\n",
                     number, hubPid);
        return exitFailed;
    }
    const uint32_t result = directory.Remove(number);
    if (result != error::success) {
        std::fprintf(stderr, "tavro unlink: no COM%u in %s\n", number, directory.Path());
        return exitFailed;
    }
    return exitOk;
}

} // namespace tavro::posixhub
