// `tavro link COM<n> DEVICE`: makes COM<n> in the COM directory name a serial device.
#include "hub/posix/cli/VerbSupport.h"
#include "hub/posix/cli/Verbs.h"
#include "hub/posix/config/ForceOption.h"
#include "hub/posix/status/ErrorWords.h"

#include "platform/ErrorCodes.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/TerminalDevices.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavro::posixhub {
namespace {

using platform::posix::ComDirectory;
using platform::posix::comPathCapacity;

// Whether the character device `rdev` belongs to a terminal driver, by the kernel's list of
// them. Without the list the device is opened and asked.
bool IsTerminalDevice(const char* path, dev_t rdev) {
    bool known = false;
    const bool listed = platform::posix::InTerminalDriverList(rdev, known);
    if (known) {
        return listed;
    }
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == EACCES || errno == EBUSY; // cannot tell: let the hub find out
    }
    const bool terminal = isatty(fd) != 0;
    close(fd);
    return terminal;
}

} // namespace

int LinkVerb(int argc, char** argv) {
    bool force = false;
    const std::vector<const char*> positional = WordsAndForce(argc, argv, force);
    unsigned number = 0;
    if (positional.size() != 2 || !ParseComName(positional[0], number)) {
        std::fputs("usage: tavro link COM<n> DEVICE [--force]   (n from 1 to 255)\n", stderr);
        return exitUsage;
    }
    const char* device = positional[1];
    struct stat info {};
    if (stat(device, &info) != 0) {
        std::fprintf(stderr, "tavro link: %s: %s\n", device, std::strerror(errno));
        return exitFailed;
    }
    if (!S_ISCHR(info.st_mode) || !IsTerminalDevice(device, info.st_rdev)) {
        std::fprintf(stderr,
                     "tavro link: %s is not a serial device (not a terminal): the hub could not "
                     "read a receiver there\n",
                     device);
        return exitFailed;
    }
    const ComDirectory directory = DirectoryOrComplain();
    if (!directory.IsValid()) {
        return exitFailed;
    }
    char current[comPathCapacity];
    bool present = false;
    if (!force && directory.Resolve(number, current, present) == error::success && present) {
        struct stat existing {};
        if (stat(current, &existing) == 0 && existing.st_rdev == info.st_rdev) {
            return exitOk; // already there
        }
        std::fprintf(stderr, "tavro link: COM%u names %s already (--force replaces it)\n", number,
                     current);
        return exitFailed;
    }
    const uint32_t result = directory.Link(number, device);
    if (result != error::success) {
        std::fprintf(stderr, "tavro link: cannot make COM%u in %s: %s\n", number, directory.Path(),
                     ErrorWords(result).c_str());
        return exitFailed;
    }
    return exitOk;
}

} // namespace tavro::posixhub
