// SPDX-License-Identifier: Apache-2.0
// A receiver on a serial port: the platform's port of COM<n> (platform::SerialPort, in the
// terms of the Win32 serial functions) as an Input, with its line as the SerialLine.
#pragma once

#include "hub/input/Input.h"
#include "hub/input/SerialLine.h"
#include "platform/SerialPort.h"

#include <memory>
#include <stdint.h>

namespace tavro {

class SerialInput final : public Input, public SerialLine {
public:
    // COM<comNumber>, opened by Open (for waiting on arrival when `arrival`, see
    // platform::SerialPorts::OpenForArrival), or held from the start when `open` is a port
    // opened elsewhere (the GPS search's own, held exclusively).
    SerialInput(platform::SerialPorts& ports, uint32_t comNumber, bool arrival,
                std::unique_ptr<platform::SerialPort> open = nullptr);
    ~SerialInput() override;
    SerialInput(const SerialInput&) = delete;
    SerialInput& operator=(const SerialInput&) = delete;

    // ---- Input -----------------------------------------------------------------------------
    // Opens the port shared for reading and writing and gives it the hub's queue sizes and
    // time-outs (PrepareInputPort); the speed is set through Configure. False with the system
    // error of the open (error::accessDenied for a port another program holds,
    // error::fileNotFound for one that does not exist).
    bool Open() override;
    void Close() override;
    // A serial port has no connection to move on: the port is open or it is not.
    SourceState Tick() override { return State(); }
    SourceState State() const override {
        return open_ ? SourceState::Connected : SourceState::Closed;
    }
    platform::SystemError LastError() const override { return lastError_; }
    // A silent port is re-opened by the loop; a hung-up one waits for that re-open.
    bool KeepsItselfUp() const override { return false; }
    uint32_t Queued(uint32_t& bytes) override;
    uint32_t Read(void* buffer, uint32_t size, uint32_t& got) override;
    platform::WaitObject ArmArrival() override;
    uint32_t Write(const void* data, uint32_t size, uint32_t& written) override;
    uint32_t WriteNoWait(const void* data, uint32_t size, uint32_t& accepted) override;
    platform::WaitObject WriteWait() override;
    uint32_t TakeUnwritten() override;
    SerialLine* Line() override { return this; }

    // ---- SerialLine ------------------------------------------------------------------------
    bool Configure(uint32_t speed, uint8_t dataBits, uint8_t parity, uint8_t stopBits) override;
    std::unique_ptr<platform::CarrierWatch> WatchCarrier(uint32_t& error) override;
    uint32_t ComNumber() const override { return comNumber_; }

private:
    platform::SerialPorts& ports_;
    uint32_t comNumber_;
    bool arrival_;
    bool open_;
    std::unique_ptr<platform::SerialPort> port_;
    platform::SystemError lastError_;
};

} // namespace tavro
