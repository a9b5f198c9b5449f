// `tavro config`: reads and writes the hub's settings by name through the settings store, so
// that the POSIX edition has what the main window offers on Windows. Names are those of the
// settings key ("Port", "Baud", "Logging", "Sync", "LogPath", "Version", "Sum", "VSyncDelay",
// "Bluetooth"), the virtual port numbers "Port0".."Port7", and the option bits of "Sync" by
// their check box texts ("NMEA Filter", "Battery Saver", "Read Only (2-8)", "Auto Time Sync",
// "Video Reset"). Case, blanks, hyphens, underscores and brackets do not matter, so
// "nmea-filter" and "read-only-2-8" name options too.
#pragma once

#include "platform/Registry.h"

#include <string>

namespace tavro {

// Exit codes of the command.
inline constexpr int configOk = 0;
inline constexpr int configFailed = 1; // unknown name, bad value, usage
// The settings store could not be read or written (`tavro` exits with the same code).
inline constexpr int configNotStored = 5;

// Runs `config get NAME`, `config set NAME VALUE` or `config list` (arguments after
// "config"). What it prints goes to `output`, messages to `errors`. Returns an exit code.
int RunConfigCommand(platform::Registry& registry, int argc, const char* const* argv,
                     std::string& output, std::string& errors);

} // namespace tavro
