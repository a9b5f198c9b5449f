#include "hub/posix/command/SocketRunningHub.h"

#include "hub/posix/command/CommandSocket.h"
#include "platform/ErrorCodes.h"

namespace tavro::platform::posix {

bool SocketRunningHub::SendToRunningHub(uint32_t message, uintptr_t, intptr_t lParam) {
    const uint32_t value = static_cast<uint32_t>(lParam);
    const uint8_t payload[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                static_cast<uint8_t>(value >> 16),
                                static_cast<uint8_t>(value >> 24)};
    uint32_t answer = 0;
    const uint32_t result = SendHubCommand(directory_, message, payload, sizeof payload, answer);
    // Anything but "nobody listens" means a hub holds the socket, even one too busy to answer.
    found_ = result != error::fileNotFound && result != error::badPathName;
    return found_;
}

} // namespace tavro::platform::posix
