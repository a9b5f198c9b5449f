#include "platform/posix/ProcPaths.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tavro::platform::posix {

ssize_t ReadProgramPath(char* buffer, size_t size) {
    return ::readlink("/proc/self/exe", buffer, size);
}

bool PathThroughFolderDescriptor(const char* folder, const char* name, int& folderFd, char* path,
                                 size_t capacity) {
    folderFd = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        return false;
    }
    const int written = std::snprintf(path, capacity, "/proc/self/fd/%d/%s", folderFd, name);
    return written > 0 && static_cast<size_t>(written) < capacity;
}

} // namespace tavro::platform::posix
