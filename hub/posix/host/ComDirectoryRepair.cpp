#include "hub/posix/host/ComDirectoryRepair.h"

#include "platform/ErrorCodes.h"

namespace tavro::posixhub {

ComDirectoryRepair::Outcome ComDirectoryRepair::Tick() {
    if (++ticks_ < checkTicks) {
        return Outcome::Intact;
    }
    ticks_ = 0;
    return CheckNow();
}

ComDirectoryRepair::Outcome ComDirectoryRepair::CheckNow() {
    const bool lockIntact = !lock_.Held() || lock_.DirectoryLockIntact();
    const bool socketIntact = !server_.IsListening() || server_.SocketFilePresent();
    if (lockIntact && socketIntact && ports_.LinksIntact()) {
        return Outcome::Intact;
    }
    // The lock first: whoever holds it owns the directory.
    failure_ = lockIntact ? error::success : lock_.Reacquire();
    if (failure_ == error::success) {
        failure_ = ports_.RestoreLinks();
    }
    if (failure_ == error::success && !server_.SocketFilePresent()) {
        failure_ = server_.Relisten();
    }
    return failure_ == error::success ? Outcome::Repaired : Outcome::Lost;
}

} // namespace tavro::posixhub
