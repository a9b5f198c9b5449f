#include "hub/engine/ComNumbering.h"

#include "hub/engine/HubContext.h"
#include "platform/ErrorCodes.h"

#include <string.h>

namespace tavro {

void ComDbBitmap::Clear() {
    memset(bytes, 0, sizeof bytes);
}

void ComDbBitmap::SetComBit(uint32_t comNumber, bool taken) {
    if (comNumber < firstComNumber || comNumber > lastComNumber) {
        return;
    }
    const uint32_t bit = comNumber - 1;
    const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
    if (taken) {
        bytes[bit / 8] |= mask;
    } else {
        bytes[bit / 8] &= static_cast<uint8_t>(~mask);
    }
}

bool ComDbBitmap::IsTaken(uint32_t comNumber) const {
    if (comNumber < firstComNumber || comNumber > lastComNumber) {
        return false;
    }
    const uint32_t bit = comNumber - 1;
    return (bytes[bit / 8] >> (bit % 8) & 1) != 0;
}

bool ScanSerialPorts(platform::SerialPortMap& serialPortMap, ComDbBitmap& bitmap,
                     SearchValues& search) {
    // About 1 KB: the scan runs on the message window's thread, never on a scanning thread.
    platform::SerialPortList list;
    if (serialPortMap.List(list) != error::success) {
        return false;
    }
    const uint32_t count = list.count < list.capacity ? list.count : list.capacity;
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t comNumber = list.comNumbers[i];
        if (comNumber < static_cast<int32_t>(ComDbBitmap::firstComNumber) ||
            comNumber > static_cast<int32_t>(ComDbBitmap::lastComNumber)) {
            continue;
        }
        search.portScanState[comNumber].store(1);
        bitmap.SetComBit(static_cast<uint32_t>(comNumber), true);
    }
    return true;
}

void ComDbBitmapChanged() {}

} // namespace tavro
