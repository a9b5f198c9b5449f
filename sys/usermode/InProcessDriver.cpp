#include "sys/usermode/InProcessDriver.h"

#include "platform/ErrorCodes.h"
#include "sys/core/SerialDefinitions.h"
#include "sys/usermode/UserServices.h"

#include <string.h>

#include <algorithm>
#include <thread>

namespace tavro::driver::usermode {
namespace {

// Where the real-time clock starts, so that no time the driver computes goes below zero.
constexpr uint64_t realTimeBase = 1'000'000;

std::string BytesOf(const Request& request) {
    if (request.buffer.empty()) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(request.buffer.data()), request.information);
}

} // namespace

uint32_t Win32ErrorOf(NtStatus value) {
    if (IsSuccess(value)) {
        return error::success;
    }
    switch (value) {
    case status::cancelled:
        return error::operationAborted;
    case status::invalidParameter:
        return error::invalidParameter;
    case status::invalidBufferSize:
        return error::invalidUserBuffer;
    case status::bufferTooSmall:
        return error::insufficientBuffer;
    case status::insufficientResources:
        return error::noSystemResources;
    case status::notImplemented:
    case status::invalidDeviceRequest:
        return error::invalidFunction;
    case status::notSupported:
        return error::notSupported;
    default:
        return error::genFailure; // STATUS_UNSUCCESSFUL among others
    }
}

// ---- ApplicationRead ----------------------------------------------------------------------------

ApplicationRead::~ApplicationRead() {
    Cancel();
}

uint32_t ApplicationRead::Error() const {
    return Win32ErrorOf(request_->status);
}

std::string ApplicationRead::Data() const {
    return Completed() ? BytesOf(*request_) : std::string();
}

// After CancelRequest the read is either completed by its cancel routine, or it was already
// taken off the queue by a check in another thread (the hub's, the time-out thread's), which
// completes it as soon as it leaves the port lock. Either way the completion comes promptly;
// the request must not be released before it.
void ApplicationRead::Cancel() {
    if (!request_->Completed()) {
        CancelRequest(*request_);
    }
    while (!request_->Completed()) {
        std::this_thread::yield();
    }
}

// ---- ApplicationPort ----------------------------------------------------------------------------

ApplicationPort::~ApplicationPort() {
    if (open_) {
        Send(*MakeSimple(MajorFunction::Cleanup, file_));
        Send(*MakeSimple(MajorFunction::Close, file_));
    }
}

NtStatus ApplicationPort::Send(Request& request) {
    return driver_.DispatchPort(index_, request);
}

uint32_t ApplicationPort::SetTimeouts(const platform::CommTimeouts& timeouts) {
    const SERIAL_TIMEOUTS wire{timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                               timeouts.ReadTotalTimeoutConstant,
                               timeouts.WriteTotalTimeoutMultiplier,
                               timeouts.WriteTotalTimeoutConstant};
    auto request = MakeDeviceControl(file_, IOCTL_SERIAL_SET_TIMEOUTS, &wire, sizeof wire, 0);
    return Win32ErrorOf(Send(*request));
}

uint32_t ApplicationPort::Write(std::string_view bytes, uint32_t& written) {
    auto request = MakeWrite(file_, bytes.data(), static_cast<uint32_t>(bytes.size()));
    const NtStatus result = Send(*request);
    written = IsSuccess(result) ? request->information : 0;
    return Win32ErrorOf(result);
}

uint32_t ApplicationPort::Write(std::string_view bytes) {
    uint32_t written = 0;
    const uint32_t result = Write(bytes, written);
    if (result == error::success && written != bytes.size()) {
        return error::genFailure;
    }
    return result;
}

uint32_t ApplicationPort::Read(uint32_t size, std::string& data, std::chrono::milliseconds limit) {
    data.clear();
    std::unique_ptr<ApplicationRead> read = StartRead(size);
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!read->Completed() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    read->Cancel();
    data = read->Data();
    return read->Error();
}

std::string ApplicationPort::ReadNow(uint32_t size) {
    platform::CommTimeouts now;
    now.ReadIntervalTimeout = platform::maxTimeout;
    if (SetTimeouts(now) != error::success) {
        return {};
    }
    std::string data;
    Read(size, data, std::chrono::milliseconds(0));
    return data;
}

std::unique_ptr<ApplicationRead> ApplicationPort::StartRead(uint32_t size) {
    auto request = MakeRead(file_, size);
    Send(*request);
    return std::unique_ptr<ApplicationRead>(new ApplicationRead(std::move(request)));
}

uint32_t ApplicationPort::Available() {
    auto request =
        MakeDeviceControl(file_, IOCTL_SERIAL_GET_COMMSTATUS, nullptr, 0, sizeof(SERIAL_STATUS));
    if (!IsSuccess(Send(*request)) || request->information < sizeof(SERIAL_STATUS)) {
        return 0;
    }
    SERIAL_STATUS state;
    memcpy(&state, request->buffer.data(), sizeof state);
    return state.AmountInInQueue;
}

// ---- The hub's control device -------------------------------------------------------------------

InProcessDriver::HubControl::~HubControl() {
    Close();
}

uint32_t InProcessDriver::HubControl::Open(const char* name) {
    if (name == nullptr || strcmp(name, controlDeviceName) != 0) {
        return error::fileNotFound;
    }
    if (open_) {
        // A second handle: the driver decides, and it refuses while one is open.
        FileObject second;
        const NtStatus result = owner_.DispatchControl(*MakeCreate(second));
        if (IsSuccess(result)) {
            owner_.DispatchControl(*MakeSimple(MajorFunction::Close, second));
            return error::genFailure;
        }
        return Win32ErrorOf(result);
    }
    const NtStatus result = owner_.DispatchControl(*MakeCreate(file_));
    open_ = IsSuccess(result);
    return Win32ErrorOf(result);
}

uint32_t InProcessDriver::HubControl::Exchange(DriverExchangeBlock& block) {
    if (!open_) {
        return error::invalidHandle;
    }
    auto request = MakeDeviceControl(file_, IOCTL_TAVRO_EXCHANGE, &block, exchangeBlockSize,
                                     exchangeBlockSize);
    const NtStatus result = owner_.DispatchControl(*request);
    if (IsSuccess(result)) {
        memcpy(&block, request->buffer.data(), sizeof block);
    }
    return Win32ErrorOf(result);
}

uint32_t InProcessDriver::HubControl::Broadcast(const uint8_t* bytes, uint32_t length) {
    if (!open_) {
        return error::invalidHandle;
    }
    auto request = MakeDeviceControl(file_, IOCTL_TAVRO_BROADCAST, bytes, length, 0);
    return Win32ErrorOf(owner_.DispatchControl(*request));
}

uint32_t InProcessDriver::HubControl::Traffic(PortTrafficBlock& traffic) {
    if (!open_) {
        return error::invalidHandle;
    }
    auto request = MakeDeviceControl(file_, IOCTL_TAVRO_TRAFFIC, nullptr, 0, sizeof traffic);
    const NtStatus result = owner_.DispatchControl(*request);
    if (IsSuccess(result)) {
        memcpy(&traffic, request->buffer.data(), sizeof traffic);
    }
    return Win32ErrorOf(result);
}

void InProcessDriver::HubControl::Close() {
    if (!open_) {
        return;
    }
    owner_.DispatchControl(*MakeSimple(MajorFunction::Cleanup, file_));
    owner_.DispatchControl(*MakeSimple(MajorFunction::Close, file_));
    open_ = false;
}

// ---- InProcessDriver ----------------------------------------------------------------------------

InProcessDriver::InProcessDriver(const std::array<uint32_t, virtualPortCount>& comNumbers,
                                 Clock clock)
    : driver_(comNumbers), control_(*this), clock_(clock),
      origin_(std::chrono::steady_clock::now()), lastMilliseconds_(realTimeBase) {
    if (clock_ == Clock::RealTime) {
        SetClock(realTimeBase);
        timeoutThread_ = std::thread([this] { RunTimeoutThread(); });
    }
}

InProcessDriver::~InProcessDriver() {
    control_.Close();
    if (timeoutThread_.joinable()) {
        stopTimeouts_ = true;
        RequestTimeoutCheck(0); // wakes the thread
        timeoutThread_.join();
    }
}

// The kernel's time-out thread in user mode: sleeps until the earliest deadline of the ports or
// until a port asks for an earlier one.
void InProcessDriver::RunTimeoutThread() {
    constexpr uint64_t longestSleep = 100;
    while (!stopTimeouts_) {
        const uint64_t seen = TimeoutRequests();
        const uint64_t now = SyncClock();
        const uint64_t next = driver_.Control().RunTimeouts(now);
        uint64_t sleep = longestSleep;
        if (next != 0) {
            sleep = next <= now ? 0 : std::min(next - now, longestSleep);
        }
        WaitForTimeoutRequest(seen, std::chrono::milliseconds(sleep));
    }
}

std::unique_ptr<ApplicationPort> InProcessDriver::OpenPort(uint32_t comNumber, uint32_t& error) {
    for (uint32_t index = 0; index < virtualPortCount; ++index) {
        if (comNumber == 0 || driver_.Record(index).comNumber != comNumber ||
            !driver_.HasPort(index)) {
            continue;
        }
        std::unique_ptr<ApplicationPort> port(new ApplicationPort(*this, index, comNumber));
        const NtStatus result = DispatchPort(index, *MakeCreate(port->file_));
        error = Win32ErrorOf(result);
        if (!IsSuccess(result)) {
            return nullptr; // never opened: nothing to clean up or close
        }
        port->open_ = true;
        return port;
    }
    error = error::fileNotFound;
    return nullptr;
}

uint64_t InProcessDriver::SyncClock() {
    if (clock_ != Clock::RealTime) {
        return QueryMilliseconds();
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - origin_);
    std::lock_guard<std::mutex> guard(clockLock_);
    const uint64_t now = realTimeBase + static_cast<uint64_t>(elapsed.count());
    // Threads may arrive out of order; the driver's clock must never go back.
    if (now > lastMilliseconds_) {
        lastMilliseconds_ = now;
        SetClock(now);
    }
    return lastMilliseconds_;
}

NtStatus InProcessDriver::DispatchPort(uint32_t index, Request& request) {
    SyncClock();
    return driver_.Dispatch(driver_.Port(index), request);
}

NtStatus InProcessDriver::DispatchControl(Request& request) {
    SyncClock();
    return driver_.Dispatch(driver_.Control(), request);
}

} // namespace tavro::driver::usermode
