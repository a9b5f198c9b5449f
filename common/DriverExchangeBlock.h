// The hub-driver contract: control codes, the 1228-byte record of IOCTL_TAVRO_EXCHANGE and the
// traffic counts of IOCTL_TAVRO_TRAFFIC. Shared by the kernel driver, the hub and the test
// programs, so it stays freestanding.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro {

// CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802 / 0x803, METHOD_BUFFERED, FILE_ANY_ACCESS)
inline constexpr uint32_t IOCTL_TAVRO_EXCHANGE = 0x222008;
inline constexpr uint32_t IOCTL_TAVRO_BROADCAST = 0x22200C;
// CTL_CODE(FILE_DEVICE_UNKNOWN, 0x804, METHOD_BUFFERED, FILE_ANY_ACCESS). Drivers older than the
// code answer it STATUS_INVALID_PARAMETER, as every unknown code.
inline constexpr uint32_t IOCTL_TAVRO_TRAFFIC = 0x222010;

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

// What one virtual port carried since the hub opened the control device: the answer to
// "which program gets nothing, and whose commands go nowhere".
struct PortTraffic {
    uint64_t bytesRelayed; // receiver bytes stored for the port's programs
    uint64_t bytesDropped; // of those, bytes a program lost by not reading in time
    uint64_t bytesWritten; // bytes programs wrote that the hub collected for the receiver
    uint64_t bytesRefused; // bytes programs wrote that were dropped ("Read Only (2-8)")
};

// The output of IOCTL_TAVRO_TRAFFIC: every port, configured or not (zeros then).
struct PortTrafficBlock {
    PortTraffic ports[virtualPortCount];
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
static_assert(sizeof(PortTraffic) == 32);
static_assert(offsetof(PortTraffic, bytesRelayed) == 0);
static_assert(offsetof(PortTraffic, bytesDropped) == 8);
static_assert(offsetof(PortTraffic, bytesWritten) == 16);
static_assert(offsetof(PortTraffic, bytesRefused) == 24);
static_assert(sizeof(PortTrafficBlock) == 256);

} // namespace tavro
