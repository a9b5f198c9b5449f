// `tavro config`: the settings by name (ConfigCommand), checked against the COM directory and
// this system, then handed to a running hub.
#include "hub/posix/ConfigCommand.h"
#include "hub/posix/LiveSettings.h"
#include "hub/posix/Verbs.h"

#include "hub/posix/command/CommandSocket.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/SystemClockRights.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/FileRegistry.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace tavro::posixhub {
namespace {

using platform::posix::ComDirectory;
using platform::posix::comPathCapacity;

class SystemSurroundings final : public ConfigSurroundings {
public:
    explicit SystemSurroundings(const ComDirectory& directory) : directory_(directory) {}
    bool ComNamesDevice(uint32_t comNumber, std::string& device) const override {
        char path[comPathCapacity];
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
int ApplyToRunningHub() {
    const ComDirectory directory = ComDirectory::FromEnvironment();
    uint32_t answer = 0;
    const uint32_t result = platform::posix::SendHubCommand(directory, posixhub::reloadSettingsCode,
                                                            nullptr, 0, answer);
    if (result == error::fileNotFound || result == error::badPathName) {
        return exitOk; // no hub: it reads the settings when it starts
    }
    if (result != error::success) {
        std::fprintf(stderr,
                     "tavro config: stored, but the running hub did not take it (error "
                     "%u); it applies at the hub's next start\n",
                     static_cast<unsigned>(result));
        return exitFailed;
    }
    if (answer == error::success || answer == error::fileNotFound) {
        return exitOk; // applied (virtual port 1 without a number: the ports are off)
    }
    if (answer == error::alreadyExists) {
        std::fprintf(stderr, "tavro config: stored, but the running hub cannot use the virtual "
                             "port numbers: one is taken by another device or given twice\n");
    } else {
        std::fprintf(stderr,
                     "tavro config: stored, but the running hub could not apply the "
                     "virtual port numbers (error %u)\n",
                     static_cast<unsigned>(answer));
    }
    return exitFailed;
}

} // namespace

int ConfigVerb(int argc, char** argv) {
    std::string output;
    std::string errors;
    platform::FileRegistry& registry = platform::SystemFileRegistry();
    const uint32_t problems = registry.ProblemCount();
    const SystemSurroundings surroundings(ComDirectory::FromEnvironment());
    int code = RunConfigCommand(registry, &surroundings, argc, argv, output, errors);
    std::fputs(output.c_str(), stdout);
    if (!errors.empty()) {
        std::fprintf(stderr, "tavro config: %s", errors.c_str());
    }
    // The store has said why on stderr; what could be done was done.
    if (code == configOk && registry.ProblemCount() != problems) {
        code = exitSettings;
    }
    if (code == configOk && argc >= 1 && std::strcmp(argv[0], "set") == 0) {
        code = ApplyToRunningHub();
    }
    return code;
}

} // namespace tavro::posixhub
