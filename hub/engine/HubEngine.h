// The hub's heart: the message window's handlers and its 50 ms timer tick, written once for
// every edition. A front end forwards its window messages here (Windows: dialog 107's window
// procedure; POSIX: the event loop) and owns the timer that calls Tick. The engine owns the
// hub-wide values (HubContext) and the main input port.
//
// Everything runs on one thread: the front end must call every member from the thread that
// runs the message window.
#pragma once

#include "common/GpsSharedStatus.h"
#include "hub/decode/GnssState.h"
#include "hub/decode/PreciseFix.h"
#include "hub/engine/ComNumbering.h"
#include "hub/engine/GpsSearch.h"
#include "hub/engine/HubContext.h"
#include "hub/engine/MainWindow.h"
#include "hub/engine/MessageWindow.h"
#include "hub/engine/NetworkOutput.h"
#include "hub/engine/PowerEvents.h"
#include "hub/engine/TrackLog.h"
#include "hub/install/DriverInstaller.h"
#include "hub/settings/RestartDevice.h"
#include "hub/settings/SettingsStore.h"
#include "hub/time/TimeExport.h"
#include "platform/DisplayPower.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/Notifier.h"
#include "platform/Registry.h"
#include "platform/RunningHub.h"
#include "platform/SerialPortMap.h"
#include "platform/ServiceControl.h"
#include "platform/Sound.h"
#include "platform/Threads.h"
#include "platform/Tray.h"
#include "platform/UsbDevices.h"

#include <optional>
#include <span>
#include <stdint.h>

namespace tavro {

// The driver package and its kernel service: what the driver installer needs besides the
// registry and the notifier.
struct DriverSetup {
    platform::FileSystem& fileSystem; // the program file, the driver file, the module path
    platform::ServiceControl& serviceControl;
};

// The services of the edition the hub runs in. All must outlive the engine.
struct HubServices {
    HubSystem system;                       // serial ports, driver, status block, clock, waits
    platform::Registry& registry;           // the settings key
    platform::SerialPortMap& serialPortMap; // present COM ports
    platform::Tray& tray;
    platform::Sound& sound;
    platform::Notifier& notifier;
    MessageWindow& messageWindow;
    MainWindow& mainWindow;
    TrackLog* trackLog = nullptr; // the input port's log; null: received bytes are not logged
    // The GPS search's threads (front ends pass &platform::SystemThreads()); null: no thread
    // can be made, so every search ends at once having found nothing.
    platform::Threads* threads = nullptr;
    // The driver installer's services (Windows). Null where the edition installs no driver
    // (POSIX: its virtual ports are the hub's own): the static start-up then only opens the
    // control device, and there is no program file to check or driver to enable.
    const DriverSetup* driverSetup = nullptr;
    // Power handling: the present-USB device set of the restart devices and the display switch
    // of "Video Reset" (Windows: &platform::SystemUsbDevices(), &platform::SystemDisplayPower()).
    // Null: none, every device operation and display switch fails quietly.
    platform::UsbDevices* usbDevices = nullptr;
    platform::DisplayPower* displayPower = nullptr;
    // The network output's sockets (&platform::SystemNetwork() where there is one). Null: the
    // hub serves no network.
    platform::Network* network = nullptr;
    // The time services' shared-memory clocks ("NTP Unit"; &platform::SystemTimeService()).
    // Null: no time export.
    platform::TimeService* timeService = nullptr;
    // The receiver's pulse-per-second ("PPS"; the POSIX front end's PulsePerSecond). Null:
    // none, and "PPS" does nothing.
    PulseSource* pulse = nullptr;
};

// The message window's timer period.
inline constexpr uint32_t hubTickPeriodMs = 50;
// Ticks without a frame after which the timer loop closes the input port and opens it again
// (7.5 s); the port's first open comes when the count reaches it.
inline constexpr uint32_t idleReopenTicks = 150;

// Mouse messages of the tray icon that toggle the main window (lParam of message 1025).
inline constexpr intptr_t trayDoubleClick = 0x203;   // WM_LBUTTONDBLCLK
inline constexpr intptr_t trayRightButtonUp = 0x205; // WM_RBUTTONUP

// True when the command line (without the program name) is "HIDE" in any case.
bool IsHideArgument(const char* commandLine);

class HubEngine final : private NetworkSink {
public:
    explicit HubEngine(const HubServices& services);
    ~HubEngine();

    HubEngine(const HubEngine&) = delete;
    HubEngine& operator=(const HubEngine&) = delete;

    // Process entry: "HIDE" keeps the main window closed at start.
    void SetStartHidden(bool hidden);

    // Static start-up, run by the first instance only (after the single-instance test, so a
    // second start never touches the running hub's driver): clears the exchange record, opens
    // the control device (with the driver installer: after starting an installed driver
    // service when the device is missing) and, when it opened, makes one exchange and records
    // driverPresent. Returns driverPresent.
    bool StaticAttach();

    // WM_INITDIALOG: loads the settings (the built-in defaults, then the user's stored values:
    // a front end that overrides a setting does so afterwards), adds the tray icon, attaches the
    // status block and creates the input port, opens the main window unless the driver is
    // present or "HIDE" was given, publishes the window and starts the timer. Returns 1.
    int InitDialog();

    // WM_TIMER, timer 0: one tick of the timer loop.
    void Tick();

    // ---- What the front end's loop waits on besides the tick and messages ----------------
    // With "Immediate Relay" the receiver's bytes are read, relayed and decoded as they
    // arrive, not at the next tick, and bytes for the receiver are written as its line takes
    // them. Ask after every wake (ports open and close): fills at most `capacity` entries
    // and returns how many; none while nothing is to be waited for.
    uint32_t CollectWaits(platform::WaitEntry* entries, uint32_t capacity);

    // An entry's object is ready for `events` (platform::waitInput, waitOutput; waitHangUp
    // when the POSIX loop saw the line hang up).
    void WaitReady(uint32_t token, uint8_t events);

    // WM_COPYDATA: HubCommand `code` with `size` payload bytes at `data` (valid only during the
    // call; never read beyond `size`). Unknown codes are ignored, and so are: an InjectFrame
    // payload that is empty or longer than a frame (510 bytes), a ChangeBaud payload shorter
    // than its 4 bytes, and any payload whose pointer is null. WriteToReceiver writes exactly
    // `size` bytes while the input port is open, up to writeToReceiverMax (a larger payload is
    // dropped whole). Commands other than ChangeBaud need the input
    // port object (between InitDialog and Destroy).
    void CopyData(uint32_t code, const void* data, uint32_t size);

    // Whether the last InjectFrame payload was taken: false when it was refused (see CopyData)
    // or failed its checksum, so a front end with a way to answer can say so.
    bool LastInjectTaken() const { return lastInjectTaken_; }

    // Message 1025 (ToggleMainWindow): lParam is the tray icon's mouse message.
    void ToggleMainWindow(intptr_t lParam);

    // WM_DEVICECHANGE, any wParam: while the input port is closed, a GPS search starts 10 ticks
    // (0.5 s) after the last device change, its result not applied ("Port" and "Baud" stay).
    void DeviceChanged();

    // WM_POWERBROADCAST with `wParam`: standby and resume (see PowerEvents.h). Answer 0: the
    // hub never refuses a suspend. Ignored outside InitDialog .. Destroy.
    void PowerBroadcast(uintptr_t wParam) {
        // Before the start or after the end a resume would start devices never brought up.
        if (windowUp_) {
            power_.PowerBroadcast(wParam);
            context_.statusBlock.Publish();
        }
    }

    // WM_DESTROY: the orderly shutdown of everything the message window started.
    void Destroy();

    // Process entry and exit: the present-USB device set for the whole run (false: none).
    bool MakeUsbDeviceSet() { return power_.MakeDeviceSet(); }
    void DestroyUsbDeviceSet() { power_.DestroyDeviceSet(); }

    // Process exit: closes the control device if it is still open.
    void ProcessExit();

    // "Enable Ports" of the main window, ticked (EnablePorts) or unticked (DisablePorts):
    // installs, starts and opens the driver, or closes, stops and removes it (a virtual port
    // still in use keeps it running). Unless the driver image could not be extracted, the
    // settings are saved afterwards, which writes or removes the autostart entry with the
    // ports' state, and the result is true: the main window brings its controls up to date.
    // False when nothing changed (no image, or an edition without a driver installer).
    bool EnablePorts();
    bool DisablePorts();

    // ---- For the main window (dialog 105) ----
    // Its closing: the ticked rows of its device list become the restart devices, then every
    // setting is saved, the autostart entry following the ports.
    void SaveMainWindowSettings(std::span<const DeviceListRow> rows);

    HubContext& Context() { return context_; }
    const HubContext& Context() const { return context_; }

    // The status block the hub writes: the shared one between InitDialog and Destroy, or the
    // private stand-in when the mapping could not be made (never missing).
    GpsSharedStatus& Status();

    // The fix at full precision, kept beside the block by the decoders (PreciseFix.h): for
    // readers in the hub that want the receiver's digits. All unknown while there is no input
    // port.
    const PreciseFix& Precise() const;

    // Every satellite the receiver reports in view, each once, at most `capacity` of them
    // (the block holds the best twelve). Returns how many were written: 0 without an input
    // port or where only the block's table is known (SiRF binary, "Multi GNSS" off).
    int Sky(SkySatellite* out, int capacity);

    // The USB devices to stop and start around standby, as loaded with the settings.
    RestartDeviceTable& RestartDevices() { return restartDevices_; }

    // The GPS search, for the main window ("Find GPS", progress, result, cancel).
    GpsSearch& Search() { return search_; }

    // The present-USB device set, for the main window's device list (ReadRow); null when the
    // edition has none.
    platform::UsbDevices* UsbDeviceSet() { return services_.usbDevices; }

    // Standby, resume and the video reset.
    PowerHandling& Power() { return power_; }

    // The network output ("TCP Port", "UDP Target"), for the status report and the windows.
    const NetworkOutput& Network() const { return network_; }

    // The time export ("NTP Unit"), for the status report.
    const TimeExport& Time() const { return timeExport_; }
    TimeExport& Time() { return timeExport_; }
    // The pulse-per-second ("PPS"), for the status report; null where there is none.
    PulseSource* Pulse() { return services_.pulse; }

private:
    uint32_t CountUsers();
    void BatterySaver(uint32_t users);
    void IdleReopen();
    void ShowTrayStatus();
    void ReadInput();
    void ReadArrivedInput();
    uint32_t CollectReceiverWaits(platform::WaitEntry* entries, uint32_t capacity);
    void CountFrame(bool counted);
    void SpeedChangeReopen();
    void ReopenWhenDue();
    void DeviceChangeCountdown();
    void SearchWhenDue();
    void FollowPulse();

    bool FinishPortsCommand(PortsCommand result);
    // The program's path for the autostart entry; null when it is not known.
    const char* ModulePath(char (&path)[260]);
    ComBitmapMarks* ComBitmap();

    void InjectFrame(const void* data, uint32_t size);
    void WriteFromNetwork(const uint8_t* sentence, uint32_t length) override;
    void WriteToReceiver(const void* data, uint32_t size);
    void ChangeBaud(const void* data, uint32_t size);

    HubServices services_;
    HubContext context_;
    // After context_: its threads use the context, so it goes (waiting for them) first.
    GpsSearch search_;
    // The USB devices stopped and started around standby, loaded with the settings.
    RestartDeviceTable restartDevices_{};
    PowerHandling power_;
    bool windowUp_ = false; // between InitDialog and Destroy
    NetworkOutput network_;
    TimeExport timeExport_;
    // InjectFrame hands the parser a writable, zero-terminated copy of the payload.
    uint8_t injectBuffer_[512] = {};
    bool lastInjectTaken_ = false;
    // Present with the edition's DriverSetup.
    std::optional<DriverInstaller> installer_;

    // Enabling and disabling the ports mark their numbers in the hub's COM number bitmap.
    class BitmapMarks final : public ComBitmapMarks {
    public:
        explicit BitmapMarks(ComDbBitmap& bitmap) : bitmap_(bitmap) {}
        void SetComBit(uint32_t comNumber, bool taken) override {
            bitmap_.SetComBit(comNumber, taken);
        }
        void Changed() override { ComDbBitmapChanged(); }

    private:
        ComDbBitmap& bitmap_;
    };
    BitmapMarks bitmapMarks_{context_.comDbBitmap};
};

// The front end's message loop: creates the message window, forwards its messages to the
// engine until the hub ends, destroys it. Returns when the window is gone.
class MessageLoop {
public:
    virtual ~MessageLoop() = default;
    virtual void Run(HubEngine& engine) = 0;
};

// The process entry shared by the front ends. With a hub already running it sends that hub
// message 1025 (wParam 0, lParam WM_RBUTTONUP, so it toggles its main window) and returns 0 at
// once, before anything touches the driver or the status block. Otherwise it runs the static
// start-up, the message loop, and the process-exit close of the control device. Returns the
// process's exit code (always 0).
int HubMain(const char* commandLine, HubEngine& engine, platform::RunningHub& runningHub,
            MessageLoop& loop);

} // namespace tavro
