// The Windows hub tells the dashboard what its status block holds; whether it runs and takes
// messages is asked of its window (WM_NULL, which gives it no work beyond the answer).
#include "web/StatusSource.h"

#include "common/GpsSharedStatus.h"
#include "hub/decode/StatusBlock.h"
#include "hub/ui/StatusJson.h"
#include "hub/ui/StatusText.h"
#include "platform/SharedMemory.h"
#include "platform/win32/Win32RunningHub.h"

namespace tavro::web {
namespace {

constexpr uint32_t probeTimeoutMs = 500;

class Win32StatusSource final : public StatusSource {
public:
    std::string Snapshot() override {
        using Presence = platform::Win32RunningHub::Presence;
        const Presence presence = platform::Win32RunningHub::Probe(probeTimeoutMs);
        GpsSharedStatus block{};
        const bool torn = PeekStatusBlock(platform::SystemSharedMemory(), platform::SystemTiming(),
                                          block) == PeekResult::Torn;
        const bool running = presence != Presence::absent;
        nlohmann::ordered_json status;
        status["hubRunning"] = running;
        char line[statusTextSize] = "Hub not running";
        if (running) {
            if (block.streamState >= static_cast<uint8_t>(StreamState::PortOpen)) {
                FormatStreamStatus(block, line);
            } else {
                FormatClosedReason(0, line);
            }
        }
        status["statusLine"] = line;
        nlohmann::ordered_json warnings = nlohmann::ordered_json::array();
        if (running && block.relayHeld != 0) {
            warnings.push_back("the relay is held: programs on the virtual ports receive nothing");
        }
        if (running && torn) {
            warnings.push_back(blockTornWarning);
        }
        status["warnings"] = std::move(warnings);
        if (running && !torn) {
            AddBlockJson(block, status);
        }
        nlohmann::ordered_json snapshot;
        snapshot["hub"] = presence == Presence::absent       ? "notRunning"
                          : presence == Presence::responding ? "running"
                                                             : "notResponding";
        snapshot["edition"] = "windows";
        snapshot["status"] = std::move(status);
        return snapshot.dump();
    }
};

} // namespace

std::unique_ptr<StatusSource> MakeStatusSource() {
    return std::make_unique<Win32StatusSource>();
}

} // namespace tavro::web
