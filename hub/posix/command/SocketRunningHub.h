// The hub that already runs for a COM directory, reached through its command socket: a second
// `tavro run` hands it message 1025 instead of starting another hub there.
#pragma once

#include "platform/RunningHub.h"
#include "platform/posix/ComDirectory.h"

namespace tavro::platform::posix {

class SocketRunningHub final : public RunningHub {
public:
    explicit SocketRunningHub(const ComDirectory& directory) : directory_(directory) {}

    // Only `lParam` travels (as 4 bytes after the code); wParam has no use on this channel.
    bool SendToRunningHub(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // Whether the last SendToRunningHub found a hub.
    bool Found() const { return found_; }

private:
    ComDirectory directory_;
    bool found_ = false;
};

} // namespace tavro::platform::posix
