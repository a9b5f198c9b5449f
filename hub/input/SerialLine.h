// SPDX-License-Identifier: Apache-2.0
// What only a serial input has: a line with a speed and modem lines. The engine reaches it
// through Input::Line(), which is null for inputs without one, and so changes the speed,
// hunts for it after corrupt frames and watches the pulse-per-second only where there is a
// line.
#pragma once

#include "platform/CarrierWatch.h"

#include <memory>
#include <stdint.h>

namespace tavro {

class SerialLine {
public:
    // The hub's line settings (InputLine.h) at `speed`; the hub passes 8 data bits, parity 0
    // (none) and stop bits 0 (one). Returns whether the system took them.
    virtual bool Configure(uint32_t speed, uint8_t dataBits, uint8_t parity, uint8_t stopBits) = 0;

    // A watch on the carrier-detect line for a thread of its own (see CarrierWatch.h); null with
    // `error` set where the port has no such line.
    virtual std::unique_ptr<platform::CarrierWatch> WatchCarrier(uint32_t& error) = 0;

    // The COM number of the port.
    virtual uint32_t ComNumber() const = 0;

protected:
    SerialLine() = default;
    ~SerialLine() = default;
    SerialLine(const SerialLine&) = default;
    SerialLine& operator=(const SerialLine&) = default;
};

} // namespace tavro
