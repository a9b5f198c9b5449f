// Paths beyond POSIX: this program's own file, and a name in a folder reached through a
// descriptor of the folder, however long the folder's own path. Each system implements this
// (platform/linux: through /proc).
#pragma once

#include <stddef.h>
#include <sys/types.h>

namespace tavro::platform::posix {

// The path of this program's file into `buffer`, not terminated, as readlink gives it: its
// length, or -1 with errno set. A length of `size` may be cut.
ssize_t ReadProgramPath(char* buffer, size_t size);

// A path to `name` in `folder` through a path-only descriptor of the folder opened into
// `folderFd` (Linux: "/proc/self/fd/<n>/<name>"; the caller closes it once the path is used).
// False when the folder cannot be opened (`folderFd` stays -1, errno set) or the path does not
// fit.
bool PathThroughFolderDescriptor(const char* folder, const char* name, int& folderFd, char* path,
                                 size_t capacity);

} // namespace tavro::platform::posix
