// What the verbs of `tavro` share: reading their arguments and finding the COM directory.
#pragma once

#include "platform/posix/ComDirectory.h"

#include <stdint.h>

namespace tavro::posixhub {

// A decimal (or 0x hexadecimal) number without sign or blanks that fits 32 bits.
bool ParseUnsigned(const char* text, uint32_t& value);

// "COM5", "com5" or "5": the number, false for anything else (and for 0 and above 255).
bool ParseComName(const char* text, unsigned& comNumber);

// The COM directory from the environment; says on stderr when its path is too long (then it
// is not valid).
platform::posix::ComDirectory DirectoryOrComplain();

} // namespace tavro::posixhub
