// The hub-wide values in one object: the settings, the exchange record with the driver's
// control device, the frame buffer, the speed-change request, the timer loop's values, the
// search values, the status block and the main input port. One HubContext is one hub, so a
// test builds a fresh hub in a few lines:
//
//     platform::testing::FakeSerialPorts ports;   // or the system adapters
//     ...
//     HubContext hub({ports, controlDevice, sharedMemory, systemClock, timing});
//     hub.settings.port = 3;
//     hub.CreateInputPort();
//
// Everything here belongs to the hub's main thread (the message window and its timer) unless a
// member says otherwise; the search values are also touched by the scanning threads.
#pragma once

#include "common/DriverExchangeBlock.h"
#include "common/GpsSharedStatus.h"
#include "hub/decode/StatusBlock.h"
#include "hub/engine/ComNumbering.h"
#include "hub/engine/FixFreshness.h"
#include "hub/settings/Settings.h"
#include "platform/ControlDevice.h"
#include "platform/Network.h"
#include "platform/SerialPort.h"
#include "platform/SharedMemory.h"
#include "platform/SystemClock.h"
#include "platform/Threads.h"
#include "platform/Timing.h"

#include <atomic>
#include <memory>
#include <stdint.h>

namespace tavro {

class GpsPort;
class NetworkOutput;
class TimeExport;
class TrackLog;

// The operating system as the hub uses it. The objects outlive the HubContext.
struct HubSystem {
    platform::SerialPorts& serialPorts;
    platform::ControlDevice& controlDevice;
    platform::SharedMemory& sharedMemory;
    platform::SystemClock& systemClock; // set by Auto Time Sync
    platform::Timing& timing;           // Sleep and GetTickCount
};

// The exchange record: the hub's own DriverExchangeBlock, filled by the driver at every
// exchange, next to the control device (the "handle" beside the record: closed = not open).
struct ExchangeRecord {
    explicit ExchangeRecord(platform::ControlDevice& controlDevice) : device(controlDevice) {}

    DriverExchangeBlock block{};
    platform::ControlDevice& device;
    // 0 or 1: bit 3 of OptionFlags as it was after the previous exchange, sent with the next.
    uint32_t readOnlyFlag = 0;

    bool DeviceOpen() const { return device.IsOpen(); }
};

// lastStatus after the input port was closed or re-opened: no fix status has this value, so
// the tray is refreshed at the next tick.
inline constexpr uint32_t refreshStatus = 5;

// Values of the 50 ms timer loop (names and initial values as the loop uses them).
struct TimerLoopValues {
    uint32_t startHidden = 0;   // 4 when the command line is "HIDE"
    uint8_t driverPresent = 0;  // 1 when the control device was opened at start-up
    uint32_t idleTicks = 100;   // ticks since the last frame or open attempt; stops at 200
    uint32_t prevUsers = 1;     // user count of the previous tick (Battery Saver)
    uint8_t openRequested = 0;  // Battery Saver asks for an open at the next tick
    uint32_t dataTicks = 0;     // ticks with a frame since last cleared; stops at 0xFFFF
    uint32_t sentenceCount = 0; // ticks with a frame since start (activity indicator)
    uint8_t frameCounted = 0;   // a frame read on arrival since the last tick was counted
    uint32_t lastStatus = 0;    // fix status last shown in the tray; refreshStatus forces one
    uint32_t lastFixClass = 0;  // 1 after a 2D or 3D fix was shown
    uint32_t trayIconId = 101;  // icon resource now in the tray
    uint32_t videoCountdown = 0;
    uint32_t deviceChangeCountdown = 0;
    uint8_t deviceSearchWaiting = 0; // a device change closed the port; its search is due at
    uint32_t deviceSearchDue = 0;    // this GetTickCount
    uint32_t devicesActive = 0;
};

// Values of the GPS search, shared between the main thread and the scanning threads without a
// lock, hence atomic. The search adds its own wake-up event next to these.
struct SearchValues {
    static constexpr uint32_t comSlots = 256; // indexed by COM number

    std::atomic<uint8_t> scanning{0};         // a search runs (cleared by the timer loop)
    std::atomic<uint32_t> scanThreadCount{0}; // scanning threads started and not yet ended
    uint8_t applySearchResult = 0;            // the main window applies the result (main thread)
    // 0 absent, given up or silent; 1 present, not tried yet; 2 + k trying speed index k.
    std::atomic<uint8_t> portScanState[comSlots] = {};
    // The port each scanning thread holds, null otherwise; owned by that thread, closed (not
    // destroyed) by a cancel from the main thread.
    std::atomic<platform::SerialPort*> scanHandles[comSlots] = {};

    // foundPort and foundBaud are published together, so that they always belong to the same
    // thread's discovery even when several threads find a stream at once.
    uint32_t FoundPort() const { return static_cast<uint32_t>(found_.load()); }
    uint32_t FoundBaud() const { return static_cast<uint32_t>(found_.load() >> 32); }
    void PublishFound(uint32_t foundPort, uint32_t foundBaud) {
        found_.store(uint64_t{foundBaud} << 32 | foundPort);
    }
    void ClearFound() { found_.store(0); }

private:
    std::atomic<uint64_t> found_{0};
};

// Why the hub dropped bytes. Each cause is counted so that `tavro status` can say what was
// lost, and the run log names the first drop of each cause.
enum class DropCause : uint8_t {
    SpeedChange, // received bytes still queued when the port was re-opened for a speed change
    Reopen,      // received bytes queued at the re-open of a silent port or the parser's recovery
    Closed,      // received bytes queued when the port was closed (Battery Saver, search, standby)
    Unwritten,   // bytes for the receiver that it did not take (a failed write, the port closed)
};
inline constexpr uint32_t dropCauseCount = 4;

struct DropCounts {
    uint64_t bytes[dropCauseCount] = {};

    // Out of line: called from several places of the Windows hub, whose size is bounded.
    void Add(DropCause cause, uint64_t count);
    uint64_t Bytes(DropCause cause) const { return bytes[static_cast<uint32_t>(cause)]; }
};

class HubContext {
public:
    // Size of lineBuffer: a frame of at most 510 bytes, its zero byte, one spare.
    static constexpr uint32_t lineBufferSize = 512;

    explicit HubContext(const HubSystem& hubSystem);
    ~HubContext();
    HubContext(const HubContext&) = delete;
    HubContext& operator=(const HubContext&) = delete;

    HubSystem system;

    // The persistent settings ("Port", "Baud", "Logging", "Sync" = OptionFlags, "LogPath"...),
    // loaded and saved by the settings store.
    Settings settings;

    ExchangeRecord exchange;

    // The frame the main input port is assembling; a complete frame stays here, followed by a
    // zero byte, until the next byte arrives. The timer loop reads lineBuffer[0] after a
    // frame. Only the main input port writes it: other code needing a frame buffer (an
    // injected frame) must use its own, or it would cut into a half-assembled frame.
    uint8_t lineBuffer[lineBufferSize] = {};

    // Speed asked for with ChangeBaud, 0 when none; applied at the next re-open.
    uint32_t requestedBaud = 0;
    // Set by the parser to ask the timer loop for a re-open at requestedBaud.
    uint8_t reopenPending = 0;

    TimerLoopValues loop;
    SearchValues search;

    // Bytes the hub had to drop, by cause, since it started.
    DropCounts drops;

    // When the main input port's last valid fix and last frame arrived, and its fix interval,
    // since the hub started (the port is made again, this is not).
    FixFreshness freshness;

    // The COM numbers taken on this system (the serial port map, and the virtual ports while
    // they are enabled); rebuilt at the message window's start and at every GPS search.
    ComDbBitmap comDbBitmap;

    // The hub's view of "TavroGPS" (attached by the message window's start, detached at its
    // end). The main input port's `status` points into it while it is attached.
    StatusBlock statusBlock;

    // The main input port, created when the message window starts and destroyed at its end;
    // null outside that time (commands that need it then do nothing).
    std::unique_ptr<GpsPort> inputPort;

    // The network output (the engine's), which gets what the virtual ports get; null where
    // there is none.
    NetworkOutput* network = nullptr;
    // The sockets and threads of a network "Source" (and of name lookups); null where the
    // edition has none: a network source then stays closed (error::notSupported).
    platform::Network* sockets = nullptr;
    platform::Threads* threads = nullptr;

    // The input is the serial port of "Port" ("Source" empty), or a network source.
    bool SourceIsSerial() const { return settings.source[0] == '\0'; }
    // There is an input to read: a "Port" or a "Source".
    bool InputConfigured() const { return settings.port != 0 || !SourceIsSerial(); }

    // The time export (the engine's); null where there is none.
    TimeExport* timeExport = nullptr;

    // Creates the main input port (replacing one that exists) with `log` as its track log
    // (null: none, log bytes are discarded). Its `status` is statusBlock.Block(), so attach
    // the block first: attaching moves the block from the private stand-in to the mapping.
    GpsPort& CreateInputPort(TrackLog* log = nullptr);
    // Closes the main input port (which writes PortClosed into the block) and destroys it.
    // Call it before detaching the status block.
    void DestroyInputPort();

    // The main input port is open (exists and holds a handle).
    bool InputPortOpen() const;
};

} // namespace tavro
