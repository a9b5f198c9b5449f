#include "hub/engine/GpsPort.h"

#include "hub/decode/ParseFrame.h"
#include "hub/engine/InputLine.h"
#include "platform/ErrorCodes.h"

#include <string.h>

namespace tavro {
namespace {

constexpr uint8_t Byte(StreamState state) {
    return static_cast<uint8_t>(state);
}

constexpr uint8_t Byte(FixState state) {
    return static_cast<uint8_t>(state);
}

constexpr uint32_t maxComNumber = 255;

// The recovery re-open lets the receiver settle this long before the port is opened again.
constexpr uint32_t recoveryPause = 100;

} // namespace

GpsPort::GpsPort(HubContext& hub, GpsPortKind kind, TrackLog* log)
    // Only the main port assembles in the hub's lineBuffer; scan ports never read frames.
    : framing(kind == GpsPortKind::Main ? FrameCutter(hub.lineBuffer) : FrameCutter()), hub_(hub),
      kind_(kind), log_(log != nullptr ? log : &NoTrackLog::Instance()) {
    if (kind == GpsPortKind::Scan) {
        framing.terminator = 0;
        framing.packetLength = 32;
    }
}

GpsPort::~GpsPort() = default;

// ---- Opening and closing ------------------------------------------------------------------------

GpsPort::OpenResult GpsPort::OpenAndConfigure(uint32_t comNumber) {
    uint32_t error = error::success;
    std::unique_ptr<platform::SerialPort> port =
        hub_.system.serialPorts.Open(comNumber, platform::SerialSharing::ReadWrite, error);
    if (port == nullptr) {
        lastOpenError = error != error::success ? error : error::genFailure;
        return OpenResult::OpenFailed;
    }
    handle_ = std::move(port);
    lastOpenError = error::success;
    return OpenResult::Opened;
}

void GpsPort::Open() {
    checksumErrors = 0;
    const uint32_t comNumber = hub_.settings.port;
    if (handle_ != nullptr || comNumber == 0) {
        return;
    }
    if (comNumber > maxComNumber) {
        // portNumber holds 8 bits: a larger number would show, and be re-opened by the
        // recovery, as another port. Such a port is treated as one that does not exist.
        lastOpenError = error::fileNotFound;
        return;
    }
    if (OpenAndConfigure(comNumber) != OpenResult::Opened) {
        return;
    }
    portNumber = static_cast<uint8_t>(comNumber);
    if (hub_.settings.baud != 0) {
        baudRate = hub_.settings.baud;
    }
    if (status != nullptr) {
        status->streamState = Byte(StreamState::PortOpen);
        status->comPort = portNumber;
        // The speed the port runs at: with "Baud" 0 that is the last baudRate, not 0.
        status->baudRate = baudRate;
    }
    PrepareInputPort(*handle_);
    if (!ConfigureLine(baudRate, 8, platform::dcb::noParity, platform::dcb::oneStopBit)) {
        MarkClosed();
        handle_.reset();
        CloseLog();
    }
}

bool GpsPort::ConfigureLine(uint32_t speed, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    if (handle_ == nullptr) {
        return false;
    }
    return ConfigureSerialLine(*handle_, speed, dataBits, parity, stopBits);
}

void GpsPort::MarkClosed() {
    if (status == nullptr) {
        return;
    }
    status->streamState = Byte(StreamState::PortClosed);
    status->fixState = Byte(FixState::NoData);
    status->fixValid = 0;
    status->comPort = 0;
}

void GpsPort::Close() {
    MarkClosed();
    if (handle_ != nullptr) {
        handle_->Close();
        handle_.reset();
    }
    CloseLog();
}

void GpsPort::AdoptHandle(std::unique_ptr<platform::SerialPort> port) {
    handle_ = std::move(port);
}

// ---- Reading ------------------------------------------------------------------------------------

void GpsPort::RecogniseStream(const uint8_t* read, uint32_t count, uint32_t index) {
    switch (RecogniseStreamStart(read, count, index, MultiGnss())) {
    case StreamStart::Nmea:
        framing.terminator = nmeaTerminator;
        if (status != nullptr) {
            status->streamState = Byte(StreamState::NmeaStream);
        }
        break;
    case StreamStart::Sirf:
        framing.terminator = sirfTerminator;
        if (status != nullptr) {
            status->streamState = Byte(StreamState::SirfStream);
        }
        break;
    case StreamStart::None:
        break;
    }
}

uint32_t GpsPort::Poll() {
    uint32_t result = 0;
    if (handle_ == nullptr) {
        return 0;
    }
    uint32_t lineErrors = 0;
    platform::ComStat queued;
    if (handle_->ClearCommError(lineErrors, queued) != error::success) {
        return 0;
    }
    uint32_t count = queued.cbInQue;
    if (count == 0) {
        return 0;
    }
    if (count > maxReadLength) {
        count = maxReadLength;
    }
    uint8_t read[FrameCutter::bufferSize];
    uint32_t got = 0;
    if (handle_->Read(read, count, got) != error::success || got == 0 || got > maxReadLength) {
        return 0;
    }
    if ((OptionFlags() & OptionFlags::nmeaFilter) == 0 && relayHeld == 0) {
        Broadcast(read, got);
    }
    // The parser may close and re-open the port on the way (recovery); the bytes of this read
    // are the caller's copy and are handled to the end all the same.
    for (uint32_t j = 0; j < got; ++j) {
        RecogniseStream(read, got, j);
        if (logCount >= 0 && logCount < static_cast<int32_t>(logBufferSize)) {
            logBuffer[logCount++] = read[j];
        }
        if (const uint32_t length = framing.Append(read[j])) {
            ParseFrame(*this, framing.Frame(), length, false);
            result = length;
        }
        if (logCount >= logBlockSize) {
            FlushLog();
        }
    }
    return result;
}

// ---- The driver ---------------------------------------------------------------------------------

void GpsPort::Broadcast(const uint8_t* bytes, uint32_t length) {
    platform::ControlDevice& device = hub_.exchange.device;
    if (device.IsOpen()) {
        device.Broadcast(bytes, length);
    }
}

void GpsPort::DriverExchange() {
    ExchangeRecord& record = hub_.exchange;
    const bool deviceOpen = record.device.IsOpen();
    if (deviceOpen) {
        record.block.readOnly = record.readOnlyFlag;
        if (record.device.Exchange(record.block) != error::success) {
            // The record is unspecified after a failed exchange: carry no bytes from it.
            record.block.clientDataLength = 0;
        }
    }
    record.readOnlyFlag = (OptionFlags() & OptionFlags::readOnly) != 0 ? 1 : 0;
    if (deviceOpen && record.block.clientDataLength != 0) {
        uint32_t length = record.block.clientDataLength;
        if (length > exchangeDataCapacity) {
            length = exchangeDataCapacity;
        }
        WriteToReceiver(record.block.clientData, length);
        record.block.clientDataLength = 0;
    }
}

uint32_t GpsPort::WriteToReceiver(const uint8_t* bytes, uint32_t length) {
    if (handle_ == nullptr || length == 0) {
        return 0;
    }
    uint32_t written = 0;
    if (handle_->Write(bytes, length, written) != error::success) {
        return 0;
    }
    return written;
}

// ---- Track log ----------------------------------------------------------------------------------

void GpsPort::OpenLog() {
    log_->OpenLog(*this);
}

void GpsPort::FlushLog() {
    log_->FlushLog(*this);
    logCount = 0;
}

void GpsPort::CloseLog() {
    log_->CloseLog(*this);
    logCount = 0;
}

// ---- ParserHost ---------------------------------------------------------------------------------

GpsSharedStatus& GpsPort::Status() {
    return status != nullptr ? *status : detachedStatus_;
}

uint32_t GpsPort::OptionFlags() const {
    return hub_.settings.optionFlags;
}

bool GpsPort::MultiGnss() const {
    return hub_.settings.multiGnss != 0;
}

uint32_t GpsPort::TickCount() {
    return hub_.system.timing.GetTickCount();
}

uint32_t GpsPort::RequestedBaud() const {
    return hub_.requestedBaud;
}

void GpsPort::RequestReopen() {
    hub_.reopenPending = 1;
}

void GpsPort::Relay(const uint8_t* bytes, uint32_t length) {
    Broadcast(bytes, length);
}

bool GpsPort::RecoveryReopen(uint32_t& lineSpeed) {
    if (handle_ != nullptr) {
        handle_->Close();
        handle_.reset();
    }
    CloseLog();
    hub_.system.timing.Sleep(recoveryPause);
    if (hub_.requestedBaud != 0) {
        baudRate = hub_.requestedBaud;
        hub_.requestedBaud = 0;
    }
    checksumErrors = 0;
    if (portNumber == 0 || OpenAndConfigure(portNumber) != OpenResult::Opened) {
        return false;
    }
    PrepareInputPort(*handle_);
    if (!ConfigureLine(baudRate, 8, platform::dcb::noParity, platform::dcb::oneStopBit)) {
        handle_.reset();
        return false;
    }
    lineSpeed = baudRate;
    return true;
}

platform::SystemClock& GpsPort::Clock() {
    return hub_.system.systemClock;
}

} // namespace tavro
