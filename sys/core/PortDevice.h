// One virtual serial port: the serial request set, the per-handle state and the queues of
// reads and wait-on-mask requests with their time-outs and cancellation.
#pragma once

#include <stdint.h>

#include "common/DriverExchangeBlock.h"
#include "sys/core/KernelServices.h"
#include "sys/core/PortHandleState.h"
#include "sys/core/VirtualPort.h"

namespace tavro::driver {

class CompletionList;

// A queued read: besides the request, the slot keeps what the checks need without touching the
// request again (its handle, length and the time it was queued). The start time is the slot's
// own, so a later read of the same handle does not push back an earlier read's time-out.
struct QueuedRead {
    Request* request;
    PortHandleState* handle;
    uint64_t startTime;
    uint32_t length;
};

struct QueuedWait {
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
    // collects (or, with `discardWrites`, drops) its transmit bytes and runs the read check.
    void Receive(const uint8_t* bytes, uint32_t count);
    void Exchange(DriverExchangeBlock& block, uint32_t index, bool discardWrites);

    // Receive normally skips over bytes that cannot complete any queued request. Turning that
    // off makes it run both checks after every byte; tests compare the two.
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
    void CompleteRead(Request& request, PortHandleState& handle, uint32_t length);
    void CheckReads(bool newData, uint64_t now, CompletionList& done);
    void RemoveRead(uint32_t slot);
    static void CancelRead(void* context, Request& request);

    // Waits (WaitQueue.cpp).
    NtStatus WaitOnMask(Request& request, PortHandleState& handle);
    NtStatus SetWaitMask(Request& request, PortHandleState& handle);
    void CheckWaits(uint8_t byte, CompletionList& done);
    void RemoveWait(uint32_t slot);
    static void CancelWait(void* context, Request& request);

    // Receive.cpp.
    void ReceiveByte(uint8_t byte, uint64_t now, CompletionList& done);
    uint32_t QuietRun(const uint8_t* bytes, uint32_t count);

    uint32_t ReadCount() const { return static_cast<uint32_t>(port_->pendingReads); }
    uint32_t WaitCount() const { return static_cast<uint32_t>(port_->pendingWaits); }

    VirtualPort* port_ = nullptr;
    // Queued requests of all handles, kept packed in arrival order: slots 0 to count − 1 are
    // taken (count = the port's pendingReads / pendingWaits), a new request takes slot count,
    // and a removal closes the gap. The checks therefore serve a handle's reads in the order
    // they were queued, and the scans stop at the last queued request.
    QueuedRead readSlots_[slotCount] = {};
    QueuedWait waitSlots_[slotCount] = {};
    PortHandleState* handles_ = nullptr; // open handles of the port
    bool bulkReceiveOff_ = false;        // inverted so that a zero-filled object receives in bulk
};

} // namespace tavro::driver
