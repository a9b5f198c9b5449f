// The system's list of serial ports, HKLM\HARDWARE\DEVICEMAP\SERIALCOMM. It is volatile, so
// the entries the driver writes vanish at reboot even if it never unloads.
#pragma once

#include "sys/kernel/RegistryKey.h"

namespace tavro::kernel {

class SerialCommKey : public RegistryKey {
public:
    SerialCommKey()
        : RegistryKey(RegistryRoot::DeviceMap, L"SERIALCOMM", KEY_READ | KEY_SET_VALUE,
                      KeyDisposition::CreateIfMissing, REG_OPTION_VOLATILE) {}
};

} // namespace tavro::kernel
