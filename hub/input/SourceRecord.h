// SPDX-License-Identifier: Apache-2.0
// The state of an input, and what the hub keeps of its network source across closes and
// re-opens of the input port (the back-off and the counts that `tavro status` shows).
#pragma once

#include "hub/settings/SourceAddress.h"

#include <stdint.h>

namespace tavro {

enum class SourceState : uint8_t {
    Closed,     // not opened
    Resolving,  // looking the host up
    Connecting, // TCP connect under way
    Connected,  // TCP or gpsd connected, a serial port open: bytes flow
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
    int32_t lastOsError = 0; // the system's own error behind it (errno), 0 when none
    uint64_t bytes = 0;      // received since "Source" was set
    uint32_t reconnects = 0; // connections made again after a drop
    uint32_t connections = 0;
    uint32_t delayMs = 0;      // the back-off the next failure waits (0: not started yet)
    uint32_t nextTryTick = 0;  // Waiting: when the next try starts
    uint32_t sinceTick = 0;    // when the state began (connected since, connecting since...)
    uint32_t lastByteTick = 0; // Connected: the last received byte
    bool scheduled = false;    // nextTryTick holds for the next open too
};

} // namespace tavro
