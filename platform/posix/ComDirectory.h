// The COM directory: how COM numbers exist on POSIX. A directory of symbolic links named
// "COM<n>", each naming a serial device (COM1 -> /dev/ttyUSB0) or a pseudo-terminal
// (COM5 -> /dev/pts/7). Opening COM<n> opens the link; listing the directory is the serial
// port map.
//
// The directory is $TAVRO_DEVDIR when that is set, else $XDG_RUNTIME_DIR/tavro, else
// /tmp/tavro-<uid>.
#pragma once

#include "platform/SerialPortMap.h"

#include <stddef.h>
#include <stdint.h>

namespace tavro::platform::posix {

inline constexpr size_t comPathCapacity = 512;

class ComDirectory {
public:
    // The directory the environment names (see above). IsValid() is false when the path does
    // not fit.
    static ComDirectory FromEnvironment();

    explicit ComDirectory(const char* path);

    bool IsValid() const { return path_[0] != '\0'; }
    const char* Path() const { return path_; }

    // Creates the directory (and missing parents, mode 0700). The /tmp fallback must be a real
    // directory owned by this user, or error::accessDenied: /tmp is shared with everybody.
    uint32_t Create() const;

    // "<dir>/COM<n>"; error::badPathName when it does not fit.
    uint32_t LinkPath(uint32_t comNumber, char (&path)[comPathCapacity]) const;

    // The device COM<n> names, made absolute. error::fileNotFound when there is no such link.
    // `present` tells whether the device exists (a dangling link is a port that went away).
    uint32_t Resolve(uint32_t comNumber, char (&device)[comPathCapacity], bool& present) const;

    // Makes COM<n> name `device`, replacing any earlier link in one step, so an opener sees
    // either the old device or the new one. Relative device paths are made absolute. Creates
    // the directory when needed.
    uint32_t Link(uint32_t comNumber, const char* device) const;

    // Removes COM<n>. error::fileNotFound when there is none.
    uint32_t Remove(uint32_t comNumber) const;

    // Removes COM<n> only while it still names `device`, so a program that leaves does not
    // take away a link that somebody else has made since. error::accessDenied when it names
    // another device.
    uint32_t RemoveIf(uint32_t comNumber, const char* device) const;

    // The serial port map: the numbers of the COM<n> links whose device exists, in ascending
    // order. error::pathNotFound when the directory does not exist.
    uint32_t List(SerialPortList& list) const;

private:
    char path_[comPathCapacity] = {};
    bool isTmpFallback_ = false;
};

} // namespace tavro::platform::posix
