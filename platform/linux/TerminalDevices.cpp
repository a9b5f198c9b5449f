#include "platform/posix/TerminalDevices.h"

#include <cstdio>
#include <fstream>
#include <linux/serial.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>

namespace tavro::platform::posix {
namespace {

// Major numbers of pseudo-terminal slaves (/dev/pts/N).
constexpr unsigned ptySlaveMajorFirst = 136;
constexpr unsigned ptySlaveMajorCount = 8;

} // namespace

bool IsPseudoTerminalSlave(const struct stat& target) {
    const unsigned number = major(target.st_rdev);
    return S_ISCHR(target.st_mode) && number >= ptySlaveMajorFirst &&
           number < ptySlaveMajorFirst + ptySlaveMajorCount;
}

bool InTerminalDriverList(dev_t rdev, bool& known) {
    std::ifstream drivers("/proc/tty/drivers");
    known = drivers.is_open();
    if (!known) {
        return false;
    }
    const unsigned major = major(rdev);
    const unsigned minor = minor(rdev);
    std::string line;
    while (std::getline(drivers, line)) {
        std::istringstream fields(line);
        std::string name, node, majors, minors;
        if (!(fields >> name >> node >> majors >> minors)) {
            continue;
        }
        unsigned low = 0, high = 0, first = 0, last = 0;
        const int majorCount = std::sscanf(majors.c_str(), "%u-%u", &low, &high);
        const int minorCount = std::sscanf(minors.c_str(), "%u-%u", &first, &last);
        if (majorCount < 1 || minorCount < 1) {
            continue;
        }
        high = majorCount == 2 ? high : low;
        last = minorCount == 2 ? last : first;
        if (major >= low && major <= high && minor >= first && minor <= last) {
            return true;
        }
    }
    return false;
}

bool ReadLineErrorCounts(int fd, LineErrorCounts& counts) {
    serial_icounter_struct kernel{};
    if (ioctl(fd, TIOCGICOUNT, &kernel) != 0) {
        return false;
    }
    counts = {kernel.buf_overrun, kernel.overrun, kernel.parity, kernel.frame, kernel.brk};
    return true;
}

} // namespace tavro::platform::posix
