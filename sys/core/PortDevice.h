// One virtual serial port: the serial request set, the per-handle state and the queues of
// reads, wait-on-mask requests, writes and flushes with their time-outs and cancellation.
#pragma once

#include <stdint.h>

#include "common/DriverExchangeBlock.h"
#include "sys/core/KernelServices.h"
#include "sys/core/PortHandleState.h"
#include "sys/core/VirtualPort.h"

namespace tavro::driver {

class CompletionList;

// No deadline: a time-out that never expires.
inline constexpr uint64_t noDeadline = ~uint64_t{0};

// How a read's time-outs make it end (QueuedRead::mode), decided when it is queued.
inline constexpr uint8_t readReturnsAtOnce = 1; // MAXDWORD, 0, 0: with what is there, even nothing
inline constexpr uint8_t readFirstByte = 2;     // MAXDWORD, MAXDWORD, 0 < RC < MAXDWORD
inline constexpr uint8_t readAtOnceIfWaiting = 4; // at its start, with bytes waiting

// A queued read. Its time-outs are taken when it is queued, so a later SetCommTimeouts does not
// change a read already waiting. Only the handle's oldest queued read takes bytes: reads of one
// handle are served in the order they were queued.
struct QueuedRead {
    Request* request;
    PortHandleState* handle;
    uint64_t startTime;
    uint64_t totalDeadline; // from the total time-out (and the first-byte constant); noDeadline
    uint64_t lastByteTime;  // when bytes last arrived for this read (valid with gotBytes)
    uint32_t length;
    uint32_t absorbed; // bytes already moved into the request's buffer (its ring share was full)
    uint32_t interval; // ReadIntervalTimeout
    uint8_t mode;      // read* bits above
    uint8_t gotBytes;  // bytes arrived during this read: the interval time-out runs
    uint8_t started;   // the rules for a read at its start have been applied
};

struct QueuedWait {
    Request* request;
    PortHandleState* handle;
};

// A write whose bytes did not all fit in the transmit ring: the rest goes in as the hub's
// exchanges make room, in the order the writes came.
struct QueuedWrite {
    Request* request;
    PortHandleState* handle;
    uint64_t deadline; // from the write time-outs; noDeadline
    uint32_t length;
    uint32_t stored;
};

// FlushFileBuffers waiting for the hub to collect the handle's bytes.
struct QueuedFlush {
    Request* request;
    PortHandleState* handle;
};

// The kernel glue owns the device object and embeds one PortDevice in it; every dispatch
// routine of the port device forwards to the member of the same name, which completes the
// request itself unless it returns status::pending. Construction does nothing beyond zeroing,
// so a zero-filled object is a valid unbound PortDevice.
class PortDevice {
public:
    static constexpr uint32_t slotCount = 8;
    // Largest receive ring a queue-size request may ask for: an application's request must not
    // be able to exhaust non-paged memory. Larger requests get this size.
    static constexpr uint32_t maxRxRingSize = 1u << 20;

    // Binds the device to its record: allocates both 4096-byte rings, initialises the port
    // lock, clears the slots, and on success stores itself in `port.portDevice` and sets
    // `port.deviceCreated`. On failure nothing is kept and status::unsuccessful is returned.
    NtStatus Init(VirtualPort& port);
    // Releases the rings and the lock (unload, or after a failed Init: then it does nothing).
    // No request may be in progress.
    void Release();

    VirtualPort* Port() const { return port_; }

    // Dispatch by the request's major function; anything not served completes with
    // status::notImplemented, as the framework's default operations do.
    NtStatus Dispatch(Request& request);

    NtStatus Create(Request& request);
    NtStatus Close(Request& request);
    NtStatus Cleanup(Request& request);
    NtStatus Read(Request& request);
    NtStatus Write(Request& request);
    NtStatus QueryInformation(Request& request);
    NtStatus SetInformation(Request& request);
    NtStatus FlushBuffers(Request& request);
    NtStatus DeviceControl(Request& request);

    // The control device's part on this port (hub thread). Receive stores a broadcast chunk
    // and completes the waits and reads it satisfies; Exchange reports the port into `block`,
    // collects (or, with `discardWrites`, drops) its transmit bytes and runs the time-outs.
    void Receive(const uint8_t* bytes, uint32_t count, uint64_t now);
    void Exchange(DriverExchangeBlock& block, uint32_t index, bool discardWrites);
    // Whether a hub has the control device open. Without one nothing collects the transmit
    // ring: writes then never wait (the ring keeps the newest bytes) and flushes end at once.
    // A hub that attaches finds the traffic counts at 0.
    void SetHubAttached(bool attached);
    // What the port carried since the hub attached (IOCTL_TAVRO_TRAFFIC).
    PortTraffic Traffic();

    // The time-out service: completes what has expired by `now` and returns the port's next
    // deadline (0 for none). Called by the driver's time-out thread.
    uint64_t RunTimeouts(uint64_t now);

    // Receive normally skips over bytes that cannot complete any queued request. Turning that
    // off makes it run every check after every byte; tests compare the two.
    void SetBulkReceive(bool enabled) { bulkReceiveOff_ = !enabled; }

private:
    // Serial control codes (SerialControl.cpp).
    NtStatus SetQueueSize(Request& request);
    NtStatus Purge(Request& request, PortHandleState& handle);
    NtStatus GetCommStatus(Request& request, PortHandleState& handle);
    NtStatus GetProperties(Request& request, PortHandleState& handle);
    // Copies a field of the handle to (or from) the request's buffer under the port lock.
    NtStatus CopySetting(Request& request, void* field, uint32_t size, bool toHandle);

    // Reads (ReadQueue.cpp).
    uint32_t AvailableBytes(PortHandleState& handle);
    void CompleteRead(Request& request, PortHandleState& handle, uint32_t length,
                      uint32_t absorbed);
    bool ReadDone(QueuedRead& queued, bool first, bool arrived, uint64_t now);
    void ServeReads(uint64_t now, bool arrived, CompletionList& done);
    void MarkArrival(uint64_t now);
    bool FirstOfHandle(PortHandleState& handle) {
        bool first = handle.serveMark != serveEpoch_;
        handle.serveMark = serveEpoch_;
        return first;
    }
    void RemoveRead(uint32_t slot);

    // Waits and events (WaitQueue.cpp).
    NtStatus WaitOnMask(Request& request, PortHandleState& handle);
    NtStatus SetWaitMask(Request& request, PortHandleState& handle);
    void CheckWaits(uint8_t byte, CompletionList& done);
    void RaiseEvents(PortHandleState& handle, uint32_t events, CompletionList& done);
    void RecordHistory(const uint8_t* bytes, uint32_t count, CompletionList* overruns);
    void RemoveWait(uint32_t slot);

    // Transmit side (Transmit.cpp).
    void StoreTransmit(PortHandleState& handle, const uint8_t* bytes, uint32_t count);
    uint32_t TransmitRoom() const;
    uint32_t TransmitWaiting(const PortHandleState& handle) const;
    void MoveQueuedWrites(CompletionList& done);
    void TransmitProgress(CompletionList& done);
    void DropTransmit(PortHandleState& handle);
    void RemoveWrite(uint32_t slot);
    void RemoveFlush(uint32_t slot);

    // Cancellation (Cancellation.cpp). The kinds of queued request, as bits.
    static constexpr uint32_t queuedReads = 1;
    static constexpr uint32_t queuedWaits = 2;
    static constexpr uint32_t queuedWrites = 4;
    static constexpr uint32_t queuedFlushes = 8;
    // Ends the handle's queued requests of these kinds as cancelled (each with the bytes it
    // already moved), then lets the requests of other handles go on.
    void CancelOfHandle(PortHandleState& handle, uint32_t kinds, CompletionList& done);
    // What may move once requests left the queues: the next reads take their turn, waiting
    // writes move in, flushes and EV_TXEMPTY follow, the deadline is set again.
    void AfterRemoval(CompletionList& done);
    // The cancel routine of every queued request.
    static void CancelQueued(void* context, Request& request);

    // Receive.cpp.
    void ReceiveByte(uint8_t byte, uint64_t now, CompletionList& done);
    void StoreRun(const uint8_t* bytes, uint32_t count, CompletionList& done);
    void MakeRoom(CompletionList& done);
    // A quiet run, and whether the byte after it only ends waits (see QuietRun).
    struct Run {
        uint32_t length;
        bool waitByte;
    };
    uint32_t ReadLimit();
    Run QuietRun(const uint8_t* bytes, uint32_t count, uint32_t readLimit);

    // Time-outs (ReadQueue.cpp): completes what expired, then re-arms the time-out service.
    void CheckTimeouts(uint64_t now, CompletionList& done);
    void UpdateDeadline();

    uint32_t ReadCount() const { return static_cast<uint32_t>(port_->pendingReads); }
    uint32_t WaitCount() const { return static_cast<uint32_t>(port_->pendingWaits); }
    uint32_t RingRoom(const PortHandleState& handle) const;

    VirtualPort* port_ = nullptr;
    // Queued requests of all handles, kept packed in arrival order: slots 0 to count − 1 are
    // taken (count = the port's pendingReads / pendingWaits, writeCount_, flushCount_), a new
    // request takes slot count, and a removal closes the gap. The checks therefore serve
    // requests in the order they were queued, and the scans stop at the last one.
    QueuedRead readSlots_[slotCount] = {};
    QueuedWait waitSlots_[slotCount] = {};
    QueuedWrite writeSlots_[slotCount] = {};
    QueuedFlush flushSlots_[slotCount] = {};
    uint32_t writeCount_ = 0;
    uint32_t flushCount_ = 0;
    PortHandleState* handles_ = nullptr; // open handles of the port

    // The transmit ring as a stream: txStored_ bytes went in, txCollected_ came out (taken by
    // the hub or dropped); the difference is what the ring holds.
    uint64_t txStored_ = 0;
    uint64_t txCollected_ = 0;
    // The handle whose bytes fill the ring from txLastRunStart_ to its head (null when it has
    // closed): PURGE_TXCLEAR can drop those without touching another handle's bytes.
    PortHandleState* txLastWriter_ = nullptr;
    uint64_t txLastRunStart_ = 0;

    // Counted under the port lock where the bytes move: stored by Receive, lost by a full
    // share (MakeRoom, RecordHistory), collected or dropped by Exchange.
    PortTraffic traffic_ = {};

    uint64_t nextDeadline_ = 0; // earliest time-out of a queued request; 0 = none
    uint64_t serveEpoch_ = 0;   // counts passes over the read queue
    bool hubAttached_ = false;
    bool bulkReceiveOff_ = false; // inverted so that a zero-filled object receives in bulk
};

} // namespace tavro::driver
