#include "platform/linux/ParentWatch.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tavro::platform::posix {

namespace {

// The death notice: any signal the watcher does not otherwise get would do.
constexpr int parentEndSignal = SIGUSR1;

} // namespace

pid_t StartWatcher(const char* const* arguments) {
    const pid_t child = fork();
    if (child != 0) {
        return child;
    }
    // Only async-signal-safe calls from here to exec: the parent may have threads.
    const int input = open("/dev/null", O_RDONLY);
    if (input >= 0 && input != STDIN_FILENO) {
        dup2(input, STDIN_FILENO);
    }
    // Nothing else the hub holds (terminal masters above all) may live on in the watcher.
    syscall(SYS_close_range, 3U, ~0U, 0U);
    execv("/proc/self/exe", const_cast<char* const*>(arguments));
    _exit(127);
}

bool WaitForParentEnd(pid_t parent) {
    for (const int stop : {SIGINT, SIGTERM, SIGHUP}) {
        signal(stop, SIG_IGN);
    }
    sigset_t notice;
    sigemptyset(&notice);
    sigaddset(&notice, parentEndSignal);
    sigprocmask(SIG_BLOCK, &notice, nullptr);
    // The notice is sent after the parent's descriptors are closed (its locks are free then).
    // Asked for after the start, so the parent may already be gone: getppid tells.
    if (prctl(PR_SET_PDEATHSIG, parentEndSignal) != 0) {
        return false;
    }
    if (getppid() != parent) {
        return true;
    }
    while (sigwaitinfo(&notice, nullptr) < 0 && errno == EINTR) {
    }
    return true;
}

} // namespace tavro::platform::posix
