// The single-instance test of `tavro run`: the instance lock decides, before the hub creates
// anything, whether this process is the hub. A process that loses hands the running hub the
// message (1025) and touches nothing else; the winner may still be starting, so the loser
// tries for a while until the winner's command socket answers (or the winner dies and the
// lock is free again, and then this process becomes the hub).
#pragma once

#include "hub/posix/instance/InstanceLock.h"
#include "platform/RunningHub.h"
#include "platform/posix/ComDirectory.h"

#include <stdint.h>

namespace tavro::platform::posix {

// How long a losing start waits for the winner to answer.
inline constexpr int handOverPatienceMs = 10000;

class SingleInstance final : public RunningHub {
public:
    SingleInstance(const ComDirectory& directory, const char* blockName)
        : directory_(directory), blockName_(blockName) {}

    // True when this process must not run the hub: another hub was found (HandedOver) or the
    // lock could not be taken (Failure). False: this process holds the lock (Lock()) and is
    // the hub.
    bool SendToRunningHub(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // The running hub got the message.
    bool HandedOver() const { return handedOver_; }
    // Why the lock could not be taken: error::success when it was, or a hub was found;
    // error::alreadyExists when a hub holds it but never answered within the patience;
    // error::semTimeout when a hub listens but does not answer (stopped or hung: no hand-over,
    // HolderPid tells which).
    uint32_t Failure() const { return failure_; }
    int HolderPid() const { return holderPid_; }
    // The COM directory of the hub that was found.
    const char* RunningHubDirectory() const { return lock_.HolderDirectory(); }

    InstanceLock& Lock() { return lock_; }

private:
    ComDirectory directory_;
    const char* blockName_;
    InstanceLock lock_;
    bool handedOver_ = false;
    uint32_t failure_ = 0;
    int holderPid_ = 0;
};

} // namespace tavro::platform::posix
