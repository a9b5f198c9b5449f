// `tavro clean`: removes what a hub that did not stop cleanly left in the COM directory.
#include "hub/posix/cli/VerbSupport.h"
#include "hub/posix/cli/Verbs.h"

#include "hub/posix/host/LinkGuardian.h"
#include "platform/ErrorCodes.h"
#include "platform/posix/ComDirectory.h"

#include <cstdio>

namespace tavro::posixhub {

using platform::posix::ComDirectory;

int CleanVerb(int argc, char**) {
    if (argc != 0) {
        std::fputs("usage: tavro clean\n", stderr);
        return exitUsage;
    }
    const ComDirectory directory = DirectoryOrComplain();
    if (!directory.IsValid()) {
        return exitFailed;
    }
    const uint32_t result = RemoveLeftBehind(directory);
    if (result == error::alreadyExists) {
        std::printf("tavro clean: a hub runs in %s; nothing to clean\n", directory.Path());
        return exitOk;
    }
    if (result != error::success) {
        std::fprintf(stderr, "tavro clean: cannot read the hub's record in %s (error %u)\n",
                     directory.Path(), static_cast<unsigned>(result));
        return exitFailed;
    }
    return exitOk;
}

} // namespace tavro::posixhub
