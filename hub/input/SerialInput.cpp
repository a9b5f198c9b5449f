// SPDX-License-Identifier: Apache-2.0
#include "hub/input/SerialInput.h"

#include "hub/input/InputLine.h"

namespace tavro {

SerialInput::SerialInput(platform::SerialPorts& ports, uint32_t comNumber, bool arrival,
                         std::unique_ptr<platform::SerialPort> open)
    : ports_(ports), comNumber_(comNumber), arrival_(arrival), open_(open != nullptr),
      port_(std::move(open)) {}

SerialInput::~SerialInput() = default;

bool SerialInput::Open() {
    if (open_) {
        return true;
    }
    uint32_t error = error::success;
    platform::ClearSystemError();
    std::unique_ptr<platform::SerialPort> port =
        arrival_ ? ports_.OpenForArrival(comNumber_, error)
                 : ports_.Open(comNumber_, platform::SerialSharing::ReadWrite, error);
    if (port == nullptr) {
        lastError_ = platform::SystemErrorOf(error != error::success ? error : error::genFailure);
        return false;
    }
    port_ = std::move(port);
    open_ = true;
    lastError_ = {};
    PrepareInputPort(*port_);
    return true;
}

// The port object stays until the input goes: a write cancelled by the close is still counted
// (TakeUnwritten), and another thread may be inside a call on it (the GPS search's cancel).
void SerialInput::Close() {
    if (port_ != nullptr) {
        port_->Close();
    }
    open_ = false;
}

uint32_t SerialInput::Queued(uint32_t& bytes) {
    bytes = 0;
    if (port_ == nullptr) {
        return error::invalidHandle;
    }
    uint32_t lineErrors = 0;
    platform::ComStat status;
    const uint32_t result = port_->ClearCommError(lineErrors, status);
    if (result == error::success) {
        bytes = status.cbInQue;
    }
    return result;
}

uint32_t SerialInput::Read(void* buffer, uint32_t size, uint32_t& got) {
    got = 0;
    return port_ != nullptr ? port_->Read(buffer, size, got) : error::invalidHandle;
}

platform::WaitObject SerialInput::ArmArrival() {
    return port_ != nullptr ? port_->ArmArrival() : platform::noWaitObject;
}

uint32_t SerialInput::Write(const void* data, uint32_t size, uint32_t& written) {
    written = 0;
    return port_ != nullptr ? port_->Write(data, size, written) : error::invalidHandle;
}

uint32_t SerialInput::WriteNoWait(const void* data, uint32_t size, uint32_t& accepted) {
    accepted = 0;
    return port_ != nullptr ? port_->WriteNoWait(data, size, accepted) : error::invalidHandle;
}

platform::WaitObject SerialInput::WriteWait() {
    return port_ != nullptr ? port_->WriteWait() : platform::noWaitObject;
}

uint32_t SerialInput::TakeUnwritten() {
    return port_ != nullptr ? port_->TakeUnwritten() : 0;
}

bool SerialInput::Configure(uint32_t speed, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    return port_ != nullptr && ConfigureSerialLine(*port_, speed, dataBits, parity, stopBits);
}

std::unique_ptr<platform::CarrierWatch> SerialInput::WatchCarrier(uint32_t& error) {
    if (port_ == nullptr) {
        error = error::invalidHandle;
        return nullptr;
    }
    return port_->WatchCarrier(error);
}

} // namespace tavro
