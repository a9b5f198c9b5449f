// SPDX-License-Identifier: Apache-2.0
// Makes the input a description names, so that whoever reads inputs (the engine's input port,
// and any number of them at once) never needs to know their kinds.
#pragma once

#include "hub/input/Input.h"
#include "hub/input/SourceRecord.h"
#include "hub/settings/SourceAddress.h"
#include "platform/Network.h"
#include "platform/SerialPort.h"
#include "platform/Threads.h"
#include "platform/Timing.h"

#include <memory>
#include <stdint.h>

namespace tavro {

// The operating system as inputs use it. The objects outlive the inputs.
struct InputSystem {
    platform::SerialPorts& serialPorts;
    platform::Timing& timing;
    // Null where the edition has no sockets (or threads for name lookups): network inputs
    // cannot be made there.
    platform::Network* network = nullptr;
    platform::Threads* threads = nullptr;
};

// Where an input's bytes come from.
struct InputDescription {
    SourceAddress address; // kind Serial: COM<comNumber>; otherwise a network source
    uint32_t comNumber = 0;
    bool arrival = false; // a serial port opened to be waited on (network sources always are)
};

// The input `description` names, not opened yet; `record` keeps what is known of a network
// source across the inputs made for it, and must outlive the input. Null with `error` set when
// none can be made: error::notSupported for a network source where there are no sockets,
// error::notEnoughMemory.
std::unique_ptr<Input> MakeInput(const InputDescription& description, const InputSystem& system,
                                 SourceRecord& record, uint32_t& error);

} // namespace tavro
