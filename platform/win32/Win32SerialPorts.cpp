// Serial ports through the Win32 serial functions on "\\.\COM<n>".
#include "platform/SerialPort.h"

#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

#include <atomic>
#include <new>
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

class Win32SerialPort final : public SerialPort {
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

private:
    std::atomic<HANDLE> handle_;
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
};

} // namespace

SerialPorts& SystemSerialPorts() {
    static Win32SerialPorts instance;
    return instance;
}

} // namespace tavro::platform
