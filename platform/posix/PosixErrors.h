// errno values in the Win32 terms the rest of the system uses.
#pragma once

#include <stdint.h>

namespace tavro::platform::posix {

// The closest Win32 error code for an errno value; error::genFailure when there is none.
uint32_t ErrorFromErrno(int code);

} // namespace tavro::platform::posix
