#include "platform/EventWait.h"

#include <poll.h>
#include <signal.h>

namespace tavro::platform {
namespace {

volatile sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
    stopRequested = 1;
}

} // namespace

void WaitForAny(const WaitEntry* entries, uint32_t count, uint32_t timeoutMs) {
    constexpr uint32_t capacity = 64;
    pollfd fds[capacity];
    nfds_t used = 0;
    for (uint32_t i = 0; i < count && used < capacity; ++i) {
        if (entries[i].object == noWaitObject) {
            continue;
        }
        short events = 0;
        events |= (entries[i].events & waitInput) != 0 ? POLLIN : 0;
        events |= (entries[i].events & waitOutput) != 0 ? POLLOUT : 0;
        fds[used++] = {static_cast<int>(entries[i].object), events, 0};
    }
    // EINTR (a stop signal) ends the wait like a ready entry.
    poll(fds, used, static_cast<int>(timeoutMs));
}

void CatchStopRequests() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal; // no SA_RESTART: the wait returns at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A peer that went away must not end the program on a write (sends use MSG_NOSIGNAL too).
    signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
    return stopRequested != 0;
}

} // namespace tavro::platform
