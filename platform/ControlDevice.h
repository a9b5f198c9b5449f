// The hub's side of the driver: the control device through which receiver bytes reach every
// open virtual port and application bytes come back. Windows: DeviceIoControl on "\\.\Tavro".
// POSIX: the hub's own set of pseudo-terminal ports. Tests: the driver core in process.
#pragma once

#include "common/DriverExchangeBlock.h"

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

    // Closes the handle; nothing happens when it is not open.
    virtual void Close() = 0;
};

// The adapter of the edition this program was built for (Windows: platform/win32).
ControlDevice& SystemControlDevice();

} // namespace tavro::platform
