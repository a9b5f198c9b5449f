// The POSIX hub tells the dashboard what `tavro status --json` shows: the status block and the
// hub's report from its command socket (one status query per look).
#include "web/StatusSource.h"

#include "hub/posix/StatusGather.h"
#include "hub/posix/StatusReport.h"
#include "platform/posix/ComDirectory.h"

namespace tavro::web {
namespace {

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

private:
    platform::posix::ComDirectory directory_ = platform::posix::ComDirectory::FromEnvironment();
};

} // namespace

std::unique_ptr<StatusSource> MakeStatusSource() {
    return std::make_unique<PosixStatusSource>();
}

} // namespace tavro::web
