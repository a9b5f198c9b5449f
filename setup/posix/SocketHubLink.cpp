#include "setup/posix/SocketHubLink.h"

#include "hub/posix/command/CommandSocket.h"
#include "platform/ErrorCodes.h"

namespace tavro::feltro {

uint32_t SocketHubLink::FindHub() {
    return platform::posix::HubListens(directory_) ? error::success : error::fileNotFound;
}

uint32_t SocketHubLink::Send(HubCommand code, const void* payload, uint32_t length) {
    uint32_t answer = 0;
    const uint32_t result = platform::posix::SendHubCommand(directory_, static_cast<uint32_t>(code),
                                                            payload, length, answer);
    if (result == error::success && code == HubCommand::WriteToReceiver && length != 0) {
        std::string sentence(static_cast<const char*>(payload), length);
        while (!sentence.empty() &&
               (sentence.back() == '\0' || sentence.back() == '\n' || sentence.back() == '\r')) {
            sentence.pop_back();
        }
        sentences_.push_back(sentence);
    }
    return result != error::success ? result : answer;
}

uint32_t AbsentSharedMemory::CreateOrOpen(const char*, uint32_t, platform::SharedView& view) {
    view = platform::SharedView{};
    return error::fileNotFound;
}

uint32_t AbsentSharedMemory::Open(const char*, platform::SharedView& view) {
    view = platform::SharedView{};
    return error::fileNotFound;
}

} // namespace tavro::feltro
