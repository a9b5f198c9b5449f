// What the system tells about terminal devices beyond POSIX: which character devices are
// pseudo-terminal slaves, which belong to a terminal driver, and a UART's line error counters.
// Each system implements this (platform/linux: device numbers, /proc/tty, TIOCGICOUNT).
#pragma once

#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace tavro::platform::posix {

// Whether `target` (as stat reports it) is a pseudo-terminal slave (Linux: /dev/pts/N, majors
// 136 to 143).
bool IsPseudoTerminalSlave(const struct stat& target);

// Whether the character device `rdev` belongs to a terminal driver, from the kernel's list of
// them (Linux: /proc/tty/drivers). `known` is false when the list cannot be read.
bool InTerminalDriverList(dev_t rdev, bool& known);

// A UART's counts of line errors (TIOCGICOUNT); they only ever grow.
struct LineErrorCounts {
    int32_t bufferOverrun = 0;
    int32_t overrun = 0;
    int32_t parity = 0;
    int32_t frame = 0;
    int32_t breaks = 0;
};

// False when the device keeps no counters (pseudo-terminals, USB adapters without them).
bool ReadLineErrorCounts(int fd, LineErrorCounts& counts);

} // namespace tavro::platform::posix
