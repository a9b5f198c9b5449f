// `tavro unlink COM<n>`: removes COM<n> from the COM directory.
#include "hub/posix/VerbSupport.h"
#include "hub/posix/Verbs.h"

#include "platform/ErrorCodes.h"
#include "platform/posix/ComDirectory.h"

#include <cstdio>

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
    const uint32_t result = directory.Remove(number);
    if (result != error::success) {
        std::fprintf(stderr, "tavro unlink: no COM%u in %s\n", number, directory.Path());
        return exitFailed;
    }
    return exitOk;
}

} // namespace tavro::posixhub
