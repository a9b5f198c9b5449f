// `tavro config`: reads and writes the hub's settings by name through the settings store, so
// that the POSIX edition has what the main window offers on Windows. Names are those of
// SettingsTable, the virtual port numbers "Port0".."Port7", and the option bits of "Sync" by
// their check box texts ("NMEA Filter", "Read Only (2-8)", ...). Case, blanks, hyphens,
// underscores and brackets do not matter, so "nmea-filter" and "read-only-2-8" name options
// too. What each takes, its refusals and `tavro config --help` come from the table.
#pragma once

#include "platform/Registry.h"

#include <string>

namespace tavro {

// Exit codes of the command.
inline constexpr int configOk = 0;
inline constexpr int configUsage = 2; // bad arguments, unknown name, refused value
// The settings store could not be read or written (`tavro` exits with the same code).
inline constexpr int configNotStored = 5;

// What `config set` checks besides the settings: the COM directory and this system.
class ConfigSurroundings {
public:
    virtual ~ConfigSurroundings() = default;
    // Whether COM<n> names a device that exists, and which.
    virtual bool ComNamesDevice(uint32_t comNumber, std::string& device) const = 0;
    // Whether this user may set the system clock (for "Auto Time Sync").
    virtual bool MaySetClock() const = 0;
};

// Runs `config get NAME`, `config set NAME VALUE [--force]` or `config list` (arguments after
// "config"; "--" ends the options). What it prints goes to `output`, messages to `errors`.
// `surroundings` null: nothing beyond the settings is checked. Returns an exit code.
//
// `set` refuses a COM number that another virtual port or the input port has, or that names a
// device in the COM directory other than the virtual ports' own; it refuses the installer's
// records "Version" and "Sum" and "Sync" bits that are no option. --force stores them anyway.
int RunConfigCommand(platform::Registry& registry, const ConfigSurroundings* surroundings, int argc,
                     const char* const* argv, std::string& output, std::string& errors);

// `tavro config --help`: usage, every setting with its line, the options, and exit codes.
std::string ConfigHelp();

} // namespace tavro
