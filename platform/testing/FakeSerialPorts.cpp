#include "platform/testing/FakeSerialPorts.h"

#include "platform/ErrorCodes.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace tavro::platform::testing {

void FakeSerialDevice::QueueInput(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    input_.append(bytes);
}

void FakeSerialDevice::ClearInput() {
    std::lock_guard lock(mutex_);
    input_.clear();
}

void FakeSerialDevice::EmptyInputOnClose(bool empty) {
    std::lock_guard lock(mutex_);
    emptyInputOnClose_ = empty;
}

std::string FakeSerialDevice::Output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

std::string FakeSerialDevice::TakeOutput() {
    std::lock_guard lock(mutex_);
    std::string taken;
    taken.swap(output_);
    return taken;
}

Dcb FakeSerialDevice::State() const {
    std::lock_guard lock(mutex_);
    return state_;
}

CommTimeouts FakeSerialDevice::Timeouts() const {
    std::lock_guard lock(mutex_);
    return timeouts_;
}

uint32_t FakeSerialDevice::InQueueSize() const {
    std::lock_guard lock(mutex_);
    return inQueue_;
}

uint32_t FakeSerialDevice::OutQueueSize() const {
    std::lock_guard lock(mutex_);
    return outQueue_;
}

size_t FakeSerialDevice::Unread() const {
    std::lock_guard lock(mutex_);
    return input_.size();
}

uint32_t FakeSerialDevice::OpenHandles() const {
    std::lock_guard lock(mutex_);
    return openHandles_;
}

std::vector<std::string> FakeSerialDevice::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void FakeSerialDevice::FailOpen(uint32_t error) {
    std::lock_guard lock(mutex_);
    openError_ = error;
}

void FakeSerialDevice::Fail(SerialOperation operation, uint32_t error) {
    std::lock_guard lock(mutex_);
    if (error == error::success) {
        failures_.erase(operation);
    } else {
        failures_[operation] = error;
    }
}

void FakeSerialDevice::LimitWrites(uint32_t bytesPerCall) {
    std::lock_guard lock(mutex_);
    writeLimit_ = bytesPerCall;
}

void FakeSerialDevice::RaiseLineErrors(uint32_t errors) {
    std::lock_guard lock(mutex_);
    lineErrors_ |= errors;
}

void FakeSerialDevice::OnSetCommState(std::function<void(FakeSerialDevice&, const Dcb&)> hook) {
    std::lock_guard lock(mutex_);
    onSetCommState_ = std::move(hook);
}

void FakeSerialDevice::OnWrite(std::function<void(FakeSerialDevice&, std::string_view)> hook) {
    std::lock_guard lock(mutex_);
    onWrite_ = std::move(hook);
}

void FakeSerialDevice::OnOpen(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    onOpen_ = std::move(hook);
}

void FakeSerialDevice::HasCarrierLine(bool present) {
    std::lock_guard lock(mutex_);
    carrierLine_ = present;
}

void FakeSerialDevice::QueueCarrierChange(bool raised, UnixTime at) {
    std::lock_guard lock(mutex_);
    carrierChanges_.emplace_back(raised, at);
}

bool FakeSerialDevice::TakeCarrierChange(bool& raised, UnixTime& at) {
    std::lock_guard lock(mutex_);
    if (carrierChanges_.empty()) {
        return false;
    }
    raised = carrierChanges_.front().first;
    at = carrierChanges_.front().second;
    carrierChanges_.pop_front();
    return true;
}

namespace {

class FakeCarrierWatch final : public CarrierWatch {
public:
    explicit FakeCarrierWatch(std::shared_ptr<FakeSerialDevice> device)
        : device_(std::move(device)) {}
    uint32_t Wait(bool& raised, UnixTime& at) override;
    void Cancel() override { cancelled_ = true; }

private:
    std::shared_ptr<FakeSerialDevice> device_;
    std::atomic<bool> cancelled_{false};
};

std::string Describe(const char* name, uint32_t a, uint32_t b) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %u %u", name, static_cast<unsigned>(a),
                  static_cast<unsigned>(b));
    return text;
}

} // namespace

class FakeSerialPort final : public SerialPort {
public:
    FakeSerialPort(std::shared_ptr<FakeSerialDevice> device, bool exclusive)
        : device_(std::move(device)), exclusive_(exclusive) {}
    ~FakeSerialPort() override { Close(); }

    uint32_t SetupComm(uint32_t inQueue, uint32_t outQueue) override {
        std::lock_guard lock(device_->mutex_);
        const uint32_t result = Check(SerialOperation::SetupComm);
        device_->calls_.push_back(Describe("SetupComm", inQueue, outQueue));
        if (result == error::success) {
            device_->inQueue_ = inQueue;
            device_->outQueue_ = outQueue;
        }
        return result;
    }

    uint32_t SetCommTimeouts(const CommTimeouts& timeouts) override {
        std::lock_guard lock(device_->mutex_);
        const uint32_t result = Check(SerialOperation::SetCommTimeouts);
        char text[96];
        std::snprintf(text, sizeof text, "SetCommTimeouts %u %u %u %u %u",
                      static_cast<unsigned>(timeouts.ReadIntervalTimeout),
                      static_cast<unsigned>(timeouts.ReadTotalTimeoutMultiplier),
                      static_cast<unsigned>(timeouts.ReadTotalTimeoutConstant),
                      static_cast<unsigned>(timeouts.WriteTotalTimeoutMultiplier),
                      static_cast<unsigned>(timeouts.WriteTotalTimeoutConstant));
        device_->calls_.push_back(text);
        if (result == error::success) {
            device_->timeouts_ = timeouts;
        }
        return result;
    }

    uint32_t GetCommState(Dcb& state) override {
        std::lock_guard lock(device_->mutex_);
        const uint32_t result = Check(SerialOperation::GetCommState);
        device_->calls_.push_back("GetCommState");
        if (result == error::success) {
            state = device_->state_;
        }
        return result;
    }

    uint32_t SetCommState(const Dcb& state) override {
        std::function<void(FakeSerialDevice&, const Dcb&)> hook;
        uint32_t result = error::success;
        {
            std::lock_guard lock(device_->mutex_);
            result = Check(SerialOperation::SetCommState);
            char text[64];
            std::snprintf(text, sizeof text, "SetCommState %u flags 0x%04X",
                          static_cast<unsigned>(state.BaudRate),
                          static_cast<unsigned>(DcbFlags(state)));
            device_->calls_.push_back(text);
            if (result == error::success) {
                device_->state_ = state;
                hook = device_->onSetCommState_;
            }
        }
        if (hook) {
            hook(*device_, state);
        }
        return result;
    }

    uint32_t ClearCommError(uint32_t& errors, ComStat& status) override {
        errors = 0;
        status = ComStat{};
        std::lock_guard lock(device_->mutex_);
        const uint32_t result = Check(SerialOperation::ClearCommError);
        if (result == error::success) {
            errors = device_->lineErrors_;
            device_->lineErrors_ = 0;
            status.cbInQue = static_cast<uint32_t>(device_->input_.size());
        }
        return result;
    }

    uint32_t Read(void* buffer, uint32_t size, uint32_t& got) override {
        got = 0;
        std::lock_guard lock(device_->mutex_);
        const uint32_t result = Check(SerialOperation::Read);
        if (result != error::success) {
            return result;
        }
        got = static_cast<uint32_t>(std::min<size_t>(size, device_->input_.size()));
        std::memcpy(buffer, device_->input_.data(), got);
        device_->input_.erase(0, got);
        return error::success;
    }

    uint32_t Write(const void* data, uint32_t size, uint32_t& written) override {
        written = 0;
        std::function<void(FakeSerialDevice&, std::string_view)> hook;
        std::string_view bytes;
        {
            std::lock_guard lock(device_->mutex_);
            const uint32_t result = Check(SerialOperation::Write);
            if (result != error::success) {
                return result;
            }
            written = std::min(size, device_->writeLimit_);
            bytes = std::string_view(static_cast<const char*>(data), written);
            device_->output_.append(bytes);
            hook = device_->onWrite_;
        }
        if (hook) {
            hook(*device_, bytes);
        }
        return error::success;
    }

    // Stand-ins for a descriptor: what a loop would wait on.
    WaitObject ArmArrival() override { return closed_.load() ? noWaitObject : fakeArrivalObject; }
    WaitObject WriteWait() override { return closed_.load() ? noWaitObject : fakeWriteObject; }

    std::unique_ptr<CarrierWatch> WatchCarrier(uint32_t& error) override {
        std::lock_guard lock(device_->mutex_);
        error = device_->carrierLine_ ? error::success : error::notSupported;
        return device_->carrierLine_ ? std::make_unique<FakeCarrierWatch>(device_) : nullptr;
    }

    void Close() override {
        if (closed_.exchange(true)) {
            return;
        }
        std::lock_guard lock(device_->mutex_);
        device_->openHandles_ -= 1;
        if (device_->openHandles_ == 0 && device_->emptyInputOnClose_) {
            device_->input_.clear();
        }
        if (exclusive_) {
            device_->exclusive_ = false;
        }
    }

private:
    // Under the device lock.
    uint32_t Check(SerialOperation operation) const {
        if (closed_.load()) {
            return error::invalidHandle;
        }
        if (!device_->present_) {
            return error::genFailure;
        }
        const auto failure = device_->failures_.find(operation);
        return failure == device_->failures_.end() ? error::success : failure->second;
    }

    std::shared_ptr<FakeSerialDevice> device_;
    const bool exclusive_;
    std::atomic<bool> closed_{false};
};

FakeSerialDevice& FakeSerialPorts::Add(uint32_t comNumber) {
    std::lock_guard lock(mutex_);
    auto& device = devices_[comNumber];
    if (device == nullptr) {
        device = std::make_shared<FakeSerialDevice>();
        device->state_.BaudRate = 9600;
    }
    return *device;
}

FakeSerialDevice* FakeSerialPorts::Find(uint32_t comNumber) {
    std::lock_guard lock(mutex_);
    const auto found = devices_.find(comNumber);
    return found == devices_.end() ? nullptr : found->second.get();
}

void FakeSerialPorts::Remove(uint32_t comNumber) {
    std::shared_ptr<FakeSerialDevice> device;
    {
        std::lock_guard lock(mutex_);
        const auto found = devices_.find(comNumber);
        if (found == devices_.end()) {
            return;
        }
        device = found->second;
        devices_.erase(found);
    }
    std::lock_guard lock(device->mutex_);
    device->present_ = false;
}

uint32_t FakeSerialPorts::OpenAttempts() const {
    std::lock_guard lock(mutex_);
    return openAttempts_;
}

std::unique_ptr<SerialPort> FakeSerialPorts::Open(uint32_t comNumber, SerialSharing sharing,
                                                  uint32_t& error) {
    std::shared_ptr<FakeSerialDevice> device;
    {
        std::lock_guard lock(mutex_);
        ++openAttempts_;
        const auto found = devices_.find(comNumber);
        if (found != devices_.end()) {
            device = found->second;
        }
    }
    if (device == nullptr) {
        error = error::fileNotFound;
        return nullptr;
    }
    std::function<void()> hook;
    {
        std::lock_guard lock(device->mutex_);
        hook = device->onOpen_;
    }
    if (hook) {
        hook();
    }
    std::lock_guard lock(device->mutex_);
    const bool exclusive = sharing == SerialSharing::None;
    if (device->openError_ != error::success) {
        error = device->openError_;
    } else if (device->exclusive_ || (exclusive && device->openHandles_ > 0)) {
        error = error::accessDenied;
    } else {
        error = error::success;
    }
    device->calls_.push_back(exclusive ? "Open exclusive" : "Open shared");
    if (error != error::success) {
        return nullptr;
    }
    device->openHandles_ += 1;
    device->exclusive_ = exclusive;
    return std::make_unique<FakeSerialPort>(device, exclusive);
}

void FakeSerialPortMap::Set(std::vector<int32_t> comNumbers, uint32_t error) {
    std::lock_guard lock(mutex_);
    comNumbers_ = std::move(comNumbers);
    error_ = error;
}

uint32_t FakeSerialPortMap::List(SerialPortList& list) {
    std::lock_guard lock(mutex_);
    list = SerialPortList{};
    if (error_ != error::success) {
        return error_;
    }
    for (const int32_t number : comNumbers_) {
        if (list.count == SerialPortList::capacity) {
            list.truncated = true;
            break;
        }
        list.comNumbers[list.count++] = number;
    }
    return error::success;
}

uint32_t FakeCarrierWatch::Wait(bool& raised, UnixTime& at) {
    return !cancelled_ && device_->TakeCarrierChange(raised, at) ? error::success
                                                                 : error::operationAborted;
}

} // namespace tavro::platform::testing
