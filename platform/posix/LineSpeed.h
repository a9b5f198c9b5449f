// Line speed of a terminal in bits per second, any value the driver accepts, not only the
// Bnnn codes of <termios.h> (187500 has none). Each system implements this (platform/linux:
// termios2, whose record cannot share a translation unit with <termios.h>).
//
// On a pseudo-terminal master these read and set the slave's settings, which is how a
// simulator on the master learns the speed its client chose.
#pragma once

#include <stdint.h>

namespace tavro::platform::posix {

// The output speed of the terminal on `fd`. Returns false (errno set) when it is not one.
bool GetLineSpeed(int fd, uint32_t& baud);

// Sets input and output speed: the Bnnn code for the standard speeds, so that programs using
// the classic interface read it back, the exact value otherwise. Other settings are kept.
bool SetLineSpeed(int fd, uint32_t baud);

} // namespace tavro::platform::posix
