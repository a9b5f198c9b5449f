// Power handling: standby and resume (WM_POWERBROADCAST), the restart devices around them,
// and the video reset after start and resume.
//
// Before the machine sleeps the input port is closed (its log with it) and the restart
// devices are stopped; after it wakes they are started again, the port is re-opened 30 ticks
// (1.5 s) later and, with "Video Reset", the display is switched off for a moment and on
// again. The query messages count already: a refused query's "failed" message brings
// everything back.
//
// devicesActive is 1 while the restart devices are in the started state: 1 after the message
// window's start, 0 at going down, 1 at coming back, 0 at exit. A resume while it is 1 (a
// resume without a suspend before it) only restarts the countdowns.
//
// All of it runs on the message window's thread; device state changes and the display
// broadcasts block that thread (and the timer loop) for as long as the system takes.
#pragma once

#include "hub/engine/HubContext.h"
#include "hub/engine/RestartDevices.h"
#include "hub/settings/RestartDevice.h"
#include "platform/DisplayPower.h"
#include "platform/SerialPortMap.h"
#include "platform/UsbDevices.h"

#include <stdint.h>

namespace tavro {

// What a WM_POWERBROADCAST wParam asks of the hub: 0, 1, 4, 5 (query suspend, query standby,
// suspend, standby) go down; 2, 3, 7, 8 (the queries failed, resume from suspend or standby)
// come back; 6 (resume critical) and everything above 8 ask nothing.
enum class PowerTransition : uint8_t { None, GoingDown, ComingBack };
PowerTransition PowerTransitionOf(uintptr_t wParam);

// The video countdown, in ticks: set at the start and at every resume; the display goes off
// when it reaches 85 (0.75 s later) and on again 2 x "VSyncDelay" ticks after that; at 0
// (5 s) the restart devices with bit 1 are enabled and started once more (RestartDevices.h).
inline constexpr uint32_t videoCountdownStart = 100;
inline constexpr uint32_t displayOffAt = 85;
// The longest display-off time, in units of 100 ms, that still ends before the countdown does.
// A larger "VSyncDelay" would put the on message past the end of the countdown, where it is
// never sent, and leave the user in front of a dark screen: it counts as this.
inline constexpr uint32_t maxVSyncDelay = 42;

// The countdown value at which the display is switched on again.
uint32_t DisplayOnAt(uint32_t vSyncDelay);

class PowerHandling {
public:
    // All must outlive this object. `devices` is the hub's restart device table. A null
    // `usbDevices` is a set that could not be made (every device operation fails); a null
    // `displayPower` switches nothing.
    PowerHandling(HubContext& hub, RestartDeviceTable& devices,
                  platform::SerialPortMap& serialPortMap, platform::UsbDevices* usbDevices,
                  platform::DisplayPower* displayPower);

    // Process entry: makes the present-USB device set for the whole run (false: none; every
    // device operation then fails quietly). Process exit: destroys it.
    bool MakeDeviceSet() { return usbDevices_ != nullptr && usbDevices_->Open(); }
    void DestroyDeviceSet() {
        if (usbDevices_ != nullptr) {
            usbDevices_->Close();
        }
    }

    // The message window's start: the bring-up of the restart devices (see RestartDevices.h).
    void BringUp() { BringUpRestartDevices(usbDevices_, devices_); }

    // WM_POWERBROADCAST with `wParam` (lParam is not used; the hub never refuses a suspend).
    void PowerBroadcast(uintptr_t wParam);

    // Timer-loop step 6, while the video countdown runs: lowers it by one; with "Video Reset"
    // switches the display off at 85 and on at DisplayOnAt("VSyncDelay"), tested in that order
    // in the same tick (so "VSyncDelay" 0 sends both in one tick); at 0 enables and starts the
    // restart devices with bit 1, results ignored.
    void VideoCountdown();

    // devicesActive 0; every restart device stopped, bit 1 cleared.
    void StopRestartDevices();
    // devicesActive 1; every restart device started (bit 1: the start failed); then the
    // system's serial port map is read again, so that ports that came back are known.
    void StartRestartDevices();

    // The message window's end: a display this hub switched off is switched on again, then the
    // restart devices are stopped.
    void Shutdown();

    // The display was switched off and not yet on again.
    bool DisplayOff() const { return displayOff_; }

private:
    void GoingDown();
    void ComingBack();
    void SwitchDisplay(platform::DisplayState state);

    HubContext& hub_;
    RestartDeviceTable& devices_;
    platform::SerialPortMap& serialPortMap_;
    platform::UsbDevices* usbDevices_;
    platform::DisplayPower* displayPower_;
    // Set by the off message, cleared by the on message: once off, the display is switched on
    // at its time even if "Video Reset" was unticked meanwhile, and at exit at the latest.
    bool displayOff_ = false;
};

} // namespace tavro
