// The serial request set as the system sends it to serial devices: control codes, the wire
// records and their bit values, with the published numbers. The mingw-w64 DDK has no
// ntddser.h, so they are defined here; never include a system ntddser.h next to this file.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro::driver {

// IRP_MJ_* values of the requests the driver serves.
enum class MajorFunction : uint8_t {
    Create = 0x00,
    Close = 0x02,
    Read = 0x03,
    Write = 0x04,
    QueryInformation = 0x05,
    SetInformation = 0x06,
    FlushBuffers = 0x09,
    DeviceControl = 0x0E,
    Cleanup = 0x12,
};

// FILE_INFORMATION_CLASS values.
inline constexpr uint32_t fileStandardInformation = 5;
inline constexpr uint32_t filePositionInformation = 14;
inline constexpr uint32_t fileAllocationInformation = 19;
inline constexpr uint32_t fileEndOfFileInformation = 20;
inline constexpr uint32_t fileStandardInformationSize = 24;
inline constexpr uint32_t filePositionInformationSize = 8;

inline constexpr uint32_t serialDeviceType = 0x1B; // FILE_DEVICE_SERIAL_PORT

// CTL_CODE(FILE_DEVICE_SERIAL_PORT, function, METHOD_BUFFERED, FILE_ANY_ACCESS)
inline constexpr uint32_t SerialControlCode(uint32_t function) {
    return (serialDeviceType << 16) | (function << 2);
}

inline constexpr uint32_t IOCTL_SERIAL_SET_BAUD_RATE = SerialControlCode(1);
inline constexpr uint32_t IOCTL_SERIAL_SET_QUEUE_SIZE = SerialControlCode(2);
inline constexpr uint32_t IOCTL_SERIAL_SET_LINE_CONTROL = SerialControlCode(3);
inline constexpr uint32_t IOCTL_SERIAL_SET_BREAK_ON = SerialControlCode(4);
inline constexpr uint32_t IOCTL_SERIAL_SET_BREAK_OFF = SerialControlCode(5);
inline constexpr uint32_t IOCTL_SERIAL_IMMEDIATE_CHAR = SerialControlCode(6);
inline constexpr uint32_t IOCTL_SERIAL_SET_TIMEOUTS = SerialControlCode(7);
inline constexpr uint32_t IOCTL_SERIAL_GET_TIMEOUTS = SerialControlCode(8);
inline constexpr uint32_t IOCTL_SERIAL_SET_DTR = SerialControlCode(9);
inline constexpr uint32_t IOCTL_SERIAL_CLR_DTR = SerialControlCode(10);
inline constexpr uint32_t IOCTL_SERIAL_RESET_DEVICE = SerialControlCode(11);
inline constexpr uint32_t IOCTL_SERIAL_SET_RTS = SerialControlCode(12);
inline constexpr uint32_t IOCTL_SERIAL_CLR_RTS = SerialControlCode(13);
inline constexpr uint32_t IOCTL_SERIAL_SET_XOFF = SerialControlCode(14);
inline constexpr uint32_t IOCTL_SERIAL_SET_XON = SerialControlCode(15);
inline constexpr uint32_t IOCTL_SERIAL_GET_WAIT_MASK = SerialControlCode(16);
inline constexpr uint32_t IOCTL_SERIAL_SET_WAIT_MASK = SerialControlCode(17);
inline constexpr uint32_t IOCTL_SERIAL_WAIT_ON_MASK = SerialControlCode(18);
inline constexpr uint32_t IOCTL_SERIAL_PURGE = SerialControlCode(19);
inline constexpr uint32_t IOCTL_SERIAL_GET_BAUD_RATE = SerialControlCode(20);
inline constexpr uint32_t IOCTL_SERIAL_GET_LINE_CONTROL = SerialControlCode(21);
inline constexpr uint32_t IOCTL_SERIAL_GET_CHARS = SerialControlCode(22);
inline constexpr uint32_t IOCTL_SERIAL_SET_CHARS = SerialControlCode(23);
inline constexpr uint32_t IOCTL_SERIAL_GET_HANDFLOW = SerialControlCode(24);
inline constexpr uint32_t IOCTL_SERIAL_SET_HANDFLOW = SerialControlCode(25);
inline constexpr uint32_t IOCTL_SERIAL_GET_MODEMSTATUS = SerialControlCode(26);
inline constexpr uint32_t IOCTL_SERIAL_GET_COMMSTATUS = SerialControlCode(27);
inline constexpr uint32_t IOCTL_SERIAL_XOFF_COUNTER = SerialControlCode(28);
inline constexpr uint32_t IOCTL_SERIAL_GET_PROPERTIES = SerialControlCode(29);
inline constexpr uint32_t IOCTL_SERIAL_GET_DTRRTS = SerialControlCode(30);
inline constexpr uint32_t IOCTL_SERIAL_LSRMST_INSERT = SerialControlCode(31);
inline constexpr uint32_t IOCTL_SERIAL_CONFIG_SIZE = SerialControlCode(32);
inline constexpr uint32_t IOCTL_SERIAL_GET_COMMCONFIG = SerialControlCode(33);
inline constexpr uint32_t IOCTL_SERIAL_SET_COMMCONFIG = SerialControlCode(34);
inline constexpr uint32_t IOCTL_SERIAL_GET_STATS = SerialControlCode(35);
inline constexpr uint32_t IOCTL_SERIAL_CLEAR_STATS = SerialControlCode(36);
inline constexpr uint32_t IOCTL_SERIAL_GET_MODEM_CONTROL = SerialControlCode(37);
inline constexpr uint32_t IOCTL_SERIAL_SET_MODEM_CONTROL = SerialControlCode(38);
inline constexpr uint32_t IOCTL_SERIAL_SET_FIFO_CONTROL = SerialControlCode(39);

static_assert(IOCTL_SERIAL_SET_BAUD_RATE == 0x1B0004);
static_assert(IOCTL_SERIAL_WAIT_ON_MASK == 0x1B0048);
static_assert(IOCTL_SERIAL_CONFIG_SIZE == 0x1B0080);

inline constexpr uint32_t maxDword = 0xFFFFFFFF; // MAXDWORD

// Wait-mask events (SERIAL_EV_*). The port signals EV_RXCHAR, EV_RXFLAG, EV_TXEMPTY and EV_ERR;
// it has no modem lines that could change.
inline constexpr uint32_t SERIAL_EV_RXCHAR = 0x0001;
inline constexpr uint32_t SERIAL_EV_RXFLAG = 0x0002;
inline constexpr uint32_t SERIAL_EV_TXEMPTY = 0x0004;
inline constexpr uint32_t SERIAL_EV_CTS = 0x0008;
inline constexpr uint32_t SERIAL_EV_DSR = 0x0010;
inline constexpr uint32_t SERIAL_EV_RLSD = 0x0020;
inline constexpr uint32_t SERIAL_EV_BREAK = 0x0040;
inline constexpr uint32_t SERIAL_EV_ERR = 0x0080;
inline constexpr uint32_t SERIAL_EV_RING = 0x0100;

// IOCTL_SERIAL_PURGE bits.
inline constexpr uint32_t SERIAL_PURGE_TXABORT = 0x1;
inline constexpr uint32_t SERIAL_PURGE_RXABORT = 0x2;
inline constexpr uint32_t SERIAL_PURGE_TXCLEAR = 0x4;
inline constexpr uint32_t SERIAL_PURGE_RXCLEAR = 0x8;

inline constexpr uint32_t SERIAL_XOFF_CONTINUE = 0x80000000;

// SERIAL_STATUS.Errors bits; kernel32's ClearCommError turns QUEUEOVERRUN into CE_RXOVER.
inline constexpr uint32_t SERIAL_ERROR_OVERRUN = 0x4;
inline constexpr uint32_t SERIAL_ERROR_QUEUEOVERRUN = 0x8;

// SERIAL_COMMPROP.MaxBaud: any rate may be set (BAUD_USER).
inline constexpr uint32_t SERIAL_BAUD_USER = 0x10000000;

// Modem status reported by IOCTL_SERIAL_GET_MODEMSTATUS: CTS and DSR on. The lines never change,
// so no change bit (0x01 to 0x08) is ever set.
inline constexpr uint32_t modemStatusCtsDsrOn = 0x30;

struct SERIAL_TIMEOUTS {
    uint32_t ReadIntervalTimeout;
    uint32_t ReadTotalTimeoutMultiplier;
    uint32_t ReadTotalTimeoutConstant;
    uint32_t WriteTotalTimeoutMultiplier;
    uint32_t WriteTotalTimeoutConstant;
};

struct SERIAL_HANDFLOW {
    uint32_t ControlHandShake;
    uint32_t FlowReplace;
    int32_t XonLimit;
    int32_t XoffLimit;
};

struct SERIAL_CHARS {
    uint8_t EofChar;
    uint8_t ErrorChar;
    uint8_t BreakChar;
    uint8_t EventChar;
    uint8_t XonChar;
    uint8_t XoffChar;
};

struct SERIAL_LINE_CONTROL {
    uint8_t StopBits;
    uint8_t Parity;
    uint8_t WordLength;
};

struct SERIAL_QUEUE_SIZE {
    uint32_t InSize;
    uint32_t OutSize;
};

struct SERIAL_STATUS {
    uint32_t Errors;
    uint32_t HoldReasons;
    uint32_t AmountInInQueue;
    uint32_t AmountInOutQueue;
    uint8_t EofReceived;
    uint8_t WaitForImmediate;
};

struct SERIAL_COMMPROP {
    uint16_t PacketLength;
    uint16_t PacketVersion;
    uint32_t ServiceMask;
    uint32_t Reserved1;
    uint32_t MaxTxQueue;
    uint32_t MaxRxQueue;
    uint32_t MaxBaud;
    uint32_t ProvSubType;
    uint32_t ProvCapabilities;
    uint32_t SettableParams;
    uint32_t SettableBaud;
    uint16_t SettableData;
    uint16_t SettableStopParity;
    uint32_t CurrentTxQueue;
    uint32_t CurrentRxQueue;
    uint32_t ProvSpec1;
    uint32_t ProvSpec2;
    uint16_t ProvChar[1]; // WCHAR
};

static_assert(sizeof(SERIAL_TIMEOUTS) == 20);
static_assert(sizeof(SERIAL_HANDFLOW) == 16);
static_assert(sizeof(SERIAL_CHARS) == 6);
static_assert(sizeof(SERIAL_LINE_CONTROL) == 3);
static_assert(sizeof(SERIAL_QUEUE_SIZE) == 8);
static_assert(sizeof(SERIAL_STATUS) == 20);
static_assert(offsetof(SERIAL_STATUS, EofReceived) == 16);
static_assert(sizeof(SERIAL_COMMPROP) == 64);
static_assert(offsetof(SERIAL_COMMPROP, MaxBaud) == 20);
static_assert(offsetof(SERIAL_COMMPROP, SettableData) == 40);
static_assert(offsetof(SERIAL_COMMPROP, CurrentRxQueue) == 48);
static_assert(offsetof(SERIAL_COMMPROP, ProvChar) == 60);

} // namespace tavro::driver
