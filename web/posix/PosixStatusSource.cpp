// The POSIX hub tells the dashboard what `tavro status --json` shows: the status block and the
// hub's report from its command socket (one status query per look).
#include "web/StatusSource.h"

#include "hub/posix/config/ConfigApply.h"
#include "hub/posix/status/StatusGather.h"
#include "hub/posix/status/StatusReport.h"
#include "platform/posix/ComDirectory.h"

#include <nlohmann/json.hpp>

namespace tavro::web {
namespace {

// The settings the Windows main window has no room for, which the page may change (with
// --allow-changes): the network output and the decoding and relay choices.
constexpr const char* pageSettings[] = {"TCP Port",   "TCP Address", "TCP Clients",    "TCP Write",
                                        "UDP Target", "Multi GNSS",  "Immediate Relay"};

// The hub answers within a millisecond; one that takes this long is shown as not responding
// (and the dashboard's own loop is held no longer than this).
constexpr int queryTimeoutMs = 500;

class PosixStatusSource final : public StatusSource {
public:
    std::string Snapshot() override {
        const StatusFacts facts = GatherStatus(directory_, queryTimeoutMs);
        const char* hub = !facts.running    ? "notRunning"
                          : facts.hasReport ? "running"
                                            : "notResponding";
        return std::string("{\"hub\":\"") + hub +
               "\",\"edition\":\"posix\",\"status\":" + StatusJson(facts) + "}";
    }

    std::string Settings() override {
        nlohmann::json list = nlohmann::json::array();
        for (const char* name : pageSettings) {
            const char* arguments[] = {"get", name};
            std::string value;
            std::string errors;
            if (ConfigureSettings(2, arguments, value, errors) != 0) {
                continue;
            }
            while (!value.empty() && value.back() == '\n') {
                value.pop_back();
            }
            list.push_back({{"name", name}, {"value", value}});
        }
        return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }

    // `tavro config set NAME VALUE`, with its checks and refusals, and the hub told.
    bool ChangeSetting(const std::string& name, const std::string& value,
                       std::string& message) override {
        bool offered = false;
        for (const char* known : pageSettings) {
            offered = offered || name == known;
        }
        if (!offered) {
            message = "\"" + name + "\" is not changed from the dashboard (tavro config set)";
            return false;
        }
        const char* arguments[] = {"set", name.c_str(), value.c_str()};
        std::string output;
        const int code = ConfigureSettings(3, arguments, output, message);
        if (code == 0 && message.empty()) {
            message = "\"" + name + "\" is " + value;
        }
        return code == 0;
    }

private:
    platform::posix::ComDirectory directory_ = platform::posix::ComDirectory::FromEnvironment();
};

} // namespace

std::unique_ptr<StatusSource> MakeStatusSource() {
    return std::make_unique<PosixStatusSource>();
}

} // namespace tavro::web
