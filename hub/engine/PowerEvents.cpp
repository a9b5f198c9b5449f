#include "hub/engine/PowerEvents.h"

#include "hub/engine/ComNumbering.h"
#include "hub/engine/GpsPort.h"

namespace tavro {
namespace {

// idleTicks after coming back: the timer loop's idle re-open (at 150) follows 30 ticks later.
constexpr uint32_t resumeIdleTicks = 120;

} // namespace

PowerTransition PowerTransitionOf(uintptr_t wParam) {
    switch (wParam) {
    case 0: // PBT_APMQUERYSUSPEND
    case 1: // PBT_APMQUERYSTANDBY
    case 4: // PBT_APMSUSPEND
    case 5: // PBT_APMSTANDBY
        return PowerTransition::GoingDown;
    case 2: // PBT_APMQUERYSUSPENDFAILED
    case 3: // PBT_APMQUERYSTANDBYFAILED
    case 7: // PBT_APMRESUMESUSPEND
    case 8: // PBT_APMRESUMESTANDBY
        return PowerTransition::ComingBack;
    default:
        // 6, resume after a critical suspend: nobody was told of the suspend, so the port and
        // the devices were never let go. Above 8: battery and power-setting news. An automatic
        // wake (18) is followed by 7 once the user is back.
        return PowerTransition::None;
    }
}

uint32_t DisplayOnAt(uint32_t vSyncDelay) {
    const uint32_t delay = vSyncDelay < maxVSyncDelay ? vSyncDelay : maxVSyncDelay;
    return displayOffAt - 2 * delay;
}

PowerHandling::PowerHandling(HubContext& hub, RestartDeviceTable& devices,
                             platform::SerialPortMap& serialPortMap,
                             platform::UsbDevices* usbDevices, platform::DisplayPower* displayPower)
    : hub_(hub), devices_(devices), serialPortMap_(serialPortMap), usbDevices_(usbDevices),
      displayPower_(displayPower) {}

void PowerHandling::PowerBroadcast(uintptr_t wParam) {
    switch (PowerTransitionOf(wParam)) {
    case PowerTransition::GoingDown:
        GoingDown();
        break;
    case PowerTransition::ComingBack:
        ComingBack();
        break;
    case PowerTransition::None:
        break;
    }
}

void PowerHandling::GoingDown() {
    TimerLoopValues& loop = hub_.loop;
    if (hub_.InputConfigured()) {
        // The log is closed with the port, so nothing waits in memory while the machine sleeps
        // and the next data after resume begins a new file.
        if (hub_.inputPort != nullptr) {
            hub_.inputPort->Close();
        }
        loop.idleTicks = 0;
        loop.dataTicks = 0;
        loop.lastStatus = refreshStatus;
    }
    if (loop.devicesActive == 1) {
        StopRestartDevices();
    }
}

void PowerHandling::ComingBack() {
    TimerLoopValues& loop = hub_.loop;
    if (loop.devicesActive == 0) {
        StartRestartDevices();
    }
    loop.videoCountdown = videoCountdownStart;
    loop.idleTicks = resumeIdleTicks;
    // Battery Saver opens the port at the next tick when anyone besides the hub uses it.
    loop.prevUsers = 1;
}

void PowerHandling::VideoCountdown() {
    TimerLoopValues& loop = hub_.loop;
    if (loop.videoCountdown == 0) {
        return;
    }
    const uint32_t left = --loop.videoCountdown;
    const bool videoReset = (hub_.settings.optionFlags & OptionFlags::videoReset) != 0;
    if (videoReset && left == displayOffAt) {
        SwitchDisplay(platform::DisplayState::Off);
    }
    if ((videoReset || displayOff_) && left == DisplayOnAt(hub_.settings.vSyncDelay)) {
        SwitchDisplay(platform::DisplayState::On);
    }
    if (left == 0 && !RestartListEmpty(devices_)) {
        RetryFlaggedDevices(usbDevices_, devices_);
    }
}

void PowerHandling::StopRestartDevices() {
    hub_.loop.devicesActive = 0;
    StopDevices(usbDevices_, devices_);
}

void PowerHandling::StartRestartDevices() {
    hub_.loop.devicesActive = 1;
    StartDevices(usbDevices_, devices_);
    if (hub_.search.scanThreadCount.load() == 0) {
        ScanSerialPorts(serialPortMap_, hub_.comDbBitmap, hub_.search);
    } else {
        // The running search's threads own the per-port states now: the ports that came back
        // join the bitmap only. The next search scans afresh anyway.
        SearchValues untouched;
        ScanSerialPorts(serialPortMap_, hub_.comDbBitmap, untouched);
    }
    ComDbBitmapChanged();
}

void PowerHandling::Shutdown() {
    if (displayOff_) {
        SwitchDisplay(platform::DisplayState::On);
    }
    StopRestartDevices();
}

void PowerHandling::SwitchDisplay(platform::DisplayState state) {
    // A failed broadcast is ignored: the next reset tries again.
    if (displayPower_ != nullptr) {
        displayPower_->SetDisplayPower(state);
    }
    displayOff_ = state == platform::DisplayState::Off;
}

} // namespace tavro
