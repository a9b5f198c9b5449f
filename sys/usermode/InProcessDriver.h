// The whole driver inside the test process, with the two doors the real one has: the control
// device as the hub's platform::ControlDevice, and the virtual ports as applications open
// them (handles that write, read with the serial time-outs, and close). Hub tests use it as
// the driver; integration tests play client programs through ApplicationPort.
//
// Failures come back as Win32 error codes, as the system would turn the driver's status into
// GetLastError values.
#pragma once

#include "platform/ControlDevice.h"
#include "platform/SerialPort.h"
#include "sys/usermode/UserDriver.h"

#include <stdint.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tavro::driver::usermode {

// The Win32 error code the system reports for a driver status.
uint32_t Win32ErrorOf(NtStatus status);

class InProcessDriver;

// A read an application left queued in the driver (an overlapped ReadFile): it completes when
// broadcast bytes satisfy it or when its time-out has passed.
class ApplicationRead {
public:
    // Cancels the read if it is still queued, and waits for its completion: a thread of the
    // driver may be completing it at this moment.
    ~ApplicationRead();
    ApplicationRead(const ApplicationRead&) = delete;
    ApplicationRead& operator=(const ApplicationRead&) = delete;

    bool Completed() const { return request_->Completed(); }
    // Valid once completed: error::success (also for a read ended by its time-out with fewer
    // bytes), error::operationAborted when cancelled.
    uint32_t Error() const;
    // The bytes the completed read returned.
    std::string Data() const;
    // CancelIo: a queued read completes as cancelled (or with its data, when another thread
    // completes it at the same moment). Returns once it has completed.
    void Cancel();

private:
    friend class ApplicationPort;
    explicit ApplicationRead(std::unique_ptr<Request> request) : request_(std::move(request)) {}

    std::unique_ptr<Request> request_;
};

// One handle an application holds on a virtual port. Destroying it closes the handle (cleanup,
// which cancels what the handle still has queued, then close). Safe to use from its own
// thread while the hub calls the control device from another.
class ApplicationPort {
public:
    ~ApplicationPort();
    ApplicationPort(const ApplicationPort&) = delete;
    ApplicationPort& operator=(const ApplicationPort&) = delete;

    uint32_t ComNumber() const { return comNumber_; }

    // SetCommTimeouts.
    uint32_t SetTimeouts(const platform::CommTimeouts& timeouts);

    // WriteFile: the bytes go to the port's transmit ring, collected by the next exchange.
    uint32_t Write(std::string_view bytes, uint32_t& written);
    uint32_t Write(std::string_view bytes);

    // ReadFile with the handle's time-outs, bounded by `limit` of real time as well: a read
    // still queued then is cancelled and error::operationAborted returned (or its data, when
    // it completed in the same moment).
    uint32_t Read(uint32_t size, std::string& data, std::chrono::milliseconds limit);

    // A read that returns at once with what is waiting (sets the time-outs MAXDWORD, 0, 0).
    std::string ReadNow(uint32_t size = 4096);

    // Starts a read with the handle's time-outs and leaves it queued if it cannot complete
    // at once; the caller runs the hub and looks at it later.
    std::unique_ptr<ApplicationRead> StartRead(uint32_t size);

    // ClearCommError's cbInQue: bytes waiting for this handle.
    uint32_t Available();

private:
    friend class InProcessDriver;
    ApplicationPort(InProcessDriver& driver, uint32_t index, uint32_t comNumber)
        : driver_(driver), index_(index), comNumber_(comNumber) {}

    NtStatus Send(Request& request);

    InProcessDriver& driver_;
    uint32_t index_;
    uint32_t comNumber_;
    FileObject file_;
    bool open_ = false;
};

class InProcessDriver {
public:
    // How the driver's millisecond clock moves: by the test (usermode::AdvanceMilliseconds),
    // or with real time, so that read time-outs measure what a client program would see.
    enum class Clock : uint8_t { Manual, RealTime };

    // comNumbers[i] is the COM number of virtual port i, 0 for none. With the real-time clock
    // a thread of the driver runs its time-outs, as the kernel's time-out thread does.
    explicit InProcessDriver(const std::array<uint32_t, virtualPortCount>& comNumbers,
                             Clock clock = Clock::Manual);
    ~InProcessDriver();
    InProcessDriver(const InProcessDriver&) = delete;
    InProcessDriver& operator=(const InProcessDriver&) = delete;

    // The hub's door: opened by the name "Tavro", one handle at a time.
    platform::ControlDevice& Control() { return control_; }

    // An application opens COM<comNumber>: null with `error` set (error::fileNotFound for a
    // COM number that is not a virtual port of this driver).
    std::unique_ptr<ApplicationPort> OpenPort(uint32_t comNumber, uint32_t& error);

    UserDriver& Driver() { return driver_; }

private:
    friend class ApplicationPort;
    friend class ApplicationRead;

    class HubControl final : public platform::ControlDevice {
    public:
        explicit HubControl(InProcessDriver& owner) : owner_(owner) {}
        ~HubControl() override;
        uint32_t Open(const char* name) override;
        bool IsOpen() const override { return open_; }
        uint32_t Exchange(DriverExchangeBlock& block) override;
        uint32_t Broadcast(const uint8_t* bytes, uint32_t length) override;
        uint32_t Traffic(PortTrafficBlock& traffic) override;
        void Close() override;

    private:
        InProcessDriver& owner_;
        FileObject file_;
        bool open_ = false;
    };

    // Dispatches with the driver's clock brought up to date first.
    NtStatus DispatchPort(uint32_t index, Request& request);
    NtStatus DispatchControl(Request& request);
    uint64_t SyncClock();
    void RunTimeoutThread();

    UserDriver driver_;
    HubControl control_;
    Clock clock_;
    std::chrono::steady_clock::time_point origin_;
    std::mutex clockLock_;
    uint64_t lastMilliseconds_ = 0;
    std::atomic<bool> stopTimeouts_{false};
    std::thread timeoutThread_;
};

} // namespace tavro::driver::usermode
