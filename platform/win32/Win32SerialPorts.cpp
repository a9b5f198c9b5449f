// Serial ports through the Win32 serial functions on "\\.\COM<n>".
//
// A port opened for arrival (OpenForArrival) uses overlapped I/O so that the hub's message
// loop can wait for it: ArmArrival starts a one-byte read whose event the loop waits on (an
// overlapped read that returns at the first byte; a larger read with the "return at the first
// byte" time-outs is not honoured everywhere), and WriteNoWait starts one overlapped write at
// a time. Its other calls keep their blocking meaning: they wait for their own overlapped
// request. Reads never wait for bytes: they take at most what ClearCommError reports, so the
// read time-outs of such a port are all 0 (wait for the whole request) whatever the caller
// sets; the write time-outs are the caller's.
#include "platform/SerialPort.h"

#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

#include <atomic>
#include <new>
#include <string.h>
#include <windows.h>

namespace tavro::platform {
namespace {

static_assert(sizeof(DCB) == sizeof(Dcb));

DCB ToWin32(const Dcb& state) {
    DCB native{};
    native.DCBlength = sizeof native;
    native.BaudRate = state.BaudRate;
    native.fBinary = state.fBinary;
    native.fParity = state.fParity;
    native.fOutxCtsFlow = state.fOutxCtsFlow;
    native.fOutxDsrFlow = state.fOutxDsrFlow;
    native.fDtrControl = state.fDtrControl;
    native.fDsrSensitivity = state.fDsrSensitivity;
    native.fTXContinueOnXoff = state.fTXContinueOnXoff;
    native.fOutX = state.fOutX;
    native.fInX = state.fInX;
    native.fErrorChar = state.fErrorChar;
    native.fNull = state.fNull;
    native.fRtsControl = state.fRtsControl;
    native.fAbortOnError = state.fAbortOnError;
    native.fDummy2 = state.fDummy2;
    native.wReserved = state.wReserved;
    native.XonLim = state.XonLim;
    native.XoffLim = state.XoffLim;
    native.ByteSize = state.ByteSize;
    native.Parity = state.Parity;
    native.StopBits = state.StopBits;
    native.XonChar = state.XonChar;
    native.XoffChar = state.XoffChar;
    native.ErrorChar = state.ErrorChar;
    native.EofChar = state.EofChar;
    native.EvtChar = state.EvtChar;
    native.wReserved1 = state.wReserved1;
    return native;
}

Dcb FromWin32(const DCB& native) {
    Dcb state;
    state.DCBlength = native.DCBlength;
    state.BaudRate = native.BaudRate;
    state.fBinary = native.fBinary;
    state.fParity = native.fParity;
    state.fOutxCtsFlow = native.fOutxCtsFlow;
    state.fOutxDsrFlow = native.fOutxDsrFlow;
    state.fDtrControl = native.fDtrControl;
    state.fDsrSensitivity = native.fDsrSensitivity;
    state.fTXContinueOnXoff = native.fTXContinueOnXoff;
    state.fOutX = native.fOutX;
    state.fInX = native.fInX;
    state.fErrorChar = native.fErrorChar;
    state.fNull = native.fNull;
    state.fRtsControl = native.fRtsControl;
    state.fAbortOnError = native.fAbortOnError;
    state.fDummy2 = native.fDummy2;
    state.wReserved = native.wReserved;
    state.XonLim = native.XonLim;
    state.XoffLim = native.XoffLim;
    state.ByteSize = native.ByteSize;
    state.Parity = native.Parity;
    state.StopBits = native.StopBits;
    state.XonChar = native.XonChar;
    state.XoffChar = native.XoffChar;
    state.ErrorChar = native.ErrorChar;
    state.EofChar = native.EofChar;
    state.EvtChar = native.EvtChar;
    state.wReserved1 = native.wReserved1;
    return state;
}

uint32_t LastError() {
    const DWORD code = GetLastError();
    return code != 0 ? static_cast<uint32_t>(code) : error::genFailure;
}

class Win32SerialPort : public SerialPort {
public:
    explicit Win32SerialPort(HANDLE handle) : handle_(handle) {}
    ~Win32SerialPort() override { Close(); }

    uint32_t SetupComm(uint32_t inQueue, uint32_t outQueue) override {
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        return ::SetupComm(handle, inQueue, outQueue) ? error::success : LastError();
    }

    uint32_t SetCommTimeouts(const CommTimeouts& timeouts) override {
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        COMMTIMEOUTS native{};
        native.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
        native.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
        native.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
        native.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
        native.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
        return ::SetCommTimeouts(handle, &native) ? error::success : LastError();
    }

    uint32_t GetCommState(Dcb& state) override {
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        DCB native{};
        native.DCBlength = sizeof native;
        if (!::GetCommState(handle, &native)) {
            return LastError();
        }
        state = FromWin32(native);
        return error::success;
    }

    uint32_t SetCommState(const Dcb& state) override {
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        DCB native = ToWin32(state);
        return ::SetCommState(handle, &native) ? error::success : LastError();
    }

    uint32_t ClearCommError(uint32_t& errors, ComStat& status) override {
        errors = 0;
        status = ComStat{};
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        DWORD flags = 0;
        COMSTAT native{};
        if (!::ClearCommError(handle, &flags, &native)) {
            return LastError();
        }
        errors = flags;
        status.cbInQue = native.cbInQue;
        status.cbOutQue = native.cbOutQue;
        return error::success;
    }

    uint32_t Read(void* buffer, uint32_t size, uint32_t& got) override {
        got = 0;
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        DWORD count = 0;
        if (!ReadFile(handle, buffer, size, &count, nullptr)) {
            return LastError();
        }
        got = count;
        return error::success;
    }

    uint32_t Write(const void* data, uint32_t size, uint32_t& written) override {
        written = 0;
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        DWORD count = 0;
        if (!WriteFile(handle, data, size, &count, nullptr)) {
            return LastError();
        }
        written = count;
        return error::success;
    }

    void Close() override {
        // Exactly one caller gets the handle, however many threads close at once.
        const HANDLE handle = handle_.exchange(nullptr);
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }

protected:
    std::atomic<HANDLE> handle_;
};

// Bytes one overlapped write of WriteNoWait takes.
constexpr uint32_t writeChunk = 1024;

HANDLE ManualEvent() {
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

class Win32OverlappedPort final : public Win32SerialPort {
public:
    explicit Win32OverlappedPort(HANDLE handle)
        : Win32SerialPort(handle), arrivalEvent_(ManualEvent()), writeEvent_(ManualEvent()),
          callEvent_(ManualEvent()) {}
    ~Win32OverlappedPort() override {
        Close();
        for (HANDLE event : {arrivalEvent_, writeEvent_, callEvent_}) {
            if (event != nullptr) {
                CloseHandle(event);
            }
        }
    }

    bool Usable() const {
        return arrivalEvent_ != nullptr && writeEvent_ != nullptr && callEvent_ != nullptr;
    }

    uint32_t SetCommTimeouts(const CommTimeouts& timeouts) override {
        CommTimeouts applied = timeouts;
        applied.ReadIntervalTimeout = 0;
        applied.ReadTotalTimeoutMultiplier = 0;
        applied.ReadTotalTimeoutConstant = 0;
        return Win32SerialPort::SetCommTimeouts(applied);
    }

    uint32_t ClearCommError(uint32_t& errors, ComStat& status) override {
        SettleArrival(false);
        const uint32_t result = Win32SerialPort::ClearCommError(errors, status);
        if (result == error::success && heldByte_) {
            ++status.cbInQue;
        }
        return result;
    }

    uint32_t Read(void* buffer, uint32_t size, uint32_t& got) override {
        got = 0;
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        if (size == 0) {
            return error::success;
        }
        if (buffer == nullptr) {
            return error::invalidParameter;
        }
        // A read queued behind the one-byte wait would wait with it: settle that first.
        SettleArrival(true);
        auto* bytes = static_cast<uint8_t*>(buffer);
        if (heldByte_) {
            bytes[got++] = arrivalByte_;
            heldByte_ = false;
        }
        DWORD flags = 0;
        COMSTAT queued{};
        if (got == size || !::ClearCommError(handle, &flags, &queued) || queued.cbInQue == 0) {
            return error::success;
        }
        const DWORD wanted = queued.cbInQue < size - got ? queued.cbInQue : size - got;
        DWORD count = 0;
        const uint32_t result = Wait(ReadFile(handle, bytes + got, wanted, nullptr, Call()), count);
        got += count;
        return got > 0 ? error::success : result;
    }

    uint32_t Write(const void* data, uint32_t size, uint32_t& written) override {
        written = 0;
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        DWORD count = 0;
        const uint32_t result = Wait(WriteFile(handle, data, size, nullptr, Call()), count);
        written = count;
        return result;
    }

    WaitObject ArmArrival() override {
        const HANDLE handle = handle_.load();
        if (handle == nullptr || !Usable()) {
            return noWaitObject;
        }
        if (!arrivalPending_ && !heldByte_) {
            arrival_ = OVERLAPPED{};
            arrival_.hEvent = arrivalEvent_;
            ResetEvent(arrivalEvent_);
            DWORD count = 0;
            if (ReadFile(handle, &arrivalByte_, 1, &count, &arrival_)) {
                heldByte_ = count == 1;
            } else if (GetLastError() == ERROR_IO_PENDING) {
                arrivalPending_ = true;
            } else {
                return noWaitObject;
            }
        }
        if (heldByte_) {
            SetEvent(arrivalEvent_); // a byte is here already: the loop goes on at once
        }
        return reinterpret_cast<WaitObject>(arrivalEvent_);
    }

    uint32_t WriteNoWait(const void* data, uint32_t size, uint32_t& accepted) override {
        accepted = 0;
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        if (size == 0) {
            return error::success;
        }
        if (data == nullptr) {
            return error::invalidParameter;
        }
        if (writePending_) {
            DWORD count = 0;
            if (!GetOverlappedResult(handle, &write_, &count, FALSE) &&
                GetLastError() == ERROR_IO_INCOMPLETE) {
                return error::success; // the line is busy
            }
            writePending_ = false;
        }
        const uint32_t taken = size < writeChunk ? size : writeChunk;
        memcpy(writeBuffer_, data, taken);
        write_ = OVERLAPPED{};
        write_.hEvent = writeEvent_;
        ResetEvent(writeEvent_);
        DWORD count = 0;
        if (!WriteFile(handle, writeBuffer_, taken, &count, &write_)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                return LastError();
            }
            writePending_ = true;
        }
        accepted = taken;
        return error::success;
    }

    WaitObject WriteWait() override {
        return writePending_ ? reinterpret_cast<WaitObject>(writeEvent_) : noWaitObject;
    }

    void Close() override {
        const HANDLE handle = handle_.exchange(nullptr);
        if (handle == nullptr) {
            return;
        }
        // The requests in flight write into this object: they end before it can go.
        CancelIo(handle);
        DWORD count = 0;
        if (arrivalPending_) {
            GetOverlappedResult(handle, &arrival_, &count, TRUE);
        }
        if (writePending_) {
            GetOverlappedResult(handle, &write_, &count, TRUE);
        }
        arrivalPending_ = writePending_ = heldByte_ = false;
        CloseHandle(handle);
    }

private:
    OVERLAPPED* Call() {
        call_ = OVERLAPPED{};
        call_.hEvent = callEvent_;
        ResetEvent(callEvent_);
        return &call_;
    }

    // Finishes a request made with Call(): `started` is what ReadFile or WriteFile returned.
    uint32_t Wait(BOOL started, DWORD& count) {
        count = 0;
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            return LastError();
        }
        return GetOverlappedResult(handle_.load(), &call_, &count, TRUE) ? error::success
                                                                         : LastError();
    }

    // Takes the byte of a finished one-byte wait; with `cancel`, ends an unfinished one (a
    // byte it got in the meantime is kept).
    void SettleArrival(bool cancel) {
        const HANDLE handle = handle_.load();
        if (!arrivalPending_ || handle == nullptr) {
            return;
        }
        DWORD count = 0;
        if (!GetOverlappedResult(handle, &arrival_, &count, FALSE)) {
            if (GetLastError() == ERROR_IO_INCOMPLETE) {
                if (!cancel) {
                    return;
                }
                CancelIo(handle);
                count = 0;
                GetOverlappedResult(handle, &arrival_, &count, TRUE);
            }
        }
        arrivalPending_ = false;
        heldByte_ = count == 1;
    }

    HANDLE arrivalEvent_;
    HANDLE writeEvent_;
    HANDLE callEvent_;
    OVERLAPPED arrival_{};
    OVERLAPPED write_{};
    OVERLAPPED call_{};
    bool arrivalPending_ = false;
    bool writePending_ = false;
    bool heldByte_ = false;
    uint8_t arrivalByte_ = 0;
    uint8_t writeBuffer_[writeChunk] = {};
};

class Win32SerialPorts final : public SerialPorts {
public:
    std::unique_ptr<SerialPort> Open(uint32_t comNumber, SerialSharing sharing,
                                     uint32_t& error) override {
        char name[32];
        TextBuilder(name, sizeof name).Append("\\\\.\\COM").AppendUnsigned(comNumber);
        const bool shared = sharing == SerialSharing::ReadWrite;
        // The hub's input port shares reading and writing and asks for normal attributes; the
        // search holds its ports alone and passes no flags.
        const HANDLE handle = CreateFileA(
            name, GENERIC_READ | GENERIC_WRITE, shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0,
            nullptr, OPEN_EXISTING, shared ? FILE_ATTRIBUTE_NORMAL : 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = LastError();
            return nullptr;
        }
        std::unique_ptr<SerialPort> port(new (std::nothrow) Win32SerialPort(handle));
        if (port == nullptr) {
            CloseHandle(handle);
            error = error::notEnoughMemory;
            return nullptr;
        }
        error = error::success;
        return port;
    }

    std::unique_ptr<SerialPort> OpenForArrival(uint32_t comNumber, uint32_t& error) override {
        char name[32];
        TextBuilder(name, sizeof name).Append("\\\\.\\COM").AppendUnsigned(comNumber);
        const HANDLE handle = CreateFileA(
            name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = LastError();
            return nullptr;
        }
        std::unique_ptr<Win32OverlappedPort> port(new (std::nothrow) Win32OverlappedPort(handle));
        if (port == nullptr || !port->Usable()) {
            if (port == nullptr) {
                CloseHandle(handle);
            }
            error = error::notEnoughMemory;
            return nullptr;
        }
        error = error::success;
        return port;
    }
};

} // namespace

SerialPorts& SystemSerialPorts() {
    static Win32SerialPorts instance;
    return instance;
}

} // namespace tavro::platform
