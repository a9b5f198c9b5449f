// What `tavro run` does around the engine's loop: at the start, on a reload (`tavro config
// set`, SIGHUP under a service manager), after every tick and at the stop it hands the work to
// its parts (the run log, the upkeep, the live settings, the service manager's notices, the
// system's event sources) and answers the status query.
#pragma once

#include "hub/engine/HubEngine.h"
#include "hub/posix/host/EventLoop.h"
#include "hub/posix/host/LiveSettings.h"
#include "hub/posix/host/RunLog.h"
#include "hub/posix/host/RunUpkeep.h"
#include "hub/posix/host/ServiceNotices.h"
#include "hub/posix/host/SystemEvents.h"
#include "hub/posix/instance/InstanceLock.h"
#include "hub/posix/ports/PtyPortSet.h"
#include "hub/posix/status/HubReport.h"
#include "platform/posix/ComDirectory.h"
#include "platform/posix/ConsoleLog.h"

#include <optional>
#include <stdint.h>

namespace tavro::posixhub {

class RunSupervisor final : public LoopObserver {
public:
    RunSupervisor(const platform::posix::ComDirectory& directory,
                  platform::posix::PtyPortSet& ports, platform::posix::InstanceLock& lock,
                  bool settingsUnreadable, platform::posix::ConsoleLog& log)
        : directory_(directory), ports_(ports), lock_(lock),
          log_(log, directory, ports, settingsUnreadable) {}

    // The parts that exist only once the loop and the engine do.
    void Attach(EventLoop& loop, LiveSettings& live, ServiceNotices& notices,
                SystemEventSources& events);

    void Started(HubEngine& engine) override;
    uint32_t ReloadSettings() override;
    void Ticked(HubEngine& engine) override;
    void Stopping(int signal) override;
    void PublishFailed(uint32_t result) override;
    void Describe(HubEngine& engine, HubReport& report) override;

    // The command socket could not be made, or the COM directory was lost.
    bool Failed() const { return publishFailed_ || failed_; }

    // The guardian of the links (LinkGuardian.h), `pid`: another is started when it ends (a
    // stray kill must not leave the links unguarded).
    void KeepGuardian(int pid) { guardian_ = pid; }

private:
    platform::posix::ComDirectory directory_;
    platform::posix::PtyPortSet& ports_;
    platform::posix::InstanceLock& lock_;
    RunLog log_;
    EventLoop* loop_ = nullptr;
    HubEngine* engine_ = nullptr;
    LiveSettings* live_ = nullptr;
    ServiceNotices* notices_ = nullptr;
    SystemEventSources* events_ = nullptr;
    std::optional<RunUpkeep> upkeep_;
    bool publishFailed_ = false;
    bool failed_ = false;
    int guardian_ = -1;
    uint32_t ticks_ = 0;
};

} // namespace tavro::posixhub
