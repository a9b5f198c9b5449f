#include "hub/engine/GpsPort.h"

#include "hub/decode/ParseFrame.h"
#include "hub/engine/NetworkOutput.h"
#include "hub/input/SerialInput.h"
#include "hub/time/ClockSync.h"
#include "hub/time/TimeExport.h"
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
    } else {
        writer_.reset(new ReceiverWriter); // its rings need no clearing
    }
}

GpsPort::~GpsPort() = default;

// ---- Opening and closing ------------------------------------------------------------------------

GpsPort::OpenResult GpsPort::OpenInput(const InputDescription& description) {
    const InputSystem system{hub_.system.serialPorts, hub_.system.timing, hub_.sockets,
                             hub_.threads};
    uint32_t error = error::success;
    std::unique_ptr<Input> input = MakeInput(description, system, sourceRecord, error);
    if (input == nullptr) {
        lastOpenError = error;
        lastOpenOsError = 0;
        return OpenResult::OpenFailed;
    }
    if (!input->Open()) {
        const platform::SystemError failure = input->LastError();
        lastOpenError = failure.code != error::success ? failure.code : error::genFailure;
        lastOpenOsError = failure.osCode;
        return OpenResult::OpenFailed;
    }
    input_ = std::move(input);
    line_ = input_->Line();
    lastOpenError = error::success;
    lastOpenOsError = 0;
    return OpenResult::Opened;
}

void GpsPort::DropInput() {
    line_ = nullptr;
    input_.reset();
}

void GpsPort::Open() {
    checksumErrors = 0;
    if (kind_ == GpsPortKind::Main && !hub_.SourceIsSerial()) {
        OpenSource();
        return;
    }
    const uint32_t comNumber = hub_.settings.port;
    if (input_ != nullptr || comNumber == 0) {
        return;
    }
    if (comNumber > maxComNumber) {
        // portNumber holds 8 bits: a larger number would show, and be re-opened by the
        // recovery, as another port. Such a port is treated as one that does not exist.
        lastOpenError = error::fileNotFound;
        lastOpenOsError = 0;
        return;
    }
    arrival_ = kind_ == GpsPortKind::Main && hub_.settings.immediateRelay != 0;
    hungUp_ = false;
    burstSeen_ = false;
    InputDescription description;
    description.comNumber = comNumber;
    description.arrival = arrival_;
    if (OpenInput(description) != OpenResult::Opened) {
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
    NoteOpenedSpeed();
    if (!ConfigureLine(baudRate, 8, platform::dcb::noParity, platform::dcb::oneStopBit)) {
        MarkClosed();
        DropInput();
        CloseLog();
    }
}

void GpsPort::OpenSource() {
    if (input_ != nullptr) {
        return;
    }
    if (strcmp(sourceRecord.text, hub_.settings.source) != 0) {
        sourceRecord = SourceRecord{};
        memcpy(sourceRecord.text, hub_.settings.source, sizeof sourceRecord.text);
    }
    InputDescription description;
    const char* reason = nullptr;
    if (!ParseSource(hub_.settings.source, description.address, reason)) {
        lastOpenError = error::invalidParameter;
        lastOpenOsError = 0;
        sourceRecord.lastError = lastOpenError;
        sourceRecord.lastOsError = 0;
        return;
    }
    // The socket is always waited on.
    arrival_ = true;
    if (OpenInput(description) != OpenResult::Opened) {
        sourceRecord.lastError = lastOpenError;
        sourceRecord.lastOsError = lastOpenOsError;
        return;
    }
    hungUp_ = false;
    sourceUp_ = false;
    portNumber = 0;
    if (status != nullptr) {
        status->streamState = Byte(StreamState::PortOpen);
        status->comPort = 0;
        status->baudRate = 0; // no line speed: the source is shown instead
    }
}

// A source that dropped is no stream and no fix until it is back: the block says so at once,
// as for a receiver that fell silent (which the parser notices only later).
void GpsPort::TickSource() {
    if (input_ == nullptr) {
        return;
    }
    const SourceState state = input_->Tick();
    const bool up = state == SourceState::Connected || state == SourceState::Listening;
    if (sourceUp_ && !up) {
        hub_.freshness.InputClosed();
        if (status != nullptr) {
            status->streamState = Byte(StreamState::PortOpen);
            status->fixState = Byte(FixState::NoData);
            status->fixValid = 0;
        }
    }
    sourceUp_ = up;
}

bool GpsPort::ConfigureLine(uint32_t speed, uint8_t dataBits, uint8_t parity, uint8_t stopBits) {
    return line_ != nullptr && line_->Configure(speed, dataBits, parity, stopBits);
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

void GpsPort::NoteOpenedSpeed() {
    previousBaud_ = openedBaud_;
    openedBaud_ = baudRate;
    firstFrameSeen_ = false;
    zeroLedStart_ = false;
    streamNamed_ = false;
}

void GpsPort::CloseHandleCountingDrops(DropCause cause) {
    // A scan port's bytes were never the hub's stream.
    const bool counted = kind_ == GpsPortKind::Main;
    if (input_ != nullptr) {
        if (counted) {
            hub_.freshness.InputClosed();
        }
        uint32_t queued = 0;
        if (counted && input_->Queued(queued) == error::success) {
            hub_.drops.Add(cause, queued);
        }
        input_->Close();
        if (counted) {
            hub_.drops.Add(DropCause::Unwritten, input_->TakeUnwritten()); // a cancelled write
        }
        DropInput();
    }
    if (counted && writer_ != nullptr) {
        hub_.drops.Add(DropCause::Unwritten, writer_->PendingBytes());
    }
}

void GpsPort::Close(DropCause cause) {
    reopen_ = Reopen::None;
    MarkClosed();
    CloseHandleCountingDrops(cause);
    if (writer_ != nullptr) {
        writer_->Clear(); // for a line that is gone, as client bytes while closed are
    }
    CloseLog();
}

void GpsPort::AdoptHandle(std::unique_ptr<platform::SerialPort> port, uint32_t comNumber) {
    DropInput();
    if (port == nullptr) {
        return;
    }
    input_.reset(new (std::nothrow)
                     SerialInput(hub_.system.serialPorts, comNumber, false, std::move(port)));
    line_ = input_ != nullptr ? input_->Line() : nullptr;
}

// ---- Reading ------------------------------------------------------------------------------------

void GpsPort::RecogniseStream(const uint8_t* read, uint32_t count, uint32_t index) {
    switch (RecogniseStreamStart(read, count, index, MultiGnss())) {
    case StreamStart::Nmea:
        streamNamed_ = true;
        framing.terminator = nmeaTerminator;
        if (status != nullptr) {
            status->streamState = Byte(StreamState::NmeaStream);
        }
        break;
    case StreamStart::Sirf:
        streamNamed_ = true;
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
    if (input_ == nullptr) {
        return 0;
    }
    uint32_t count = 0;
    if (input_->Queued(count) != error::success) {
        return 0;
    }
    if (count == 0) {
        return 0;
    }
    if (count > maxReadLength) {
        count = maxReadLength;
    }
    uint8_t read[FrameCutter::bufferSize];
    uint32_t got = 0;
    if (input_->Read(read, count, got) != error::success || got == 0 || got > maxReadLength) {
        return 0;
    }
    HandleRead(read, got, result);
    return result;
}

uint32_t GpsPort::HandleRead(const uint8_t* read, uint32_t got, uint32_t& lastLength) {
    const bool raw = (OptionFlags() & OptionFlags::nmeaFilter) == 0 && relayHeld == 0;
    if (raw) {
        Broadcast(read, got);
    }
    if (arrival_) {
        RecogniseAcrossReads(read, got);
    }
    uint32_t frames = 0;
    // The parser may close and re-open the port on the way (recovery); the bytes of this read
    // are the caller's copy and are handled to the end all the same.
    for (uint32_t j = 0; j < got; ++j) {
        RecogniseStream(read, got, j);
        if (logCount >= 0 && logCount < static_cast<int32_t>(logBufferSize)) {
            logBuffer[logCount++] = read[j];
        }
        if (const uint32_t length = framing.Append(read[j])) {
            // Unfiltered, each frame is one datagram too (before the parser writes into it).
            if (raw && hub_.network != nullptr) {
                hub_.network->SendFrame(framing.Frame(), length);
            }
            if (!firstFrameSeen_) {
                firstFrameSeen_ = true;
                zeroLedStart_ = framing.Frame()[0] == 0 && !streamNamed_;
            }
            ParseFrame(*this, framing.Frame(), length, false);
            lastLength = length;
            ++frames;
        }
        if (logCount >= logBlockSize) {
            FlushLog();
        }
    }
    return frames;
}

// Read as they arrive, bytes come a few at a time (one at a time from a slow line): a prefix
// cut by the end of a read would never be recognised, and the stream never named. So a prefix
// that begins in the last two bytes of the previous read and ends in this one counts too.
void GpsPort::RecogniseAcrossReads(const uint8_t* read, uint32_t got) {
    // The carried bytes, then this read's first two: prefixes that begin in the carried ones.
    uint8_t window[4] = {carried_[0], carried_[1], got > 0 ? read[0] : uint8_t{0},
                         got > 1 ? read[1] : uint8_t{0}};
    const uint32_t length = 2 + (got < 2 ? got : 2);
    for (uint32_t i = 2 - carriedLength_; i < 2; ++i) {
        RecogniseStream(window, length, i);
    }
    // The stream's last two bytes (window's tail when the read is short).
    const uint8_t* last = got >= 2 ? read + got - 2 : window + got;
    carried_[0] = last[0];
    carried_[1] = last[1];
    carriedLength_ = carriedLength_ + got < 2 ? carriedLength_ + got : 2;
}

// The first of `got` bytes just read came in about as long ago as the line took to carry them
// (more than one byte is waiting only when the loop was busy), never before the last read.
void GpsPort::NoteArrival(uint32_t got) {
    const uint64_t now = hub_.system.timing.Microseconds();
    // A network source's bytes come all at once; a line's took their time on the wire.
    const uint64_t lineUs =
        baudRate != 0 && line_ != nullptr ? uint64_t{got - 1} * 10000000u / baudRate : 0;
    uint64_t first = lineUs < now ? now - lineUs : 0;
    if (burstSeen_ && first < lastArrivalUs_) {
        first = lastArrivalUs_;
    }
    if (!burstSeen_ || first - lastArrivalUs_ >= uint64_t{burstGapMs} * 1000) {
        burstStartUs_ = first;
        // Only a pause seen since the open shows where a burst began.
        burstWhole_ = burstSeen_;
        burstSeen_ = true;
    }
}

uint32_t GpsPort::ReadArrived(uint32_t& lastLength) {
    lastLength = 0;
    uint32_t frames = 0;
    uint8_t read[arrivalReadLength];
    for (uint32_t reads = 0; reads < arrivalReadsMax; ++reads) {
        Input* line = input_.get();
        uint32_t got = 0;
        if (line == nullptr || line->Read(read, sizeof read, got) != error::success || got == 0 ||
            got > sizeof read) {
            // After a hang-up, nothing now means nothing ever: the wait stays off (hungUp_)
            // and the timer loop's idle re-open takes over.
            break;
        }
        if (reads == 0) {
            hungUp_ = false;
            NoteArrival(got);
        }
        frames += HandleRead(read, got, lastLength);
        lastArrivalUs_ = hub_.system.timing.Microseconds();
        if (got < sizeof read) {
            break; // that was all
        }
    }
    return frames;
}

// ---- The driver ---------------------------------------------------------------------------------

void GpsPort::Broadcast(const uint8_t* bytes, uint32_t length) {
    platform::ControlDevice& device = hub_.exchange.device;
    if (device.IsOpen()) {
        device.Broadcast(bytes, length);
    }
    if (hub_.network != nullptr) {
        hub_.network->Relay(bytes, length);
    }
}

void GpsPort::DriverExchange() {
    ExchangeRecord& record = hub_.exchange;
    const bool queued = input_ != nullptr
                            ? arrival_
                            : kind_ == GpsPortKind::Main && hub_.settings.immediateRelay != 0;
    const bool deviceOpen = record.device.IsOpen();
    const bool perPort = deviceOpen && record.device.CollectPerPort(queued);
    // A driver that hands out a whole record at a time keeps the bytes while the queue could
    // not take one: its writers wait there. Counts and lamps keep the last record meanwhile.
    const bool exchange =
        deviceOpen && (!queued || perPort || input_ == nullptr ||
                       writer_->Room(ReceiverWriter::driverWriter) >= exchangeDataCapacity);
    if (exchange) {
        record.block.readOnly = record.readOnlyFlag;
        if (record.device.Exchange(record.block) != error::success) {
            // The record is unspecified after a failed exchange: carry no bytes from it.
            record.block.clientDataLength = 0;
        }
    }
    record.readOnlyFlag = (OptionFlags() & OptionFlags::readOnly) != 0 ? 1 : 0;
    if (perPort) {
        for (uint32_t i = 0; i < virtualPortCount; ++i) {
            uint8_t bytes[ReceiverWriter::queueCapacity];
            // While closed they are taken and dropped, not kept for later.
            const uint32_t room = input_ != nullptr ? writer_->Room(i) : sizeof bytes;
            const uint32_t taken = room != 0 ? record.device.TakeClientBytes(i, bytes, room) : 0;
            if (input_ != nullptr) {
                writer_->Queue(i, bytes, taken);
            }
        }
    } else if (exchange && record.block.clientDataLength != 0) {
        uint32_t length = record.block.clientDataLength;
        if (length > exchangeDataCapacity) {
            length = exchangeDataCapacity;
        }
        if (!queued) {
            WriteNow(record.block.clientData, length);
        } else if (input_ != nullptr) {
            writer_->Queue(ReceiverWriter::driverWriter, record.block.clientData, length);
        }
        record.block.clientDataLength = 0;
    }
    if (queued) {
        writer_->Tick();
        PumpWrites();
    }
}

uint32_t GpsPort::WriteToReceiver(const uint8_t* bytes, uint32_t length) {
    if (input_ == nullptr || length == 0) {
        return 0;
    }
    if (!arrival_) {
        return WriteNow(bytes, length);
    }
    if (!writer_->Queue(ReceiverWriter::commandWriter, bytes, length)) {
        return 0;
    }
    PumpWrites();
    return length;
}

uint32_t GpsPort::WriteNow(const uint8_t* bytes, uint32_t length) {
    if (input_ == nullptr || length == 0) {
        return 0;
    }
    uint32_t written = 0;
    if (input_->Write(bytes, length, written) != error::success || written > length) {
        written = 0;
    }
    hub_.drops.Add(DropCause::Unwritten, length - written);
    return written;
}

void GpsPort::PumpWrites() {
    if (input_ == nullptr) {
        return;
    }
    if (writer_ != nullptr && writer_->Pending()) {
        // A failed write empties the queue: what was neither written nor left is lost.
        const uint32_t before = writer_->PendingBytes();
        const uint32_t written = writer_->Pump(*input_);
        hub_.drops.Add(DropCause::Unwritten, before - written - writer_->PendingBytes());
    }
    hub_.drops.Add(DropCause::Unwritten, input_->TakeUnwritten());
}

platform::WaitObject GpsPort::ArrivalWait() {
    if (!RelaysOnArrival() || hungUp_) {
        return platform::noWaitObject;
    }
    return input_->ArmArrival();
}

platform::WaitObject GpsPort::WriteWait() {
    if (!RelaysOnArrival() || writer_ == nullptr || !writer_->Pending()) {
        return platform::noWaitObject;
    }
    return input_->WriteWait();
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

// A frame the parser passes on (filtered, or injected): one datagram as well.
void GpsPort::Relay(const uint8_t* bytes, uint32_t length) {
    Broadcast(bytes, length);
    if (hub_.network != nullptr) {
        hub_.network->SendFrame(bytes, length);
    }
}

void GpsPort::WriteFromNetwork(const uint8_t* sentence, uint32_t length) {
    if (input_ == nullptr || length == 0) {
        return;
    }
    if (!arrival_) {
        WriteNow(sentence, length);
        return;
    }
    if (writer_->Queue(ReceiverWriter::networkWriter, sentence, length)) {
        PumpWrites();
    }
}

bool GpsPort::RecoveryReopen(uint32_t& lineSpeed) {
    if (input_ != nullptr && line_ == nullptr) {
        // Nothing to hunt for without a line (a network source: no line speed, no lost
        // sync): it stays.
        checksumErrors = 0;
        lineSpeed = 0;
        return true;
    }
    CloseHandleCountingDrops(DropCause::Reopen);
    if (writer_ != nullptr) {
        writer_->Clear();
    }
    hungUp_ = false;
    burstSeen_ = false;
    CloseLog();
    // The receiver settles while the loop keeps serving; the block shows the port closed
    // until the timer loop opens it again.
    ReopenAfter(Reopen::Recovery, recoveryPause);
    return false;
}

void GpsPort::ReopenAfter(Reopen kind, uint32_t pauseMs) {
    reopen_ = kind;
    reopenDue_ = hub_.system.timing.GetTickCount() + pauseMs;
}

GpsPort::Reopen GpsPort::ReopenWhenDue() {
    const Reopen kind = reopen_;
    // Signed difference: the tick count wraps after 49 days.
    if (kind == Reopen::None ||
        static_cast<int32_t>(hub_.system.timing.GetTickCount() - reopenDue_) < 0) {
        return Reopen::None;
    }
    reopen_ = Reopen::None;
    if (kind == Reopen::Settings) {
        Open();
    } else {
        FinishRecovery();
    }
    return kind;
}

void GpsPort::FinishRecovery() {
    if (hub_.requestedBaud != 0) {
        baudRate = hub_.requestedBaud;
        hub_.requestedBaud = 0;
    }
    checksumErrors = 0;
    if (portNumber == 0) {
        return;
    }
    InputDescription description;
    description.comNumber = portNumber;
    description.arrival = arrival_;
    if (OpenInput(description) != OpenResult::Opened) {
        return;
    }
    NoteOpenedSpeed();
    if (!ConfigureLine(baudRate, 8, platform::dcb::noParity, platform::dcb::oneStopBit)) {
        DropInput();
        return;
    }
    if (status != nullptr) {
        status->streamState = Byte(StreamState::PortOpen);
        status->comPort = portNumber;
        status->baudRate = baudRate;
    }
}

platform::SystemClock& GpsPort::Clock() {
    return hub_.system.systemClock;
}

void GpsPort::SyncClock(GpsSharedStatus& block) {
    ClockSync(*this, block);
}

bool GpsPort::BurstStart(uint64_t& microseconds) {
    if (!RelaysOnArrival() || !burstSeen_) {
        return false; // the tick reads late by up to a tick: the fixed allowance stays
    }
    if (hub_.system.timing.Microseconds() - burstStartUs_ > uint64_t{burstAgeMaxMs} * 1000) {
        return false; // no pause for a second: the burst's start is not known
    }
    microseconds = burstStartUs_;
    return true;
}

bool GpsPort::BurstAge(uint32_t& milliseconds) {
    uint64_t start = 0;
    if (!BurstStart(start)) {
        return false;
    }
    milliseconds = static_cast<uint32_t>((hub_.system.timing.Microseconds() - start + 500) / 1000);
    return true;
}

void GpsPort::FixReported(bool valid, int32_t timeOfDayMs) {
    if (kind_ == GpsPortKind::Main) {
        hub_.freshness.FixReported(valid, timeOfDayMs, hub_.system.timing.Microseconds());
    }
}

void GpsPort::FixTimed() {
    if (hub_.timeExport == nullptr || kind_ != GpsPortKind::Main) {
        return;
    }
    uint64_t start = 0;
    const bool measured = BurstStart(start) && burstWhole_;
    hub_.timeExport->FixTimed(hub_.settings.ntpUnit, precise, measured, start);
}

} // namespace tavro
