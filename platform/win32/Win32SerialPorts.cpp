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

// Bytes one overlapped write of WriteNoWait takes.
constexpr uint32_t writeChunk = 1024;

class Win32SerialPort final : public SerialPort {
public:
    Win32SerialPort(HANDLE handle, bool overlapped) : handle_(handle), overlapped_(overlapped) {
        for (HANDLE& event : events_) {
            event = overlapped ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
        }
    }
    ~Win32SerialPort() override {
        Close();
        for (HANDLE event : events_) {
            if (event != nullptr) {
                CloseHandle(event);
            }
        }
    }

    bool Usable() const {
        return !overlapped_ || (events_[call] != nullptr && events_[arrival] != nullptr &&
                                events_[write] != nullptr);
    }

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
        // An overlapped port's reads never wait for bytes (Read takes what is queued), so its
        // read time-outs are all 0: a request waits for all it asks, which the one-byte
        // arrival read needs.
        if (!overlapped_) {
            native.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
            native.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
            native.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
        }
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
        SettleArrival(false);
        DWORD flags = 0;
        COMSTAT native{};
        if (!::ClearCommError(handle, &flags, &native)) {
            return LastError();
        }
        errors = flags;
        status.cbInQue = native.cbInQue + (heldByte_ ? 1 : 0);
        status.cbOutQue = native.cbOutQue;
        return error::success;
    }

    uint32_t Read(void* buffer, uint32_t size, uint32_t& got) override {
        got = 0;
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        if (!overlapped_) {
            DWORD count = 0;
            const BOOL done = ReadFile(handle, buffer, size, &count, nullptr);
            got = count;
            return done ? error::success : LastError();
        }
        if (size == 0 || buffer == nullptr) {
            return buffer == nullptr && size != 0 ? error::invalidParameter : error::success;
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
        DWORD count = 0;
        const uint32_t result = Call(
            ReadFile(handle, bytes + got, queued.cbInQue < size - got ? queued.cbInQue : size - got,
                     nullptr, Start(call)),
            count);
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
        uint32_t result = error::success;
        if (!overlapped_) {
            result = WriteFile(handle, data, size, &count, nullptr) ? error::success : LastError();
        } else {
            result = Call(WriteFile(handle, data, size, nullptr, Start(call)), count);
        }
        written = count;
        return result;
    }

    WaitObject ArmArrival() override {
        const HANDLE handle = handle_.load();
        if (!overlapped_ || handle == nullptr || !Usable()) {
            return noWaitObject;
        }
        if (!arrivalPending_ && !heldByte_) {
            DWORD count = 0;
            if (ReadFile(handle, &arrivalByte_, 1, &count, Start(arrival))) {
                heldByte_ = count == 1;
            } else if (GetLastError() == ERROR_IO_PENDING) {
                arrivalPending_ = true;
            } else {
                return noWaitObject;
            }
        }
        if (heldByte_) {
            SetEvent(events_[arrival]); // a byte is here already: the loop goes on at once
        }
        return reinterpret_cast<WaitObject>(events_[arrival]);
    }

    uint32_t WriteNoWait(const void* data, uint32_t size, uint32_t& accepted) override {
        if (!overlapped_) {
            return Write(data, size, accepted);
        }
        accepted = 0;
        const HANDLE handle = handle_.load();
        if (handle == nullptr) {
            return error::invalidHandle;
        }
        if (!FinishWrite(handle)) {
            return error::success; // the line is busy
        }
        const uint32_t taken = size < writeChunk ? size : writeChunk;
        if (taken == 0) {
            return error::success;
        }
        memcpy(writeBuffer_, data, taken);
        DWORD count = 0;
        if (!WriteFile(handle, writeBuffer_, taken, &count, Start(write))) {
            if (GetLastError() != ERROR_IO_PENDING) {
                return LastError();
            }
            writePending_ = true;
            writeLength_ = taken;
        } else if (count < taken) {
            unwritten_ += taken - count; // finished at once, short (the write time-out)
        }
        accepted = taken;
        return error::success;
    }

    WaitObject WriteWait() override {
        return writePending_ ? reinterpret_cast<WaitObject>(events_[write]) : noWaitObject;
    }

    uint32_t TakeUnwritten() override {
        const HANDLE handle = handle_.load();
        if (handle != nullptr) {
            FinishWrite(handle);
        }
        const uint32_t unwritten = unwritten_;
        unwritten_ = 0;
        return unwritten;
    }

    void Close() override {
        // Exactly one caller gets the handle, however many threads close at once.
        const HANDLE handle = handle_.exchange(nullptr);
        if (handle == nullptr) {
            return;
        }
        if (arrivalPending_ || writePending_) {
            // The requests in flight write into this object: they end before it can go. What
            // the cancelled write did not send is left for TakeUnwritten.
            CancelIo(handle);
            DWORD count = 0;
            GetOverlappedResult(handle, &requests_[arrival], &count, TRUE);
            FinishWrite(handle, TRUE);
        }
        arrivalPending_ = writePending_ = heldByte_ = false;
        CloseHandle(handle);
    }

private:
    enum Request { call, arrival, write };

    OVERLAPPED* Start(Request request) {
        requests_[request] = OVERLAPPED{};
        requests_[request].hEvent = events_[request];
        ResetEvent(events_[request]);
        return &requests_[request];
    }

    // Finishes a blocking request made on requests_[call]: `started` is what ReadFile or
    // WriteFile returned.
    uint32_t Call(BOOL started, DWORD& count) {
        count = 0;
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            return LastError();
        }
        return GetOverlappedResult(handle_.load(), &requests_[call], &count, TRUE) ? error::success
                                                                                   : LastError();
    }

    // Collects the write in flight once it has finished (with `wait`, waits for that),
    // counting what it did not write (it failed, the write time-out ended it short, or the
    // close cancelled it). False while it is still in flight.
    bool FinishWrite(HANDLE handle, BOOL wait = FALSE) {
        if (!writePending_) {
            return true;
        }
        DWORD count = 0;
        if (!GetOverlappedResult(handle, &requests_[write], &count, wait)) {
            if (GetLastError() == ERROR_IO_INCOMPLETE) {
                return false;
            }
            // Failed: nothing of it is known to have gone out. Cancelled: the driver counted
            // what it sent before.
            if (GetLastError() != ERROR_OPERATION_ABORTED) {
                count = 0;
            }
        }
        writePending_ = false;
        unwritten_ += count < writeLength_ ? writeLength_ - count : 0;
        return true;
    }

    // Takes the byte of a finished one-byte wait; with `cancel`, ends an unfinished one (a
    // byte it got in the meantime is kept).
    void SettleArrival(bool cancel) {
        const HANDLE handle = handle_.load();
        if (!arrivalPending_ || handle == nullptr) {
            return;
        }
        DWORD count = 0;
        if (!GetOverlappedResult(handle, &requests_[arrival], &count, FALSE) &&
            GetLastError() == ERROR_IO_INCOMPLETE) {
            if (!cancel) {
                return;
            }
            // Only the arrival read: CancelIo would end this thread's write in flight too.
            CancelIoEx(handle, &requests_[arrival]);
            count = 0;
            GetOverlappedResult(handle, &requests_[arrival], &count, TRUE);
        }
        arrivalPending_ = false;
        heldByte_ = count == 1;
    }

    std::atomic<HANDLE> handle_;
    const bool overlapped_;
    HANDLE events_[3] = {};
    OVERLAPPED requests_[3] = {};
    bool arrivalPending_ = false;
    bool writePending_ = false;
    bool heldByte_ = false;
    uint32_t writeLength_ = 0; // bytes of the write in flight
    uint32_t unwritten_ = 0;   // accepted bytes the line did not take, not yet reported
    uint8_t arrivalByte_ = 0;
    uint8_t writeBuffer_[writeChunk] = {};
};

class Win32SerialPorts final : public SerialPorts {
public:
    std::unique_ptr<SerialPort> Open(uint32_t comNumber, SerialSharing sharing,
                                     uint32_t& error) override {
        const bool shared = sharing == SerialSharing::ReadWrite;
        // The hub's input port shares reading and writing and asks for normal attributes; the
        // search holds its ports alone and passes no flags.
        return OpenPort(comNumber, shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0,
                        shared ? FILE_ATTRIBUTE_NORMAL : 0, error);
    }

    std::unique_ptr<SerialPort> OpenForArrival(uint32_t comNumber, uint32_t& error) override {
        return OpenPort(comNumber, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, error);
    }

private:
    static std::unique_ptr<SerialPort> OpenPort(uint32_t comNumber, DWORD share, DWORD flags,
                                                uint32_t& error) {
        char name[32];
        TextBuilder(name, sizeof name).Append("\\\\.\\COM").AppendUnsigned(comNumber);
        const HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                          OPEN_EXISTING, flags, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = LastError();
            return nullptr;
        }
        std::unique_ptr<Win32SerialPort> port(
            new (std::nothrow) Win32SerialPort(handle, (flags & FILE_FLAG_OVERLAPPED) != 0));
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
