// The POSIX name of a shared-memory object: "TavroGPS" becomes "/TavroGPS", or the value of
// TAVRO_SHM, so that parallel test runs and side-by-side hubs do not share one block. Other
// names just get the leading slash.
#pragma once

#include <stddef.h>

namespace tavro::platform::posix {

inline constexpr size_t sharedMemoryNameCapacity = 256;

// False when the name does not fit or holds a slash after the first character.
bool SharedMemoryName(const char* name, char (&out)[sharedMemoryNameCapacity]);

} // namespace tavro::platform::posix
