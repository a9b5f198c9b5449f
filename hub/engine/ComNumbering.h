// COM numbers the system has taken: the bitmap the hub keeps of them and the scan of the
// system's serial port map that fills it. The same scan marks the ports the GPS search tries
// (portScanState 1). The main window's port lists are filled from the bitmap.
#pragma once

#include "platform/SerialPortMap.h"

#include <stdint.h>

namespace tavro {

struct SearchValues;

// 256 bits, one per COM number: COM n is bit (n - 1) % 8 of byte (n - 1) / 8, least
// significant bit first. A set bit means the number is taken. Numbers 1 to 255 are used.
struct ComDbBitmap {
    static constexpr uint32_t byteCount = 32;
    static constexpr uint32_t firstComNumber = 1;
    static constexpr uint32_t lastComNumber = 255;

    uint8_t bytes[byteCount] = {};

    void Clear();
    // Sets (taken) or clears bit n - 1. Numbers outside 1..255 name no port and change nothing.
    void SetComBit(uint32_t comNumber, bool taken);
    bool IsTaken(uint32_t comNumber) const;
};

// Adds every port of the system's serial port map whose name is "COM" and a number from 1 to
// 255: its bit is set and its portScanState entry becomes 1 (present, not tried yet). Only adds:
// callers that want a fresh picture clear the bitmap first. Returns false only when the map
// cannot be opened (nothing is changed then).
bool ScanSerialPorts(platform::SerialPortMap& serialPortMap, ComDbBitmap& bitmap,
                     SearchValues& search);

// Called after the bitmap changed: after the message window's first scan, at the start of every
// GPS search, and after the virtual ports' numbers were marked or cleared.
//
// It does nothing, deliberately. The system keeps its own reservation of COM numbers (the COM
// name arbiter), and bringing that in line with this bitmap would mean rewriting a machine-wide
// record, with administrator rights, from a tray program and from a picture that is only the
// hub's: ports of other drivers that are unplugged at this moment are not in the map, and would
// lose their reserved numbers. The hub keeps its bitmap to itself; the hook marks the places
// where such a step would belong.
void ComDbBitmapChanged();

} // namespace tavro
