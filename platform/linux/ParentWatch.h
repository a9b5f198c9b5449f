// A helper process that outlives nothing: the hub starts a copy of its own program with
// StartWatcher, and that copy waits in WaitForParentEnd until the kernel tells it the hub has
// ended, however it ended (kill -9 included), to tidy up after it at once.
#pragma once

#include <sys/types.h>

namespace tavro::platform::posix {

// Starts this program again (/proc/self/exe, so a replaced binary does not matter) with
// `arguments` (argv, null-terminated), holding none of the caller's descriptors but its
// standard output and error (standard input reads /dev/null). Call it from the thread that
// lives as long as the process: the kernel's death notice follows the thread that started
// the child. The child's pid, or -1 (errno set).
pid_t StartWatcher(const char* const* arguments);

// In the watcher: returns true once `parent`, which started it, has ended (at once when it
// is not, or no longer, this process's parent); false (errno set) when the notice cannot be
// asked for. Stop signals (SIGINT, SIGTERM, SIGHUP) are ignored meanwhile: a service manager or a
// terminal sends them to the whole group, and the watcher's job is to outlive the parent.
bool WaitForParentEnd(pid_t parent);

} // namespace tavro::platform::posix
