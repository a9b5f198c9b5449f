// The hub-driver contract: control codes and the 1228-byte record of IOCTL_TAVRO_EXCHANGE.
// Shared by the kernel driver, the hub and the test programs, so it stays freestanding.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro {

// CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802 / 0x803, METHOD_BUFFERED, FILE_ANY_ACCESS)
inline constexpr uint32_t IOCTL_TAVRO_EXCHANGE = 0x222008;
inline constexpr uint32_t IOCTL_TAVRO_BROADCAST = 0x22200C;

inline constexpr uint32_t driverInterfaceVersion = 257;
inline constexpr uint32_t exchangeBlockSize = 1228;
inline constexpr uint32_t exchangeDataCapacity = 1024;
inline constexpr uint32_t virtualPortCount = 8;

// Name of the control device, used with "\\.\%s" by the hub and "\Device\%s" by the driver.
inline constexpr char controlDeviceName[] = "Tavro";

struct PendingCounts {
    uint32_t pendingWaits;
    uint32_t pendingReads;
};

struct DriverExchangeBlock {
    uint32_t comNumber[virtualPortCount]; // 0 = port not configured
    uint32_t openCount[virtualPortCount]; // only for ports with a device and an open handle
    uint8_t clientData[exchangeDataCapacity];
    uint32_t clientDataLength;           // 0..1024
    uint32_t readOnly;                   // in: bit 0 is "Read Only (2-8)"; returned as 0
    uint32_t version;                    // always driverInterfaceVersion
    uint32_t activity[virtualPortCount]; // readActivity << 16 | (rxHead & 0xFFFF)
    uint32_t rxAvailable[virtualPortCount];
    PendingCounts pending[virtualPortCount];
};

static_assert(sizeof(PendingCounts) == 8);
static_assert(sizeof(DriverExchangeBlock) == exchangeBlockSize);
static_assert(offsetof(DriverExchangeBlock, comNumber) == 0);
static_assert(offsetof(DriverExchangeBlock, openCount) == 32);
static_assert(offsetof(DriverExchangeBlock, clientData) == 64);
static_assert(offsetof(DriverExchangeBlock, clientDataLength) == 1088);
static_assert(offsetof(DriverExchangeBlock, readOnly) == 1092);
static_assert(offsetof(DriverExchangeBlock, version) == 1096);
static_assert(offsetof(DriverExchangeBlock, activity) == 1100);
static_assert(offsetof(DriverExchangeBlock, rxAvailable) == 1132);
static_assert(offsetof(DriverExchangeBlock, pending) == 1164);
static_assert(offsetof(PendingCounts, pendingWaits) == 0);
static_assert(offsetof(PendingCounts, pendingReads) == 4);

} // namespace tavro
