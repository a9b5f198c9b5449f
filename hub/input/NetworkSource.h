// A receiver on the network ("Source"): a TCP server, datagrams, or a gpsd, read as the input
// port reads a serial line. NetworkSource is an Input, so the input port's one path (relay on
// arrival, frame cutting, decoding, the log, clock sync, the queued writes) serves it
// unchanged; it has no line (Line() is null), so nothing sets a speed on it.
//
// The connection is the source's own business: a TCP or gpsd source that drops is connected
// again with back-off (0.5 s, doubling to 30 s, back to 0.5 s after a stable minute) while the
// input port stays open, so the programs on the virtual ports never notice more than a pause.
// Names are resolved on a thread of their own (NameResolver), so the loop never waits for
// them. Everything else runs on the loop's thread: Tick moves the connection on, Read and
// the writes never block.
#pragma once

#include "hub/input/Input.h"
#include "hub/input/NameResolver.h"
#include "hub/input/SourceRecord.h"
#include "hub/settings/SourceAddress.h"
#include "platform/Network.h"
#include "platform/Threads.h"
#include "platform/Timing.h"

#include <stdint.h>

namespace tavro {

class NetworkSource final : public Input {
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

    SourceKind Kind() const { return address_.kind; }

    // ---- Input ---------------------------------------------------------------------------
    // Starts connecting (or listening): at once, or when a back-off still running from
    // before a close has passed. Always true: failures from here on are the source's to
    // recover from, and show in the record.
    bool Open() override;
    // Ends the connection as a drop does (without an error): opening again soon after waits
    // for the back-off, so that nothing can make the hub connect in a loop.
    void Close() override;
    // Moves the connection on (lookup done, connect done, back-off passed, silence).
    SourceState Tick() override;
    SourceState State() const override { return record_.state; }
    platform::SystemError LastError() const override {
        return {record_.lastError, record_.lastOsError};
    }
    bool KeepsItselfUp() const override { return true; }
    // The rest of a datagram a smaller read left (a stream hands over all it takes).
    uint32_t Queued(uint32_t& bytes) override;
    // What has arrived (gpsd's own JSON lines left out); nothing while not connected. A
    // connection that ended is closed and tried again later: the read still succeeds.
    uint32_t Read(void* buffer, uint32_t size, uint32_t& got) override;
    platform::WaitObject ArmArrival() override;
    // TCP: what the socket takes now (the rest waits in the port's queue for the next tick);
    // while not connected the bytes are dropped, as for a closed port. udp:// and gpsd:// are
    // receive-only: error::accessDenied, and the bytes are the engine's to count as unwritten.
    uint32_t Write(const void* data, uint32_t size, uint32_t& written) override;
    // A socket's send never waits: the same as Write.
    uint32_t WriteNoWait(const void* data, uint32_t size, uint32_t& accepted) override {
        return Write(data, size, accepted);
    }
    platform::WaitObject WriteWait() override;
    // Sends finish in the call: nothing is ever left in flight.
    uint32_t TakeUnwritten() override { return 0; }
    SerialLine* Line() override { return nullptr; }

private:
    void Advance();
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
