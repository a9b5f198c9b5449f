// Everything the stream parser reaches outside the status block: the per-port decoder state,
// the hub-wide options, the relay to the virtual ports, the recovery re-open and the clock.
// The hub's input port implements it; tests implement it with a fake.
#pragma once

#include "common/GpsSharedStatus.h"
#include "hub/decode/GnssState.h"
#include "hub/decode/PreciseFix.h"
#include "platform/SystemClock.h"

#include <stdint.h>

namespace tavro {

// Bits of the hub's OptionFlags (the "Sync" setting) that the parser reads.
inline constexpr uint32_t optionNmeaFilter = 0x02;   // "NMEA Filter"
inline constexpr uint32_t optionAutoTimeSync = 0x10; // "Auto Time Sync"

class ParserHost {
public:
    // Per-port state, kept as fields of the port so its owner resets them where it must.
    uint8_t relayHeld = 0;      // set by HoldRelay, cleared by ReleaseRelay
    uint8_t sirfMode = 0;       // 1 while the stream is SiRF binary; written by the parser
    uint8_t timeSynced = 0;     // 1 once the clock was set during the current fix
    uint8_t checksumErrors = 0; // consecutive failed frames; the port's Open sets it to 0
    uint8_t portNumber = 0;     // COM number of the open port; 0 when none was opened
    GnssState gnss;             // what multi-constellation decoding keeps between sentences
    PreciseFix precise;         // the fix at full precision, beside the block

    // The status block. Never absent: without a shared mapping the hub supplies a private
    // block, so decoding always has somewhere to write.
    virtual GpsSharedStatus& Status() = 0;

    // The hub's OptionFlags as they are now.
    virtual uint32_t OptionFlags() const = 0;

    // The "Multi GNSS" setting: true reads the talkers of multi-constellation receivers too.
    virtual bool MultiGnss() const = 0;

    // Milliseconds since some fixed moment (wraps like GetTickCount), as the host has it for
    // the frame being decoded: the decoder's only time base (which talker and which sentences
    // the receiver sent lately, how old the time is). The decoder reads no clock itself.
    virtual uint32_t TickCount() = 0;

    // The line speed asked for with ChangeBaud and not applied yet, 0 when none.
    virtual uint32_t RequestedBaud() const = 0;

    // Sets the hub's reopenPending: the timer loop re-opens the port at the requested speed.
    virtual void RequestReopen() = 0;

    // Hands verified bytes to every open virtual port (IOCTL_TAVRO_BROADCAST); does nothing
    // while the driver's control device is closed.
    virtual void Relay(const uint8_t* bytes, uint32_t length) = 0;

    // Recovery from a run of corrupt frames. The parser has already cleared the block
    // (streamState PortClosed, fixState, fixValid, comPort) and checksumErrors; the host
    // closes the port handle, closes the log (flushing it first), lets 100 ms pass, makes a
    // pending requested speed the port's baudRate and clears the request, and, when
    // portNumber is not 0, opens and configures that port at baudRate as Open does, without
    // consulting the "Port" and "Baud" settings. Returns true when the port is open again at
    // once, with `lineSpeed` set to its baudRate: the parser then writes streamState
    // PortOpen, comPort and baudRate into the block. False while the port is closed: the open
    // failed (lastOpenError holds the system error), or it comes later, without blocking the
    // caller, and the host then writes those fields itself.
    virtual bool RecoveryReopen(uint32_t& lineSpeed) = 0;

    // The clock that Auto Time Sync sets.
    virtual platform::SystemClock& Clock() = 0;

    // A sentence gave the date and time of a valid fix (RMC, ZDA): Auto Time Sync may set the
    // clock from the block now (ClockSync, which lives with the hub's other time keeping).
    virtual void SyncClock(GpsSharedStatus& block) = 0;

    // How long ago, in milliseconds, the first byte of the burst that carried the current
    // sentence arrived, where the host measured it (a port read as bytes arrive); false
    // where it did not, and the clock rule's fixed allowance applies.
    virtual bool BurstAge(uint32_t& milliseconds) {
        (void)milliseconds;
        return false;
    }

    // A sentence gave the date and time of a valid fix (RMC, ZDA, SiRF's tracker data): the
    // moment a time export takes its sample. The host reads the time from `precise`.
    virtual void FixTimed() {}

    // The sentence that decides whether there is a fix was decoded (RMC; GGA or GNS where no RMC
    // comes; GLL where neither does; SiRF's geodetic data): `valid` as it decided, with the
    // receiver's time of day of that fix in milliseconds, -1 where it gives none. Tells how
    // fresh the fix is and how often the receiver reports it.
    virtual void FixReported(bool valid, int32_t timeOfDayMs) {
        (void)valid;
        (void)timeOfDayMs;
    }

protected:
    ParserHost() = default;
    ~ParserHost() = default;
    ParserHost(const ParserHost&) = default;
    ParserHost& operator=(const ParserHost&) = default;
};

} // namespace tavro
