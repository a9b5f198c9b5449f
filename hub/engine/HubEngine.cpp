#include "hub/engine/HubEngine.h"

#include "common/HubCommand.h"
#include "hub/decode/GnssSentences.h"
#include "hub/decode/ParseFrame.h"
#include "hub/engine/GpsPort.h"
#include "hub/engine/TrayStatus.h"
#include "hub/settings/SettingsStore.h"
#include "platform/ErrorCodes.h"

#include <string.h>

namespace tavro {
namespace {

// Timer-loop limits, in ticks of 50 ms.
constexpr uint32_t idleTicksLimit = 200;          // idleTicks counts up to here and stays
constexpr uint32_t searchSettleTicks = 40;        // a finished search is cleared after 2 s quiet
constexpr uint32_t idleTicksWithMainWindow = 110; // first open 2 s after start, not 2.5 s
constexpr uint32_t dataTicksLimit = 0xFFFF;
// The receiver's pause between closing at one speed and opening at the next.
constexpr uint32_t speedChangePause = 200;
// Ticks from the last device change to the search it starts (0.5 s).
constexpr uint32_t deviceChangeTicks = 10;
// The closed input port settles this long before a device change's search.
constexpr uint32_t deviceChangePause = 100;

constexpr char invalidDriverVersionMessage[] = "Invalid Tavro driver version";

// The tokens of CollectWaits' entries: the receiver, then the network output's from here.
constexpr uint32_t receiverToken = 1;
constexpr uint32_t firstNetworkToken = 16;

bool OptionSet(const Settings& settings, uint32_t option) {
    return (settings.optionFlags & option) != 0;
}

} // namespace

bool IsHideArgument(const char* commandLine) {
    if (commandLine == nullptr) {
        return false;
    }
    static constexpr char hide[] = "HIDE";
    for (size_t i = 0; i < sizeof hide; ++i) {
        char c = commandLine[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != hide[i]) {
            return false;
        }
    }
    return true;
}

HubEngine::HubEngine(const HubServices& services)
    : services_(services), context_(services.system),
      search_(context_, services.serialPortMap, services.threads),
      power_(context_, restartDevices_, services.serialPortMap, services.usbDevices,
             services.displayPower),
      network_(services.network, *this, services.threads),
      timeExport_(services.timeService, services.system.timing) {
    context_.sockets = services.network;
    context_.threads = services.threads;
    timeExport_.TellPulse(services.pulse);
    if (services.driverSetup != nullptr) {
        installer_.emplace(InstallerServices{services.driverSetup->fileSystem,
                                             services.driverSetup->serviceControl,
                                             services.registry, services.notifier},
                           context_.exchange.block, context_.exchange.device, context_.settings);
    }
}

HubEngine::~HubEngine() {
    if (windowUp_) {
        Destroy();
    }
}

void HubEngine::SetStartHidden(bool hidden) {
    context_.loop.startHidden = hidden ? 4 : 0;
}

// ---- Start-up ---------------------------------------------------------------------------------

bool HubEngine::StaticAttach() {
    ExchangeRecord& exchange = context_.exchange;
    exchange.readOnlyFlag = 0;
    if (installer_) {
        // Starts a driver service left installed by an earlier run when the device is missing.
        context_.loop.driverPresent = installer_->StaticAttach() ? 1 : 0;
        return context_.loop.driverPresent != 0;
    }
    exchange.block = DriverExchangeBlock{};
    exchange.device.Close();
    context_.loop.driverPresent = 0;
    // Without an installer there is no service to start: a missing device means the hub starts
    // with the ports disabled.
    if (exchange.device.Open(controlDeviceName) == error::success && exchange.device.IsOpen()) {
        exchange.device.Exchange(exchange.block);
        context_.loop.driverPresent = 1;
    }
    return context_.loop.driverPresent != 0;
}

int HubEngine::InitDialog() {
    HubContext& hub = context_;

    // 1. Settings: the built-in defaults, then what the user's key holds.
    LoadEditionSettings(services_.registry, hub.settings, hub.exchange.block, restartDevices_);

    // 2. The COM numbers taken on this system, afresh; the ports the GPS search would try.
    hub.comDbBitmap.Clear();
    ScanSerialPorts(services_.serialPortMap, hub.comDbBitmap, hub.search);
    ComDbBitmapChanged();

    // 3. The restart devices: enabled and started when present (power handling).
    power_.BringUp();

    // 4. The tray icon.
    services_.tray.ShowTrayIcon(platform::TrayOperation::Add, programIcon, "Tavro");
    hub.loop.trayIconId = programIcon;

    // 5. The status block, then the input port writing into it. The block is never missing:
    // without a mapping a private block stands in (other programs then see nothing, but the
    // loop and the decoders always have a block to use).
    hub.statusBlock.AttachHub();
    hub.CreateInputPort(services_.trackLog);
    windowUp_ = true;
    // The network output beside the virtual ports, as the settings ask.
    hub.network = &network_;
    network_.Configure(hub.settings, hub.system.timing.GetTickCount());
    hub.timeExport = &timeExport_;

    // 6. Without the driver the user has to enable the ports: show the main window, unless
    // "HIDE" asked for the tray only.
    if (hub.loop.driverPresent == 0 && hub.loop.startHidden == 0) {
        services_.mainWindow.Create();
        hub.loop.idleTicks = idleTicksWithMainWindow;
    }

    // 7. Findable as "TavroMsgWnd", and invisible.
    services_.messageWindow.Publish();

    // 8. The timer loop.
    services_.messageWindow.StartTimer(hubTickPeriodMs);

    // 9. Is the driver image in the program file? Records "Version" and "Sum"; the result is
    // not used here.
    if (installer_) {
        installer_->ExtractDriver(true);
    }

    // 10. Power handling's start values.
    hub.loop.devicesActive = 1;
    hub.loop.videoCountdown = videoCountdownStart;

    // 11.
    services_.messageWindow.AllowCommandsFromLowerIntegrity();
    hub.statusBlock.Publish();
    return 1;
}

// ---- The timer tick ---------------------------------------------------------------------------

namespace {

// Other programs see the hub's record once a handler has run, whole (see StatusBlock.h).
class PublishAtEnd {
public:
    explicit PublishAtEnd(StatusBlock& block) : block_(block) {}
    ~PublishAtEnd() { block_.Publish(); }
    PublishAtEnd(const PublishAtEnd&) = delete;
    PublishAtEnd& operator=(const PublishAtEnd&) = delete;

private:
    StatusBlock& block_;
};

} // namespace

void HubEngine::Tick() {
    HubContext& hub = context_;
    const PublishAtEnd publish(hub.statusBlock);
    if (hub.inputPort == nullptr) {
        return; // before InitDialog or after Destroy
    }
    TimerLoopValues& loop = hub.loop;

    // 1. Exchange with the driver, client bytes to the receiver.
    hub.inputPort->DriverExchange();

    // 2. Users, and the driver version check.
    const uint32_t users = CountUsers();

    // 3. Battery Saver, 4. remember the count.
    BatterySaver(users);
    loop.prevUsers = users;

    // 5. End of a search. The found event (and anything else the search's threads left) is
    // released as soon as they have all ended, whether or not a main window saw the end.
    if (loop.idleTicks >= searchSettleTicks && hub.search.scanThreadCount.load() == 0 &&
        hub.search.scanning.load() != 0) {
        hub.search.scanning.store(0);
    }
    search_.ReleaseFinished();

    // 6. Video Reset and the delayed device restart (videoCountdown): power handling.
    power_.VideoCountdown();

    // 7.
    if (loop.idleTicks < idleTicksLimit) {
        ++loop.idleTicks;
    }

    // 8. The idle re-open, or an open Battery Saver asked for.
    IdleReopen();

    // 9. Tray and sounds.
    ShowTrayStatus();

    // 10. Input: a re-open whose pause is over; on arrival, what the loop has not reported
    // yet (the tick reads on its own where the port cannot be waited for).
    ReopenWhenDue();
    if (hub.InputConfigured() && hub.search.scanning.load() == 0) {
        hub.inputPort->TickSource();
        if (hub.inputPort->RelaysOnArrival()) {
            ReadArrivedInput();
        } else {
            ReadInput();
        }
    }
    loop.frameCounted = 0;

    // 11. The GPS searches whose closed port has settled ("Find GPS", a device change), and
    // the device-change countdown.
    search_.FindWhenDue();
    SearchWhenDue();
    DeviceChangeCountdown();

    // The network output follows the settings (they may change while the hub runs).
    const uint32_t now = hub.system.timing.GetTickCount();
    network_.Configure(hub.settings, now);
    network_.Tick(now);
    timeExport_.Follow(hub.settings.ntpUnit);
    FollowPulse();
}

// The pulse follows the open input port and the settings.
void HubEngine::FollowPulse() {
    const Settings& settings = context_.settings;
    SerialLine* line = context_.inputPort != nullptr ? context_.inputPort->Line() : nullptr;
    if (services_.pulse != nullptr) {
        services_.pulse->Follow(line, settings.pps != 0 && settings.ntpUnit <= ntpUnitMax
                                          ? settings.ntpUnit + 1
                                          : ntpUnitNone);
    }
}

uint32_t HubEngine::CountUsers() {
    ExchangeRecord& exchange = context_.exchange;
    // The hub itself and every reader of the block, then every application on a virtual port.
    uint32_t users = context_.statusBlock.Readers();
    if (exchange.DeviceOpen()) {
        for (uint32_t count : exchange.block.openCount) {
            if (count != 0) {
                ++users;
            }
        }
        if (exchange.block.version != driverInterfaceVersion) {
            exchange.device.Close();
            services_.notifier.ShowMessage(invalidDriverVersionMessage);
        }
    }
    return users;
}

void HubEngine::BatterySaver(uint32_t users) {
    HubContext& hub = context_;
    if (!OptionSet(hub.settings, OptionFlags::batterySaver) || !hub.InputConfigured()) {
        return;
    }
    TimerLoopValues& loop = hub.loop;
    if (!hub.InputPortOpen()) {
        if (loop.prevUsers < users) {
            loop.openRequested = 1;
        }
    } else if (loop.prevUsers > 1 && users == 1) {
        // Nobody but the hub itself: let the receiver port go.
        hub.inputPort->Close();
    }
}

void HubEngine::IdleReopen() {
    HubContext& hub = context_;
    TimerLoopValues& loop = hub.loop;
    if (!hub.InputConfigured()) {
        return;
    }
    // An open network source reconnects by itself, with its back-off, when it falls silent.
    if (hub.inputPort->KeepsItselfUp() && loop.openRequested == 0) {
        return;
    }
    const bool idle =
        !OptionSet(hub.settings, OptionFlags::batterySaver) && loop.idleTicks >= idleReopenTicks;
    if (!idle && loop.openRequested == 0) {
        return;
    }
    loop.idleTicks = 0;
    loop.dataTicks = 0;
    hub.inputPort->Close(DropCause::Reopen);
    hub.inputPort->Open();
    loop.idleTicks = 0;
    loop.lastStatus = refreshStatus;
    // Used up whether the open worked or not: Battery Saver asks again only when the user
    // count rises again.
    loop.openRequested = 0;
}

void HubEngine::ShowTrayStatus() {
    HubContext& hub = context_;
    TimerLoopValues& loop = hub.loop;
    const uint32_t fixStatus = Status().fixState;
    if (fixStatus == loop.lastStatus) {
        return;
    }
    const bool portOpen = hub.InputPortOpen();
    const TrayStatus shown = TrayStatusFor(fixStatus, portOpen);
    if (!shown.keepsIcon) {
        loop.trayIconId = shown.icon;
    }
    char tip[trayTipSize];
    FormatTrayTip(shown.tip, hub.settings.source, tip);
    services_.tray.ShowTrayIcon(platform::TrayOperation::Modify, loop.trayIconId, tip);
    if (!shown.keepsFixClass && shown.fixClass != loop.lastFixClass) {
        if (portOpen) {
            services_.sound.PlayFile(shown.fixClass != 0 ? fixSoundFile : noFixSoundFile);
        }
        loop.lastFixClass = shown.fixClass;
    }
    loop.lastStatus = fixStatus;
}

void HubEngine::ReadInput() {
    if (context_.inputPort->Poll() == 0) {
        return;
    }
    CountFrame(false);
}

// On arrival the counts keep their tick meaning: sentenceCount and dataTicks count ticks
// with a frame, so only the first frame between two ticks counts.
void HubEngine::ReadArrivedInput() {
    uint32_t lastLength = 0;
    if (context_.inputPort->ReadArrived(lastLength) == 0) {
        return;
    }
    const bool counted = context_.loop.frameCounted != 0;
    context_.loop.frameCounted = 1;
    CountFrame(counted);
}

void HubEngine::CountFrame(bool counted) {
    HubContext& hub = context_;
    TimerLoopValues& loop = hub.loop;
    hub.freshness.DataArrived(hub.system.timing.Microseconds());
    if (!counted) {
        ++loop.sentenceCount;
        if (loop.dataTicks != dataTicksLimit) {
            ++loop.dataTicks;
        }
    }
    // A first frame that begins with a zero byte is what a receiver at another speed tends to
    // send, but binary receivers send zero bytes all the time, and a re-open empties the
    // input queue. So it re-opens only while a speed change is due: a speed was requested,
    // or this open changed the speed and no stream start has been heard since (the search's
    // rule for a receiver heard at the right speed). The parser asks for the re-open of a
    // requested speed itself.
    GpsPort& port = *hub.inputPort;
    const bool speedChangeDue = hub.requestedBaud != 0 || port.SpeedChangedAtOpen();
    // Neither applies to a network source, which has no line speed.
    if (hub.SourceIsSerial() &&
        ((port.TakeZeroLedStart() && speedChangeDue) || hub.reopenPending != 0)) {
        SpeedChangeReopen();
    }
    loop.idleTicks = 0;
}

uint32_t HubEngine::CollectWaits(platform::WaitEntry* entries, uint32_t capacity) {
    HubContext& hub = context_;
    GpsPort* port = hub.inputPort.get();
    if (port == nullptr || entries == nullptr) {
        return 0;
    }
    uint32_t count = CollectReceiverWaits(entries, capacity);
    return count + network_.CollectWaits(entries + count, capacity - count, firstNetworkToken);
}

uint32_t HubEngine::CollectReceiverWaits(platform::WaitEntry* entries, uint32_t capacity) {
    HubContext& hub = context_;
    GpsPort* port = hub.inputPort.get();
    uint32_t count = 0;
    if (!port->RelaysOnArrival()) {
        return 0;
    }
    if (count < capacity && hub.InputConfigured() && hub.search.scanning.load() == 0) {
        const platform::WaitObject input = port->ArrivalWait();
        if (input != platform::noWaitObject) {
            entries[count++] = {input, platform::waitInput, receiverToken};
        }
    }
    if (count < capacity) {
        const platform::WaitObject output = port->WriteWait();
        if (output != platform::noWaitObject) {
            entries[count++] = {output, platform::waitOutput, receiverToken};
        }
    }
    return count;
}

void HubEngine::WaitReady(uint32_t token, uint8_t events) {
    HubContext& hub = context_;
    const PublishAtEnd publish(hub.statusBlock);
    GpsPort* port = hub.inputPort.get();
    if (token >= firstNetworkToken) {
        network_.Ready(token - firstNetworkToken, events, hub.system.timing.GetTickCount());
        return;
    }
    if (token != receiverToken || port == nullptr || !port->RelaysOnArrival()) {
        return;
    }
    if ((events & platform::waitInput) != 0 && hub.InputConfigured() &&
        hub.search.scanning.load() == 0) {
        if ((events & platform::waitHangUp) != 0) {
            port->LineHungUp();
        }
        ReadArrivedInput();
    }
    if ((events & platform::waitOutput) != 0) {
        port->PumpWrites();
    }
}

void HubEngine::SpeedChangeReopen() {
    HubContext& hub = context_;
    hub.reopenPending = 0;
    if (hub.requestedBaud != 0) {
        hub.settings.baud = hub.requestedBaud;
        hub.requestedBaud = 0;
        if (services_.mainWindow.Exists()) {
            services_.mainWindow.PostBaudChanged();
        }
    }
    hub.inputPort->Close(DropCause::SpeedChange);
    hub.loop.idleTicks = 0;
    // The receiver's pause passes on the timer loop, not in a sleep that would stall every
    // port and client.
    hub.inputPort->ReopenAfter(GpsPort::Reopen::Settings, speedChangePause);
}

void HubEngine::ReopenWhenDue() {
    HubContext& hub = context_;
    if (hub.inputPort->ReopenWhenDue() == GpsPort::Reopen::Settings) {
        hub.loop.idleTicks = 0;
        hub.loop.lastStatus = refreshStatus;
    }
}

// ---- Device changes (GPS search) ---------------------------------------------------------------

void HubEngine::DeviceChanged() {
    // An open input port has its receiver, and so has one closed only until its re-open; a
    // receiver plugged in while it is closed is looked for once the changes have settled.
    const GpsPort* port = context_.inputPort.get();
    if (!context_.InputPortOpen() && (port == nullptr || !port->ReopenWaiting())) {
        context_.loop.deviceChangeCountdown = deviceChangeTicks;
    }
}

void HubEngine::DeviceChangeCountdown() {
    HubContext& hub = context_;
    TimerLoopValues& loop = hub.loop;
    if (loop.deviceChangeCountdown == 0) {
        return;
    }
    if (!hub.SourceIsSerial()) {
        loop.deviceChangeCountdown = 0; // the search is for serial receivers only
        return;
    }
    --loop.deviceChangeCountdown;
    if (loop.deviceChangeCountdown != 0 || search_.ThreadsRunning()) {
        return; // a search that still runs covers the change
    }
    hub.inputPort->Close();
    loop.lastStatus = refreshStatus;
    // The closed port settles on the timer loop (SearchWhenDue), not in a sleep.
    loop.deviceSearchDue = hub.system.timing.GetTickCount() + deviceChangePause;
    loop.deviceSearchWaiting = 1;
}

void HubEngine::SearchWhenDue() {
    HubContext& hub = context_;
    TimerLoopValues& loop = hub.loop;
    // Signed difference: the tick count wraps after 49 days.
    if (loop.deviceSearchWaiting == 0 ||
        static_cast<int32_t>(hub.system.timing.GetTickCount() - loop.deviceSearchDue) < 0) {
        return;
    }
    loop.deviceSearchWaiting = 0;
    // A port opened meanwhile has its receiver; a search started meanwhile covers the change.
    if (hub.InputPortOpen() || search_.ThreadsRunning()) {
        return;
    }
    // Its result is not applied: "Port" and "Baud" stay as they are; an open main window
    // shows the progress.
    search_.StartSearch();
}

// ---- Commands ---------------------------------------------------------------------------------

void HubEngine::CopyData(uint32_t code, const void* data, uint32_t size) {
    const PublishAtEnd publish(context_.statusBlock);
    GpsPort* port = context_.inputPort.get();
    switch (static_cast<HubCommand>(code)) {
    case HubCommand::ReleaseRelay:
    case HubCommand::HoldRelay:
        if (port != nullptr) {
            const uint8_t held = code == static_cast<uint32_t>(HubCommand::HoldRelay) ? 1 : 0;
            port->relayHeld = held;
            Status().relayHeld = held;
        }
        break;
    case HubCommand::InjectFrame:
        InjectFrame(data, size);
        break;
    case HubCommand::WriteToReceiver:
        WriteToReceiver(data, size);
        break;
    case HubCommand::ChangeBaud:
        ChangeBaud(data, size);
        break;
    default:
        break;
    }
}

void HubEngine::InjectFrame(const void* data, uint32_t size) {
    GpsPort* port = context_.inputPort.get();
    lastInjectTaken_ = false;
    // A frame is at most 510 bytes, as from the receiver; a longer payload is no frame and is
    // refused whole rather than decoded or relayed in part.
    if (port == nullptr || data == nullptr || size == 0 || size > FrameCutter::maxFrameLength) {
        return;
    }
    // The payload is the sender's and read-only; the parser gets its own zero-terminated copy,
    // never the input port's lineBuffer, which may hold half a receiver frame.
    memcpy(injectBuffer_, data, size);
    injectBuffer_[size] = 0;
    lastInjectTaken_ = ParseFrame(*port, injectBuffer_, size, true);
}

void HubEngine::WriteFromNetwork(const uint8_t* sentence, uint32_t length) {
    if (context_.inputPort != nullptr) {
        context_.inputPort->WriteFromNetwork(sentence, length);
    }
}

void HubEngine::WriteToReceiver(const void* data, uint32_t size) {
    GpsPort* port = context_.inputPort.get();
    if (port == nullptr || data == nullptr || size == 0 || size > writeToReceiverMax) {
        return;
    }
    // Exactly the payload, while the port is open; dropped otherwise.
    port->WriteToReceiver(static_cast<const uint8_t*>(data), size);
}

void HubEngine::ChangeBaud(const void* data, uint32_t size) {
    // Four bytes, the speed; a shorter payload is refused rather than read past its end.
    if (data == nullptr || size < sizeof(uint32_t)) {
        return;
    }
    uint8_t bytes[4];
    memcpy(bytes, data, sizeof bytes);
    if (!context_.SourceIsSerial()) {
        return; // a network source has no line speed
    }
    context_.requestedBaud = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 |
                             uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

void HubEngine::ToggleMainWindow(intptr_t lParam) {
    if (lParam != trayDoubleClick && lParam != trayRightButtonUp) {
        return;
    }
    if (services_.mainWindow.Exists()) {
        services_.mainWindow.Destroy();
    } else {
        services_.mainWindow.Create();
    }
}

// ---- Shutdown ---------------------------------------------------------------------------------

void HubEngine::Destroy() {
    HubContext& hub = context_;
    // The main window goes first, while everything it reads and saves on closing still exists
    // (the system would destroy it with its owner, but only after this).
    if (services_.mainWindow.Exists()) {
        services_.mainWindow.Destroy();
    }
    services_.messageWindow.StopTimer();
    services_.tray.ShowTrayIcon(platform::TrayOperation::Delete, platform::noTrayIcon, nullptr);
    // A search still running ends now: its threads let go of their ports (the input port
    // among them) before the hub's values go away.
    search_.CancelSearch();
    search_.WaitForThreads();
    search_.ReleaseFinished();
    hub.exchange.device.Close();
    network_.Close();
    hub.network = nullptr;
    hub.timeExport = nullptr;
    timeExport_.Follow(ntpUnitNone);
    if (services_.pulse != nullptr) {
        services_.pulse->Follow(nullptr, ntpUnitNone);
    }
    if (hub.inputPort != nullptr) {
        // Close (the block shows PortClosed, the log is closed) and free the port, then let go
        // of the block it wrote into.
        hub.DestroyInputPort();
        hub.statusBlock.DetachHub();
    }
    // 5. The restart devices stop (and a display the video reset left off comes back).
    power_.Shutdown();
    windowUp_ = false;
}

void HubEngine::ProcessExit() {
    context_.exchange.device.Close();
}

// ---- "Enable Ports" ---------------------------------------------------------------------------

bool HubEngine::EnablePorts() {
    if (!installer_) {
        return false;
    }
    return FinishPortsCommand(installer_->EnablePorts(ComBitmap()));
}

bool HubEngine::DisablePorts() {
    if (!installer_) {
        return false;
    }
    return FinishPortsCommand(installer_->DisablePorts(ComBitmap()));
}

bool HubEngine::FinishPortsCommand(PortsCommand result) {
    if (result == PortsCommand::ExtractionFailed) {
        return false;
    }
    // The autostart entry follows the ports: the hub starts at logon exactly while they run.
    char modulePath[260];
    SaveSettings(services_.registry, context_.settings, context_.exchange.block,
                 ModulePath(modulePath), context_.exchange.DeviceOpen());
    return true;
}

const char* HubEngine::ModulePath(char (&path)[260]) {
    uint32_t length = 0;
    if (services_.driverSetup == nullptr ||
        services_.driverSetup->fileSystem.ModulePath(path, sizeof path, length) != error::success) {
        return nullptr;
    }
    return path;
}

// ---- The main window --------------------------------------------------------------------------

void HubEngine::SaveMainWindowSettings(std::span<const DeviceListRow> rows) {
    char modulePath[260];
    SaveRestartDevices(services_.registry, rows, restartDevices_, context_.settings,
                       context_.exchange.block, ModulePath(modulePath),
                       context_.exchange.DeviceOpen());
}

// The COM number bitmap of the port lists is not part of the hub yet: it arrives with COM
// numbering, and this is where it joins enabling and disabling. Until then nothing is marked.
ComBitmapMarks* HubEngine::ComBitmap() {
    return &bitmapMarks_;
}

GpsSharedStatus& HubEngine::Status() {
    return context_.statusBlock.Block();
}

const PreciseFix& HubEngine::Precise() const {
    static constexpr PreciseFix unknown{};
    const GpsPort* port = context_.inputPort.get();
    return port != nullptr ? port->precise : unknown;
}

int HubEngine::Sky(SkySatellite* out, int capacity) {
    GpsPort* port = context_.inputPort.get();
    return port != nullptr ? ListGnssSky(port->gnss, port->TickCount(), out, capacity) : 0;
}

// ---- Process entry ----------------------------------------------------------------------------

int HubMain(const char* commandLine, HubEngine& engine, platform::RunningHub& runningHub,
            MessageLoop& loop) {
    const bool hidden = IsHideArgument(commandLine);
    // Single instance, tested before the static start-up: the control device admits one handle,
    // so a second process that tried to attach would fail and could take the running hub's
    // driver down while setting it up again. A second start touches nothing and only asks the
    // running hub to toggle its main window.
    if (runningHub.SendToRunningHub(toggleMainWindowMessage, 0, trayRightButtonUp)) {
        return 0;
    }
    engine.SetStartHidden(hidden);
    engine.StaticAttach();
    // The present-USB device set serves the power handling and the main window's device list
    // for the whole run.
    engine.MakeUsbDeviceSet();
    loop.Run(engine);
    engine.DestroyUsbDeviceSet();
    engine.ProcessExit();
    return 0;
}

} // namespace tavro
