#include "hub/posix/host/RunSupervisor.h"

#include "hub/posix/host/LinkGuardian.h"
#include "hub/posix/host/RunReport.h"
#include "platform/ErrorCodes.h"

#include <cstdio>

namespace tavro::posixhub {

void RunSupervisor::Attach(EventLoop& loop, LiveSettings& live, ServiceNotices& notices,
                           SystemEventSources& events) {
    loop_ = &loop;
    live_ = &live;
    notices_ = &notices;
    events_ = &events;
    upkeep_.emplace(lock_, ports_, loop.Server());
}

void RunSupervisor::Started(HubEngine& engine) {
    engine_ = &engine;
    // Programs must not go without data across a start or a restart through the service
    // manager: a port the settings name opens at the first tick, not after the start's wait
    // of about 2.5 s. The wait stays where it is needed: without a port (a GPS search may
    // come) and with Battery Saver (the port opens when a program arrives).
    HubContext& hub = engine.Context();
    if (hub.settings.port != 0 && (hub.settings.optionFlags & OptionFlags::batterySaver) == 0) {
        hub.loop.idleTicks = idleReopenTicks;
    }
    log_.Started(engine);
    events_->Start(*loop_);
    // The service manager hears of the terminals first: a restart gives them back.
    notices_->Ticked(ports_);
    char status[platform::posix::comPathCapacity + 32];
    std::snprintf(status, sizeof status, "running, COM directory %s", directory_.Path());
    notices_->Ready(status);
}

uint32_t RunSupervisor::ReloadSettings() {
    notices_->Reloading();
    LiveSettings::Outcome outcome;
    const uint32_t result = live_->Apply(outcome);
    events_->Refresh();
    log_.SettingsReadAgain(*engine_, outcome.portsChanged || result != error::success);
    notices_->Ticked(ports_);
    notices_->Ready("settings read again");
    return result;
}

void RunSupervisor::Ticked(HubEngine& engine) {
    if (upkeep_) {
        switch (upkeep_->KeepDirectory()) {
        case ComDirectoryRepair::Outcome::Intact:
            break;
        case ComDirectoryRepair::Outcome::Repaired:
            log_.DirectoryRepaired();
            events_->Refresh();
            break;
        case ComDirectoryRepair::Outcome::Lost:
            log_.DirectoryLost(upkeep_->Failure());
            failed_ = true;
            loop_->RequestStop();
            return;
        }
        uint32_t result = 0;
        if (upkeep_->RetryPorts(result)) {
            log_.PortsRetried(engine, result);
        }
    }
    log_.Ticked(engine);
    if (ticks_ % 10 == 0) { // twice a second, as the COM directory's upkeep
        bool restored = false;
        bool lockRestored = false;
        uint32_t result = engine.Context().statusBlock.RestoreName(restored);
        const uint32_t lockResult = lock_.KeepBlockName(lockRestored);
        log_.StatusBlockKept(result != 0 ? result : lockResult, restored || lockRestored);
    }
    // Once a second is soon enough: the guardian only matters when the hub ends.
    if (++ticks_ % 20 == 0 && GuardianEnded(guardian_)) {
        const int ended = guardian_;
        guardian_ = StartLinkGuardian();
        log_.GuardianRestarted(ended, guardian_);
    }
    log_.FollowCommandSocket(loop_->Server());
    live_->StoreSpeedChange();
    notices_->Ticked(ports_);
    events_->Ticked();
}

void RunSupervisor::Stopping(int signal) {
    notices_->Stopping();
    log_.Stopping(signal);
}

void RunSupervisor::PublishFailed(uint32_t result) {
    publishFailed_ = true;
    log_.PublishFailed(result);
}

void RunSupervisor::Describe(HubEngine& engine, HubReport& report) {
    DescribeRunningHub(engine, directory_, ports_, report);
}

} // namespace tavro::posixhub
