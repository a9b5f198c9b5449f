#include "hub/posix/config/ConfigApply.h"

#include "hub/posix/command/CommandSocket.h"
#include "hub/posix/config/ConfigCommand.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/SystemClockRights.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/FileRegistry.h"

#include <cstring>

namespace tavro {
namespace {

using platform::posix::ComDirectory;

constexpr int notTaken = 1;

class SystemSurroundings final : public ConfigSurroundings {
public:
    explicit SystemSurroundings(const ComDirectory& directory) : directory_(directory) {}
    bool ComNamesDevice(uint32_t comNumber, std::string& device) const override {
        char path[platform::posix::comPathCapacity];
        bool present = false;
        if (!directory_.IsValid() ||
            directory_.Resolve(comNumber, path, present) != error::success || !present) {
            return false;
        }
        device = path;
        return true;
    }
    bool MaySetClock() const override { return platform::posix::MaySetSystemClock(); }

private:
    ComDirectory directory_;
};

// A running hub takes a stored change at once (it reads every setting again).
int ApplyToRunningHub(const ComDirectory& directory, std::string& errors) {
    uint32_t answer = 0;
    const uint32_t result = platform::posix::SendHubCommand(
        directory, platform::posix::reloadSettingsCode, nullptr, 0, answer);
    if (result == error::fileNotFound || result == error::badPathName) {
        return configOk; // no hub: it reads the settings when it starts
    }
    if (result != error::success) {
        errors += "stored, but the running hub did not take it (error " + std::to_string(result) +
                  "); it applies at the hub's next start\n";
        return notTaken;
    }
    if (answer == error::success || answer == error::fileNotFound) {
        return configOk; // applied (virtual port 1 without a number: the ports are off)
    }
    if (answer == error::alreadyExists) {
        errors += "stored, but the running hub cannot use the virtual port numbers: one is "
                  "taken by another device or given twice\n";
    } else {
        errors += "stored, but the running hub could not apply the virtual port numbers "
                  "(error " +
                  std::to_string(answer) + ")\n";
    }
    return notTaken;
}

} // namespace

int ConfigureSettings(int argc, const char* const* argv, std::string& output, std::string& errors) {
    platform::FileRegistry& registry = platform::SystemFileRegistry();
    const uint32_t problems = registry.ProblemCount();
    const ComDirectory directory = ComDirectory::FromEnvironment();
    const SystemSurroundings surroundings(directory);
    int code = RunConfigCommand(registry, &surroundings, argc, argv, output, errors);
    // The store has said why on stderr; what could be done was done.
    if (code == configOk && registry.ProblemCount() != problems) {
        code = configNotStored;
    }
    if (code == configOk && argc >= 1 && std::strcmp(argv[0], "set") == 0) {
        code = ApplyToRunningHub(directory, errors);
    }
    return code;
}

} // namespace tavro
