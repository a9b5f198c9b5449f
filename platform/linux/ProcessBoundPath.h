// A path to a device that leads to it only while this process lives: "/proc/<pid>/fd/<n>" of
// a path-only descriptor of the device, which this object holds. A COM link made to it stops
// resolving the moment the process ends, however it ends (kill -9 included), so a client
// opening the link then gets "no such file" instead of whatever program the system has since
// given the same terminal number. It also never leads to a newer terminal with the old
// number: the descriptor stands for the terminal it was made from.
//
// A path-only descriptor does not open the device (the terminal's hang-up state and open
// counts are untouched). Opening the path needs the right to look into this process, which
// its own user (and root) have. A process that later gets the same number could be reached
// through a link left behind; the hub's guardian removes the links as soon as the hub ends,
// and the next hub's start and the service's stop step remove any still left.
#pragma once

#include <stddef.h>

namespace tavro::platform::posix {

inline constexpr size_t processBoundPathCapacity = 48;

// The parts of ProcessBoundPath for records that keep plain fields: opens a path-only
// descriptor of `device` into `fd` and writes its path; false (errno set) when it cannot.
bool HoldDevicePath(const char* device, int& fd, char (&path)[processBoundPathCapacity]);

class ProcessBoundPath {
public:
    ProcessBoundPath() = default;
    ~ProcessBoundPath();
    ProcessBoundPath(const ProcessBoundPath&) = delete;
    ProcessBoundPath& operator=(const ProcessBoundPath&) = delete;

    // Takes hold of `device`; false (errno set) when it cannot be reached.
    bool Hold(const char* device);
    void Release();

    bool IsHeld() const { return fd_ >= 0; }
    // The path while held, else "".
    const char* Path() const { return path_; }

private:
    int fd_ = -1;
    char path_[processBoundPathCapacity] = {};
};

} // namespace tavro::platform::posix
