#include "hub/posix/host/RunUpkeep.h"

#include "common/DriverExchangeBlock.h"
#include "platform/ErrorCodes.h"

namespace tavro::posixhub {

bool PortsRetryable(uint32_t result) {
    return result != error::success && result != error::fileNotFound &&
           result != error::invalidParameter;
}

bool RunUpkeep::RetryPorts(uint32_t& result) {
    if (ports_.IsOpen() || !PortsRetryable(ports_.LastOpenResult()) ||
        ++ticksSinceAttempt_ < portRetryTicks) {
        return false;
    }
    ticksSinceAttempt_ = 0;
    result = ports_.Open(controlDeviceName);
    return true;
}

} // namespace tavro::posixhub
