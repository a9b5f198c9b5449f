// Serial ports for unit tests: devices that a test scripts (bytes to read, failures to
// report) and inspects (bytes written, line settings, the calls made). Thread-safe, so tests
// of code that opens ports on several threads can use it.
//
// A read returns at once with what is queued (the behaviour of the hub's time-outs); other
// time-out settings are recorded, not imitated. WriteNoWait takes what Write would (see
// LimitWrites).
#pragma once

#include "platform/SerialPort.h"
#include "platform/SerialPortMap.h"

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::platform::testing {

enum class SerialOperation : uint8_t {
    SetupComm,
    SetCommTimeouts,
    GetCommState,
    SetCommState,
    ClearCommError,
    Read,
    Write,
};

// std::mutex is missing from the Windows cross builds (win32 thread model); contention in
// tests is tiny, so spinning does.
class FakeLock {
public:
    void lock() {
        while (flag_.test_and_set(std::memory_order_acquire)) {
        }
    }
    void unlock() { flag_.clear(std::memory_order_release); }

private:
    std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

class FakeSerialPorts;

// What an open fake port hands an event loop to wait on (for arrival, for room to write);
// nothing waits on them: tests report them ready by hand.
inline constexpr WaitObject fakeArrivalObject = 1000;
inline constexpr WaitObject fakeWriteObject = 1001;

class FakeSerialDevice {
public:
    // Bytes the device sends: later reads return them.
    void QueueInput(std::string_view bytes);
    // Discards what has not been read yet.
    void ClearInput();
    // Closing the last handle discards what has not been read, as a real port's queue is
    // emptied (off by default: most tests queue bytes across a re-open).
    void EmptyInputOnClose(bool empty);
    // Bytes written to the device so far, and the same with clearing.
    std::string Output() const;
    std::string TakeOutput();

    Dcb State() const;
    CommTimeouts Timeouts() const;
    uint32_t InQueueSize() const; // as given to SetupComm
    size_t Unread() const;        // bytes queued and not read yet
    uint32_t OutQueueSize() const;
    uint32_t OpenHandles() const;
    // One line per call made on the device's ports, e.g. "SetupComm 1024 1024".
    std::vector<std::string> Calls() const;

    // Every open fails with `error` (error::success to stop), e.g. error::accessDenied for a
    // port that another program holds.
    void FailOpen(uint32_t error);
    // The operation fails with `error` from now on (error::success to stop).
    void Fail(SerialOperation operation, uint32_t error);
    // Each write accepts at most this many bytes, as a write that timed out does.
    void LimitWrites(uint32_t bytesPerCall);
    // Error bits the next ClearCommError reports.
    void RaiseLineErrors(uint32_t errors);

    // Called after a successful SetCommState, outside the device lock: a test can queue what a
    // receiver sends at the new speed.
    void OnSetCommState(std::function<void(FakeSerialDevice&, const Dcb&)> hook);
    // Called after bytes were written, outside the device lock.
    void OnWrite(std::function<void(FakeSerialDevice&, std::string_view)> hook);
    // Called at the start of every open of this device, outside the lock (a test can advance a
    // fake clock here to make an open look slow).
    void OnOpen(std::function<void()> hook);

    // The carrier-detect line: without it (the default, as on a pseudo-terminal) WatchCarrier
    // fails with error::notSupported. With it, each queued change is what the next Wait of a
    // watch returns; once none is left, Wait returns error::operationAborted, as after Cancel,
    // so a thread body run on the test's thread ends there.
    void HasCarrierLine(bool present);
    void QueueCarrierChange(bool raised, UnixTime at);
    // Takes the oldest queued change (what a watch's Wait returns); false when none is left.
    bool TakeCarrierChange(bool& raised, UnixTime& at);

private:
    friend class FakeSerialPorts;
    friend class FakeSerialPort;

    mutable FakeLock mutex_;
    std::string input_;
    std::string output_;
    Dcb state_{};
    CommTimeouts timeouts_{};
    uint32_t inQueue_ = 0;
    uint32_t outQueue_ = 0;
    uint32_t openHandles_ = 0;
    bool exclusive_ = false;
    bool present_ = true;
    uint32_t openError_ = 0;
    std::map<SerialOperation, uint32_t> failures_;
    uint32_t writeLimit_ = UINT32_MAX;
    uint32_t lineErrors_ = 0;
    bool emptyInputOnClose_ = false;
    std::vector<std::string> calls_;
    std::function<void(FakeSerialDevice&, const Dcb&)> onSetCommState_;
    std::function<void(FakeSerialDevice&, std::string_view)> onWrite_;
    std::function<void()> onOpen_;
    bool carrierLine_ = false;
    std::deque<std::pair<bool, UnixTime>> carrierChanges_;
};

class FakeSerialPorts final : public SerialPorts {
public:
    // The device behind COM<comNumber>, created on first use.
    FakeSerialDevice& Add(uint32_t comNumber);
    // The device, or null when there is none.
    FakeSerialDevice* Find(uint32_t comNumber);
    // Unplugs the device: new opens fail with error::fileNotFound, open ports with
    // error::genFailure.
    void Remove(uint32_t comNumber);
    // Opens attempted, successful or not.
    uint32_t OpenAttempts() const;

    std::unique_ptr<SerialPort> Open(uint32_t comNumber, SerialSharing sharing,
                                     uint32_t& error) override;

private:
    mutable FakeLock mutex_;
    std::map<uint32_t, std::shared_ptr<FakeSerialDevice>> devices_;
    uint32_t openAttempts_ = 0;
};

class FakeSerialPortMap final : public SerialPortMap {
public:
    void Set(std::vector<int32_t> comNumbers, uint32_t error = 0);
    uint32_t List(SerialPortList& list) override;

private:
    FakeLock mutex_;
    std::vector<int32_t> comNumbers_;
    uint32_t error_ = 0;
};

} // namespace tavro::platform::testing
