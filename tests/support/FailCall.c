// Preloaded (LD_PRELOAD) into a program under test: the call that TAVRO_FAIL_CALL names fails
// with an error the kernel can give, so that failures nothing outside the process can cause are
// handled for real. Every other call, and every call without the variable, goes through.
//   signalfd         EMFILE
//   timerfd_create   ENODEV
//   timerfd_settime  EINVAL
//   poll             ENOMEM, only for a poll whose first descriptor is a signal descriptor (an
//                    event loop's wait; short waits elsewhere stay real)
#define _GNU_SOURCE
// The fortified poll is an inline wrapper that would clash with the one defined here.
#undef _FORTIFY_SOURCE

#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

struct itimerspec;
// As <poll.h> has it; that header declares poll's array write-only, and it is read here.
struct pollfd {
    int fd;
    short events;
    short revents;
};
typedef unsigned long nfds_t;

static int Chosen(const char* call) {
    const char* chosen = getenv("TAVRO_FAIL_CALL");
    return chosen != NULL && strcmp(chosen, call) == 0;
}

static void* Real(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

static int IsSignalDescriptor(int fd) {
    char path[32];
    char target[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(path, target, sizeof target - 1);
    if (length < 0) {
        return 0;
    }
    target[length] = '\0';
    return strcmp(target, "anon_inode:[signalfd]") == 0;
}

static int FailsPoll(const struct pollfd* fds, nfds_t count) {
    return Chosen("poll") && count > 0 && IsSignalDescriptor(fds[0].fd);
}

int signalfd(int fd, const sigset_t* mask, int flags) {
    if (Chosen("signalfd")) {
        errno = EMFILE;
        return -1;
    }
    int (*real)(int, const sigset_t*, int) = Real("signalfd");
    return real(fd, mask, flags);
}

int timerfd_create(int clock, int flags) {
    if (Chosen("timerfd_create")) {
        errno = ENODEV;
        return -1;
    }
    int (*real)(int, int) = Real("timerfd_create");
    return real(clock, flags);
}

int timerfd_settime(int fd, int flags, const struct itimerspec* value, struct itimerspec* old) {
    if (Chosen("timerfd_settime")) {
        errno = EINVAL;
        return -1;
    }
    int (*real)(int, int, const struct itimerspec*, struct itimerspec*) = Real("timerfd_settime");
    return real(fd, flags, value, old);
}

int poll(struct pollfd* fds, nfds_t count, int timeout) {
    if (FailsPoll(fds, count)) {
        errno = ENOMEM;
        return -1;
    }
    int (*real)(struct pollfd*, nfds_t, int) = Real("poll");
    return real(fds, count, timeout);
}

// What a fortified build calls instead of poll.
int __poll_chk(struct pollfd* fds, nfds_t count, int timeout, size_t capacity) {
    if (FailsPoll(fds, count)) {
        errno = ENOMEM;
        return -1;
    }
    int (*real)(struct pollfd*, nfds_t, int, size_t) = Real("__poll_chk");
    return real(fds, count, timeout, capacity);
}
