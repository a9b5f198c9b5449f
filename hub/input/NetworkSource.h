// A receiver on the network ("Source"): a TCP server, datagrams, or a gpsd, read as the input
// port reads a serial line. NetworkSource is a platform::SerialPort, so the input port's one
// path (relay on arrival, frame cutting, decoding, the log, clock sync, the queued writes)
// serves it unchanged; the line settings are accepted and mean nothing here.
//
// The connection is the source's own business: a TCP or gpsd source that drops is connected
// again with back-off (0.5 s, doubling to 30 s, back to 0.5 s after a stable minute) while the
// input port stays open, so the programs on the virtual ports never notice more than a pause.
// Names are resolved on a thread of their own (NameResolver), so the loop never waits for
// them. Everything else runs on the loop's thread: Tick moves the connection on, Read and
// the writes never block.
#pragma once

#include "hub/input/NameResolver.h"
#include "hub/settings/SourceAddress.h"
#include "platform/Network.h"
#include "platform/SerialPort.h"
#include "platform/Threads.h"
#include "platform/Timing.h"

#include <stdint.h>

namespace tavro {

enum class SourceState : uint8_t {
    Closed,     // not opened (or a serial source)
    Resolving,  // looking the host up
    Connecting, // TCP connect under way
    Connected,  // TCP or gpsd: bytes flow
    Listening,  // UDP: bound and waiting for datagrams
    Waiting,    // after a failure: the next try at nextTryTick
};

// "connected", "reconnecting"...: the state as `tavro status` and the main window say it.
const char* SourceStateName(SourceState state);

// What the hub knows of its network source across closes and re-opens of the input port: the
// back-off and the counts that `tavro status` shows. Reset when "Source" changes.
struct SourceRecord {
    char text[sourceSize] = {}; // the "Source" this record is about
    SourceState state = SourceState::Closed;
    uint32_t lastError = 0;  // Win32 code of the last failure, 0 when none
    uint64_t bytes = 0;      // received since "Source" was set
    uint32_t reconnects = 0; // connections made again after a drop
    uint32_t connections = 0;
    uint32_t delayMs = 0;      // the back-off the next failure waits (0: not started yet)
    uint32_t nextTryTick = 0;  // Waiting: when the next try starts
    uint32_t sinceTick = 0;    // when the state began (connected since, connecting since...)
    uint32_t lastByteTick = 0; // Connected: the last received byte
    bool scheduled = false;    // nextTryTick holds for the next open too
};

class NetworkSource final : public platform::SerialPort {
public:
    static constexpr uint32_t firstDelayMs = 500;
    static constexpr uint32_t maxDelayMs = 30000;
    static constexpr uint32_t stableMs = 60000;
    // A connect the peer neither takes nor refuses is given up after this long.
    static constexpr uint32_t connectLimitMs = 10000;
    // A connected TCP peer that sends nothing this long is connected again, as a silent
    // serial receiver is re-opened.
    static constexpr uint32_t silenceLimitMs = 10000;
    // The longest datagram kept whole (larger ones are cut; NMEA datagrams are far smaller).
    static constexpr uint32_t datagramSize = 8192;

    NetworkSource(platform::Network& network, platform::Threads& threads, platform::Timing& timing,
                  const SourceAddress& address, SourceRecord& record);
    ~NetworkSource() override;

    // Starts connecting (or listening): at once, or when a back-off still running from
    // before a close has passed.
    void Start();

    // Moves the connection on (lookup done, connect done, back-off passed, silence).
    void Tick();

    SourceKind Kind() const { return address_.kind; }

    // ---- platform::SerialPort ------------------------------------------------------------
    uint32_t SetupComm(uint32_t, uint32_t) override { return 0; }
    uint32_t SetCommTimeouts(const platform::CommTimeouts&) override { return 0; }
    uint32_t GetCommState(platform::Dcb&) override { return 0; }
    uint32_t SetCommState(const platform::Dcb&) override { return 0; }
    uint32_t ClearCommError(uint32_t& errors, platform::ComStat& status) override;
    // What has arrived (gpsd's own JSON lines left out); nothing while not connected. A
    // connection that ended is closed and tried again later: the read still succeeds.
    uint32_t Read(void* buffer, uint32_t size, uint32_t& got) override;
    // TCP: what the socket takes now (the rest waits in the port's queue for the next tick);
    // while not connected the bytes are dropped, as for a closed port. udp:// and gpsd://:
    // error::notSupported.
    uint32_t Write(const void* data, uint32_t size, uint32_t& written) override;
    void Close() override;
    platform::WaitObject ArmArrival() override;
    uint32_t WriteNoWait(const void* data, uint32_t size, uint32_t& accepted) override {
        return Write(data, size, accepted);
    }
    platform::WaitObject WriteWait() override;

private:
    void BeginAttempt();
    void Connected();
    void Fail(uint32_t error);
    void CloseSocket();
    uint32_t Filter(uint8_t* bytes, uint32_t count);
    uint32_t Now() { return timing_.GetTickCount(); }

    platform::Network& network_;
    platform::Threads& threads_;
    platform::Timing& timing_;
    SourceAddress address_;
    SourceRecord& record_;
    LookupHolder lookup_;
    platform::SocketHandle socket_ = platform::noSocket;
    // gpsd://: inside a line that began with '{' (gpsd's JSON), which is left out.
    bool lineStart_ = true;
    bool inJson_ = false;
    // udp://: the rest of the last datagram when the caller's buffer was smaller.
    uint8_t datagram_[datagramSize];
    uint32_t datagramLength_ = 0;
    uint32_t datagramOffset_ = 0;
};

} // namespace tavro
