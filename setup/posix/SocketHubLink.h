// The setup tool's way to the POSIX hub: its command socket in the COM directory.
#pragma once

#include "platform/SharedMemory.h"
#include "platform/posix/ComDirectory.h"
#include "setup/HubLink.h"

#include <string>
#include <vector>

namespace tavro::feltro {

class SocketHubLink final : public setup::HubLink {
public:
    explicit SocketHubLink(const platform::posix::ComDirectory& directory)
        : directory_(directory) {}

    uint32_t FindHub() override;
    uint32_t Send(HubCommand code, const void* payload, uint32_t length) override;

    // The sentences that reached the hub (without their line end), to tell the user.
    const std::vector<std::string>& Sentences() const { return sentences_; }

private:
    const platform::posix::ComDirectory& directory_;
    std::vector<std::string> sentences_;
};

// Shared memory that never finds a mapping: a hub that no longer listens has left its status
// block behind as it was, and the tool must show "No GPS" rather than its last state.
class AbsentSharedMemory final : public platform::SharedMemory {
public:
    uint32_t CreateOrOpen(const char*, uint32_t, platform::SharedView& view) override;
    uint32_t Open(const char*, platform::SharedView& view) override;
    void Close(platform::SharedView& view) override { view = platform::SharedView{}; }
};

} // namespace tavro::feltro
