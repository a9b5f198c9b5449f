// The control device through which the hub feeds and drains the virtual ports.
#pragma once

#include <stdint.h>

#include "common/DriverExchangeBlock.h"
#include "sys/core/KernelServices.h"
#include "sys/core/VirtualPort.h"

namespace tavro::driver {

// The kernel glue embeds one ControlDevice in the control device object ("\Device\Tavro") and
// forwards its dispatch routines to the members of the same name; each completes its request
// (the control device never queues one).
class ControlDevice {
public:
    // `ports` is the table of eight records; openCount and readOnly start at 0.
    void Init(VirtualPort* ports);
    void Release();

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

    // The time-out service of every port: completes what expired by `now` and returns the
    // earliest deadline still pending (0 for none). The driver's time-out thread calls it.
    uint64_t RunTimeouts(uint64_t now);

    uint32_t OpenCount() const { return openCount_; }
    bool ReadOnly() const { return readOnly_ != 0; }

private:
    NtStatus Exchange(Request& request);
    NtStatus Broadcast(Request& request);
    NtStatus Traffic(Request& request);
    NtStatus CompleteNothing(Request& request);
    void TellPorts(bool hubAttached);

    uint32_t openCount_ = 0;
    VirtualPort* ports_ = nullptr;
    uint8_t readOnly_ = 0;
    // Guards openCount and readOnly: the hub normally calls from one thread, but nothing stops
    // two threads from using its handle, or a second open from racing the first.
    SpinLock lock_ = {};
};

} // namespace tavro::driver
