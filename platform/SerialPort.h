// Serial ports by COM number, in the terms of the Win32 serial functions: the DCB, the five
// time-outs, COMSTAT and Win32 error codes. Every edition answers with the same numbers, so
// the hub's port logic reads the same on Windows and on POSIX.
//
// A SerialPorts object opens ports; each successful open yields one SerialPort, the
// equivalent of one handle. Destroying it closes the handle. Close() may also be called from
// another thread (the GPS search cancels its scanning threads that way): the handle is
// released at once, and every later call on the object fails with error::invalidHandle.
#pragma once

#include "platform/CarrierWatch.h"
#include "platform/EventWait.h"

#include <memory>
#include <stdint.h>

namespace tavro::platform {

// The DCB as Win32 lays it out (28 bytes, same field names and bit order), so that logic
// written against SetCommState reads the same here. The named bit fields and the flags word
// (DcbFlags / SetDcbFlags) describe the same bits.
struct Dcb {
    uint32_t DCBlength = sizeof(Dcb);
    uint32_t BaudRate = 0;
    uint32_t fBinary : 1 = 1;
    uint32_t fParity : 1 = 0;
    uint32_t fOutxCtsFlow : 1 = 0;
    uint32_t fOutxDsrFlow : 1 = 0;
    uint32_t fDtrControl : 2 = 0;
    uint32_t fDsrSensitivity : 1 = 0;
    uint32_t fTXContinueOnXoff : 1 = 0;
    uint32_t fOutX : 1 = 0;
    uint32_t fInX : 1 = 0;
    uint32_t fErrorChar : 1 = 0;
    uint32_t fNull : 1 = 0;
    uint32_t fRtsControl : 2 = 0;
    uint32_t fAbortOnError : 1 = 0;
    uint32_t fDummy2 : 17 = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    char XonChar = 0x11;
    char XoffChar = 0x13;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;
};

static_assert(sizeof(Dcb) == 28, "the hub passes a DCB length of 28");

// Values of the DCB fields, under names that cannot collide with the <windows.h> macros.
namespace dcb {
inline constexpr uint32_t dtrControlDisable = 0;
inline constexpr uint32_t dtrControlEnable = 1;
inline constexpr uint32_t dtrControlHandshake = 2;
inline constexpr uint32_t rtsControlDisable = 0;
inline constexpr uint32_t rtsControlEnable = 1;
inline constexpr uint32_t rtsControlHandshake = 2;
inline constexpr uint32_t rtsControlToggle = 3;

inline constexpr uint8_t noParity = 0;
inline constexpr uint8_t oddParity = 1;
inline constexpr uint8_t evenParity = 2;
inline constexpr uint8_t markParity = 3;
inline constexpr uint8_t spaceParity = 4;

inline constexpr uint8_t oneStopBit = 0;
inline constexpr uint8_t one5StopBits = 1;
inline constexpr uint8_t twoStopBits = 2;

// Bits of the flags word (the third 32-bit word of the DCB).
inline constexpr uint32_t flagBinary = 0x0001;
inline constexpr uint32_t flagParity = 0x0002;
inline constexpr uint32_t flagOutxCtsFlow = 0x0004;
inline constexpr uint32_t flagOutxDsrFlow = 0x0008;
inline constexpr uint32_t flagDtrControlMask = 0x0030;
inline constexpr uint32_t flagDsrSensitivity = 0x0040;
inline constexpr uint32_t flagTXContinueOnXoff = 0x0080;
inline constexpr uint32_t flagOutX = 0x0100;
inline constexpr uint32_t flagInX = 0x0200;
inline constexpr uint32_t flagErrorChar = 0x0400;
inline constexpr uint32_t flagNull = 0x0800;
inline constexpr uint32_t flagRtsControlMask = 0x3000;
inline constexpr uint32_t flagAbortOnError = 0x4000;
} // namespace dcb

// The flags word as Win32 code sees it. Written out bit by bit: bit-field layout is the
// compiler's business, the word's meaning is not.
inline uint32_t DcbFlags(const Dcb& value) {
    using U = uint32_t;
    return U{value.fBinary} | U{value.fParity} << 1 | U{value.fOutxCtsFlow} << 2 |
           U{value.fOutxDsrFlow} << 3 | U{value.fDtrControl} << 4 | U{value.fDsrSensitivity} << 6 |
           U{value.fTXContinueOnXoff} << 7 | U{value.fOutX} << 8 | U{value.fInX} << 9 |
           U{value.fErrorChar} << 10 | U{value.fNull} << 11 | U{value.fRtsControl} << 12 |
           U{value.fAbortOnError} << 14 | U{value.fDummy2} << 15;
}

inline void SetDcbFlags(Dcb& value, uint32_t flags) {
    value.fBinary = flags & 1;
    value.fParity = flags >> 1 & 1;
    value.fOutxCtsFlow = flags >> 2 & 1;
    value.fOutxDsrFlow = flags >> 3 & 1;
    value.fDtrControl = flags >> 4 & 3;
    value.fDsrSensitivity = flags >> 6 & 1;
    value.fTXContinueOnXoff = flags >> 7 & 1;
    value.fOutX = flags >> 8 & 1;
    value.fInX = flags >> 9 & 1;
    value.fErrorChar = flags >> 10 & 1;
    value.fNull = flags >> 11 & 1;
    value.fRtsControl = flags >> 12 & 3;
    value.fAbortOnError = flags >> 14 & 1;
    value.fDummy2 = flags >> 15;
}

// COMMTIMEOUTS, in milliseconds. The Win32 rules apply on every edition: ReadIntervalTimeout
// 0xFFFFFFFF with both read totals 0 makes a read return at once with what is buffered; a
// write that is not finished after WriteTotalTimeoutMultiplier * bytes +
// WriteTotalTimeoutConstant ms returns with what was written; all zero means no time-out.
struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

inline constexpr uint32_t maxTimeout = 0xFFFFFFFF; // MAXDWORD

// The members of COMSTAT that the system reports: bytes queued for reading and for sending.
struct ComStat {
    uint32_t cbInQue = 0;
    uint32_t cbOutQue = 0;
};

// ClearCommError's error bits (CE_*).
namespace commError {
inline constexpr uint32_t rxOver = 0x0001;
inline constexpr uint32_t overrun = 0x0002;
inline constexpr uint32_t rxParity = 0x0004;
inline constexpr uint32_t frame = 0x0008;
inline constexpr uint32_t breakCondition = 0x0010;
} // namespace commError

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Every operation returns error::success or a Win32 error code.
    virtual uint32_t SetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
    virtual uint32_t SetCommTimeouts(const CommTimeouts& timeouts) = 0;
    virtual uint32_t GetCommState(Dcb& state) = 0;
    virtual uint32_t SetCommState(const Dcb& state) = 0;
    // Reports and clears the line errors (CE_* bits) and fills the queue counts.
    virtual uint32_t ClearCommError(uint32_t& errors, ComStat& status) = 0;
    // ReadFile: `got` bytes were read (0 when nothing arrived within the read time-outs).
    virtual uint32_t Read(void* buffer, uint32_t size, uint32_t& got) = 0;
    // WriteFile: `written` may be below `size` when the write time-out expired (still success,
    // as on Windows).
    virtual uint32_t Write(const void* data, uint32_t size, uint32_t& written) = 0;
    // CloseHandle. Safe to repeat and to call while another thread is inside a call.
    virtual void Close() = 0;

    // ---- Waiting in the caller's event loop (ports opened with OpenForArrival) ---------------
    // The defaults suit a port that cannot be waited on: the caller polls it.

    // Makes ready for received bytes and returns the object that becomes ready (for input)
    // once some are waiting: the descriptor on POSIX; on Windows the event of an overlapped
    // one-byte read started here (that byte is then the first that Read returns, and
    // ClearCommError counts it). noWaitObject when the port cannot be waited on.
    virtual WaitObject ArmArrival() { return noWaitObject; }

    // Writes without waiting for the line. POSIX: what the terminal takes now; Windows: at
    // most a chunk, copied, with one overlapped write, nothing while one is in flight. The
    // default is Write. `accepted` bytes are taken (they reach the line, or the write fails
    // there); fewer than `size` means the line is busy: wait for WriteWait.
    virtual uint32_t WriteNoWait(const void* data, uint32_t size, uint32_t& accepted) {
        return Write(data, size, accepted);
    }

    // The object that becomes ready (for output) when WriteNoWait can take more: the
    // descriptor on POSIX, the event of the write in flight on Windows; noWaitObject when
    // there is nothing to wait for.
    virtual WaitObject WriteWait() { return noWaitObject; }

    // Bytes WriteNoWait accepted that the line then did not take (a write that failed or
    // ended short in flight, or that Close cancelled), counted since the last call; still
    // answers after Close. 0 where writes finish in the call.
    virtual uint32_t TakeUnwritten() { return 0; }
    // A watch on the carrier-detect line for a thread of its own (see CarrierWatch.h); null
    // with `error` set (50, ERROR_NOT_SUPPORTED, where the port has no such line).
    virtual std::unique_ptr<CarrierWatch> WatchCarrier(uint32_t& error) {
        error = 50;
        return nullptr;
    }
};

enum class SerialSharing : uint8_t {
    None,      // held exclusively: fails with error::accessDenied while anyone has it open
    ReadWrite, // FILE_SHARE_READ | FILE_SHARE_WRITE: fails only while someone holds it exclusively
};

class SerialPorts {
public:
    virtual ~SerialPorts() = default;

    // Opens COM<comNumber> for reading and writing. On failure returns null and sets `error`
    // (error::fileNotFound for a port that does not exist, error::accessDenied for one held by
    // another program); on success `error` is error::success.
    virtual std::unique_ptr<SerialPort> Open(uint32_t comNumber, SerialSharing sharing,
                                             uint32_t& error) = 0;

    // Opens COM<comNumber> as Open does with SerialSharing::ReadWrite, for a caller that waits
    // for it in an event loop (ArmArrival, WriteNoWait): on Windows with overlapped I/O. The
    // port then behaves as Open's would for every other call.
    virtual std::unique_ptr<SerialPort> OpenForArrival(uint32_t comNumber, uint32_t& error) {
        return Open(comNumber, SerialSharing::ReadWrite, error);
    }
};

// The adapter of the edition this program was built for.
SerialPorts& SystemSerialPorts();

} // namespace tavro::platform
