#include "hub/posix/instance/SingleInstance.h"

#include "hub/posix/command/CommandSocket.h"
#include "platform/ErrorCodes.h"
#include "platform/posix/MonotonicClock.h"

#include <time.h>

namespace tavro::platform::posix {
namespace {

constexpr int retryPauseMs = 50;
// Per attempt: a hub that has its socket answers at once.
constexpr int answerPatienceMs = responseDeadlineMs;

void Pause(int milliseconds) {
    timespec pause{0, static_cast<long>(milliseconds) * 1000000L};
    nanosleep(&pause, nullptr);
}

} // namespace

bool SingleInstance::SendToRunningHub(uint32_t message, uintptr_t, intptr_t lParam) {
    handedOver_ = false;
    failure_ = error::success;
    const uint32_t value = static_cast<uint32_t>(lParam);
    const uint8_t payload[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                static_cast<uint8_t>(value >> 16),
                                static_cast<uint8_t>(value >> 24)};
    const int64_t deadline = MonotonicMs() + handOverPatienceMs;
    for (;;) {
        const uint32_t locked = lock_.Acquire(directory_, blockName_);
        if (locked == error::success) {
            return false;
        }
        if (locked != error::alreadyExists) {
            failure_ = locked;
            return true;
        }
        uint32_t answer = 0;
        const ComDirectory holder(lock_.HolderDirectory());
        const uint32_t sent =
            SendHubCommand(holder, message, payload, sizeof payload, answer, answerPatienceMs);
        if (sent == error::success) {
            handedOver_ = true;
            return true;
        }
        // Its socket took the message but nobody reads it: a hub stopped or hung must not be
        // taken for one that runs.
        if (sent == error::semTimeout) {
            HubListens(holder, &holderPid_);
            failure_ = error::semTimeout;
            return true;
        }
        if (MonotonicMs() >= deadline) {
            failure_ = error::alreadyExists;
            return true;
        }
        Pause(retryPauseMs); // the winner is still starting, or just died
    }
}

} // namespace tavro::platform::posix
