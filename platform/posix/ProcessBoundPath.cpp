#include "platform/posix/ProcessBoundPath.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tavro::platform::posix {

ProcessBoundPath::~ProcessBoundPath() {
    Release();
}

bool ProcessBoundPath::Hold(const char* device) {
    Release();
    fd_ = open(device, O_PATH | O_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    std::snprintf(path_, sizeof path_, "/proc/%ld/fd/%d", static_cast<long>(getpid()), fd_);
    return true;
}

void ProcessBoundPath::Release() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    path_[0] = '\0';
}

} // namespace tavro::platform::posix
