// A driver with ports 0 (COM5), 1 (COM6) and 3 (COM9) configured, a clock at a fixed time,
// and shortcuts for the requests an application or the hub makes.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "sys/usermode/UserDriver.h"
#include "sys/usermode/UserServices.h"

namespace tavro::driver::testing {

using usermode::UserDriver;

inline constexpr uint64_t startTime = 5'000'000;

class DriverFixture : public ::testing::Test {
protected:
    DriverFixture() : driver_({5, 6, 0, 9, 0, 0, 0, 0}) {
        usermode::SetMilliseconds(startTime);
        usermode::SetDebugCapture(true);
        usermode::TakeDebugLines();
    }

    ~DriverFixture() override {
        // Close every handle still open; queued requests must all end cancelled.
        if (hubAttached_) {
            driver_.Dispatch(driver_.Control(), *MakeSimple(MajorFunction::Close, hub_));
        }
        for (auto& open : handles_) {
            if (open->file.context != nullptr) {
                driver_.Cleanup(open->port, open->file);
                driver_.Close(open->port, open->file);
            }
        }
        for (uint32_t port = 0; port < virtualPortCount; ++port) {
            EXPECT_EQ(driver_.Record(port).pendingReads, 0) << "port " << port;
            EXPECT_EQ(driver_.Record(port).pendingWaits, 0) << "port " << port;
            EXPECT_EQ(driver_.Record(port).openCount, 0) << "port " << port;
        }
        for (auto& request : requests_) {
            EXPECT_EQ(request->completions.load(), 1) << "every request ends exactly once";
        }
    }

    struct Handle {
        uint32_t port;
        FileObject file;
    };

    Handle& Open(uint32_t port) {
        handles_.push_back(std::make_unique<Handle>(Handle{port, {}}));
        Handle& handle = *handles_.back();
        EXPECT_EQ(driver_.Open(port, handle.file), status::success);
        return handle;
    }

    // The hub opens the control device: from then on written bytes wait to be collected.
    void AttachHub() {
        ASSERT_EQ(driver_.Dispatch(driver_.Control(), *MakeCreate(hub_)), status::success);
        hubAttached_ = true;
    }

    void CloseHandle(Handle& handle) {
        EXPECT_EQ(driver_.Cleanup(handle.port, handle.file), status::success);
        EXPECT_EQ(driver_.Close(handle.port, handle.file), status::success);
    }

    // The fixture keeps every request it sent until the end of the test, when it checks that
    // each one was completed exactly once.
    Request* Send(Handle& handle, std::unique_ptr<Request> request) {
        requests_.push_back(std::move(request));
        driver_.Dispatch(driver_.Port(handle.port), *requests_.back());
        return requests_.back().get();
    }

    Request* Ioctl(Handle& handle, uint32_t code, const void* input = nullptr,
                   uint32_t inputLength = 0, uint32_t outputLength = 0) {
        return Send(handle, MakeDeviceControl(handle.file, code, input, inputLength, outputLength));
    }

    template <typename T>
    NtStatus Set(Handle& handle, uint32_t code, const T& value) {
        return Ioctl(handle, code, &value, sizeof value)->status;
    }

    template <typename T>
    T Get(Handle& handle, uint32_t code) {
        auto request = Ioctl(handle, code, nullptr, 0, sizeof(T));
        EXPECT_EQ(request->status, status::success);
        EXPECT_EQ(request->information, sizeof(T));
        T value{};
        std::memcpy(&value, request->buffer.data(), sizeof value);
        return value;
    }

    void SetTimeouts(Handle& handle, uint32_t interval, uint32_t multiplier, uint32_t constant) {
        SERIAL_TIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
        ASSERT_EQ(Set(handle, IOCTL_SERIAL_SET_TIMEOUTS, timeouts), status::success);
    }

    void SetWaitMask(Handle& handle, uint32_t mask) {
        ASSERT_EQ(Set(handle, IOCTL_SERIAL_SET_WAIT_MASK, mask), status::success);
    }

    void SetChars(Handle& handle, uint8_t eventChar, uint8_t eofChar) {
        SERIAL_CHARS chars{eofChar, 0, 0xFF, eventChar, 0x11, 0x13};
        ASSERT_EQ(Set(handle, IOCTL_SERIAL_SET_CHARS, chars), status::success);
    }

    Request* Read(Handle& handle, uint32_t length) {
        return Send(handle, MakeRead(handle.file, length));
    }

    // A read that returns at once with what is waiting (time-outs MAXDWORD, 0, 0).
    std::string ReadNow(Handle& handle, uint32_t length) {
        SetTimeouts(handle, maxDword, 0, 0);
        auto request = Read(handle, length);
        EXPECT_TRUE(request->Completed());
        return Data(*request);
    }

    Request* Wait(Handle& handle) {
        return Ioctl(handle, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4);
    }

    Request* Write(Handle& handle, std::string_view bytes) {
        return Send(handle,
                    MakeWrite(handle.file, bytes.data(), static_cast<uint32_t>(bytes.size())));
    }

    uint32_t Available(Handle& handle) {
        return Get<SERIAL_STATUS>(handle, IOCTL_SERIAL_GET_COMMSTATUS).AmountInInQueue;
    }

    void Broadcast(std::string_view bytes) {
        ASSERT_EQ(driver_.Broadcast(bytes.data(), static_cast<uint32_t>(bytes.size())),
                  status::success);
    }

    DriverExchangeBlock Exchange(const DriverExchangeBlock* input = nullptr) {
        DriverExchangeBlock block;
        std::memset(&block, 0xAB, sizeof block);
        EXPECT_EQ(driver_.Exchange(block, input), status::success);
        return block;
    }

    static std::string Collected(const DriverExchangeBlock& block) {
        return std::string(reinterpret_cast<const char*>(block.clientData), block.clientDataLength);
    }

    // The bytes a completed read returned.
    static std::string Data(const Request& request) {
        return std::string(reinterpret_cast<const char*>(request.buffer.data()),
                           request.information);
    }

    static uint32_t EventWord(const Request& request) {
        uint32_t events = 0;
        std::memcpy(&events, request.buffer.data(), sizeof events);
        return events;
    }

    UserDriver driver_;
    FileObject hub_;
    bool hubAttached_ = false;
    std::deque<std::unique_ptr<Request>> requests_;
    std::deque<std::unique_ptr<Handle>> handles_;
};

} // namespace tavro::driver::testing
