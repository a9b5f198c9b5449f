#include "platform/linux/ProcessBoundPath.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tavro::platform::posix {

bool HoldDevicePath(const char* device, int& fd, char (&path)[processBoundPathCapacity]) {
    path[0] = '\0';
    fd = open(device, O_PATH | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::snprintf(path, sizeof path, "/proc/%ld/fd/%d", static_cast<long>(getpid()), fd);
    return true;
}

ProcessBoundPath::~ProcessBoundPath() {
    Release();
}

bool ProcessBoundPath::Hold(const char* device) {
    Release();
    return HoldDevicePath(device, fd_, path_);
}

void ProcessBoundPath::Release() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    path_[0] = '\0';
}

} // namespace tavro::platform::posix
