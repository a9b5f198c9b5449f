// The hub's side of the driver: the control device through which receiver bytes reach every
// open virtual port and application bytes come back. Windows: DeviceIoControl on "\\.\Tavro".
// POSIX: the hub's own set of pseudo-terminal ports. Tests: the driver core in process.
#pragma once

#include "common/DriverExchangeBlock.h"
#include "platform/ErrorCodes.h"

#include <stdint.h>

namespace tavro::platform {

class ControlDevice {
public:
    virtual ~ControlDevice() = default;

    // Opens the device named `name` ("Tavro"). Returns error::success or the system's code;
    // a second open while one handle exists fails as the driver refuses it.
    virtual uint32_t Open(const char* name) = 0;
    virtual bool IsOpen() const = 0;

    // IOCTL_TAVRO_EXCHANGE with `block` as input and output (exchangeBlockSize bytes each
    // way). Returns error::success or the system's code; the block is then unspecified.
    virtual uint32_t Exchange(DriverExchangeBlock& block) = 0;

    // IOCTL_TAVRO_BROADCAST: `length` receiver bytes to every open virtual port.
    virtual uint32_t Broadcast(const uint8_t* bytes, uint32_t length) = 0;

    // IOCTL_TAVRO_TRAFFIC: what each virtual port carried since this handle was opened.
    // Returns error::success or the system's code (error::invalidParameter from a driver older
    // than the counts; error::notSupported from a device that keeps none).
    virtual uint32_t Traffic(PortTrafficBlock& traffic) {
        (void)traffic;
        return error::notSupported;
    }

    // Closes the handle; nothing happens when it is not open.
    virtual void Close() = 0;

    // ---- Client bytes port by port ----------------------------------------------------------
    // A device whose virtual ports can be drained one at a time lets the hub queue each
    // port's bytes on its own, so that a program writing much cannot hold up another's few.
    // CollectPerPort(true) makes later exchanges leave the bytes where they are (count 0);
    // TakeClientBytes then takes them port by port. Returns whether the device now works that
    // way: false where it cannot (the Windows driver hands them out with the exchange only).
    virtual bool CollectPerPort(bool on) {
        (void)on;
        return false;
    }

    // With CollectPerPort on: at most `room` bytes written to virtual port `index` (0-7), in
    // the order written. While read-only (the last exchange's flag), the bytes of ports 2-8
    // are dropped instead, as the exchange drops them. Bytes that do not fit wait.
    virtual uint32_t TakeClientBytes(uint32_t index, uint8_t* into, uint32_t room) {
        (void)index;
        (void)into;
        (void)room;
        return 0;
    }
};

// The adapter of the edition this program was built for (Windows: platform/win32).
ControlDevice& SystemControlDevice();

} // namespace tavro::platform
