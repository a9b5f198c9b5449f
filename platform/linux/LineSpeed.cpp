#include "platform/posix/LineSpeed.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace tavro::platform::posix {
namespace {

struct StandardSpeed {
    uint32_t baud;
    unsigned code;
};

constexpr StandardSpeed standardSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},
    {150, B150},       {200, B200},       {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
};

} // namespace

bool GetLineSpeed(int fd, uint32_t& baud) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return false;
    }
    // The kernel keeps c_ospeed in step with a Bnnn code set through the classic interface.
    baud = settings.c_ospeed;
    return true;
}

bool SetLineSpeed(int fd, uint32_t baud) {
    if (baud == 0) {
        errno = EINVAL; // speed 0 means "hang up" to a terminal, never a line speed here
        return false;
    }
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return false;
    }
    unsigned code = BOTHER;
    for (const StandardSpeed& speed : standardSpeeds) {
        if (speed.baud == baud) {
            code = speed.code;
        }
    }
    settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= code | (code << IBSHIFT);
    settings.c_ospeed = baud;
    settings.c_ispeed = baud;
    return ioctl(fd, TCSETS2, &settings) == 0;
}

} // namespace tavro::platform::posix
