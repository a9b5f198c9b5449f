// The serial port map of Windows: the values under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, whose
// data are port names such as "COM3".
#include "platform/SerialPortMap.h"

#include "platform/ErrorCodes.h"

#include <windows.h>

namespace tavro::platform {
namespace {

class Win32SerialPortMap final : public SerialPortMap {
public:
    uint32_t List(SerialPortList& list) override {
        list = SerialPortList{};
        HKEY key = nullptr;
        // Opened, not created: a machine without serial ports has no such key, and the map
        // of that machine is simply empty.
        const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                          KEY_QUERY_VALUE, &key);
        if (opened != ERROR_SUCCESS) {
            return static_cast<uint32_t>(opened);
        }
        for (DWORD index = 0;; ++index) {
            char name[128];
            // One byte beyond what the call may fill, so the name always ends in a zero even
            // when the stored string has none.
            char data[33];
            ZeroMemory(name, sizeof name);
            ZeroMemory(data, sizeof data);
            DWORD nameLength = sizeof name;
            DWORD dataLength = sizeof data - 1;
            DWORD type = 0;
            const LONG result = RegEnumValueA(key, index, name, &nameLength, nullptr, &type,
                                              reinterpret_cast<BYTE*>(data), &dataLength);
            if (result == ERROR_NO_MORE_ITEMS) {
                break;
            }
            if (result == ERROR_MORE_DATA) {
                continue; // a name or port name longer than any COM port's: not a port
            }
            if (result != ERROR_SUCCESS) {
                break;
            }
            if (type != REG_SZ) {
                continue;
            }
            if (list.count == SerialPortList::capacity) {
                list.truncated = true;
                break;
            }
            list.comNumbers[list.count++] = AtoiNumber(data + 3);
        }
        RegCloseKey(key);
        return error::success;
    }
};

} // namespace

SerialPortMap& SystemSerialPortMap() {
    static Win32SerialPortMap instance;
    return instance;
}

} // namespace tavro::platform
