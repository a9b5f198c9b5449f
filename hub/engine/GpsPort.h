// The input port: the one real serial port the receiver is attached to. GpsPort opens and
// configures it, reads what has arrived on every timer tick, passes the bytes unchanged to
// the driver so that every open virtual port receives them, cuts them into frames for the
// stream parser, keeps them for the track log, and writes the bytes that applications wrote
// to the virtual ports back to the receiver.
//
// One main GpsPort lives for the whole run of the hub (HubContext::CreateInputPort); every
// scanning thread of the GPS search makes a short-lived one of its own (GpsPortKind::Scan)
// that only holds and closes the port it tries. Nothing here blocks on the receiver: reads
// return at once with what the system has buffered.
//
// The receiver is reached through an Input (hub/input): a serial port or a network source,
// made from the settings; line control (speed, carrier detect) only where the input has a
// line. The main port and its HubContext belong to the hub's main thread, a scan port to its
// thread.
#pragma once

#include "common/GpsSharedStatus.h"
#include "hub/decode/FrameCutter.h"
#include "hub/decode/ParserHost.h"
#include "hub/engine/HubContext.h"
#include "hub/engine/ReceiverWriter.h"
#include "hub/engine/TrackLog.h"
#include "hub/input/Input.h"
#include "hub/input/MakeInput.h"
#include "hub/input/SerialLine.h"
#include "hub/input/SourceRecord.h"
#include "platform/SerialPort.h"

#include <memory>
#include <stdint.h>

namespace tavro {

enum class GpsPortKind : uint8_t {
    Main, // frames end at line feed (terminator 10, packetLength 0); assembles in lineBuffer
    Scan, // terminator 0, packetLength 32; never polled, holds a port for the search
};

class GpsPort final : public ParserHost {
public:
    // Bytes handled per read: the frame limit, so one read never overruns lineBuffer.
    static constexpr uint32_t maxReadLength = FrameCutter::maxFrameLength;
    // Bytes per read when reading on arrival (frames are still cut at 510 bytes).
    static constexpr uint32_t arrivalReadLength = 4096;
    // Reads per arrival at most, so that a receiver that never pauses cannot hold the loop.
    static constexpr uint32_t arrivalReadsMax = 16;
    // A pause this long (ms) before a byte makes it the first of a new burst.
    static constexpr uint32_t burstGapMs = 40;
    // A burst older than this (ms) tells nothing about the sentence being decoded.
    static constexpr uint32_t burstAgeMaxMs = 1000;
    static constexpr uint32_t logBufferSize = 2304;
    // logBuffer is written out once it holds this many bytes.
    static constexpr int32_t logBlockSize = 1024;
    static constexpr uint32_t logFileNameSize = 192;

    // A main port assembles its frames in hub.lineBuffer and writes into `status` (set by
    // HubContext::CreateInputPort); a scan port has no status block and its own frame buffer.
    // `log` null means no track log (NoTrackLog).
    explicit GpsPort(HubContext& hub, GpsPortKind kind = GpsPortKind::Main,
                     TrackLog* log = nullptr);
    ~GpsPort();
    GpsPort(const GpsPort&) = delete;
    GpsPort& operator=(const GpsPort&) = delete;

    // ---- Operations ------------------------------------------------------------------------

    // Opens and configures COM<"Port"> (for arrival while "Immediate Relay" is on, see
    // RelaysOnArrival): no result; success shows as IsOpen(), a
    // failed open as a null handle with lastOpenError set (error::accessDenied for a port
    // another program holds, error::fileNotFound for a "Port" above 255, which the 8-bit
    // portNumber cannot name). Resets checksumErrors. Does nothing when a handle is already
    // open or "Port" is 0. The line speed is "Baud" when that is not 0, else baudRate. A port
    // whose line configuration fails is closed again at once (lastOpenError 0, the block
    // marked PortClosed, the log closed).
    void Open();

    // Line settings on the open port (see InputLine.h); the hub always passes 8 data bits,
    // parity 0 (none), stop bits 0 (one). Returns whether SetCommState succeeded; false
    // without a serial line.
    bool ConfigureLine(uint32_t speed, uint8_t dataBits, uint8_t parity, uint8_t stopBits);

    // Returns the port to the closed state: block PortClosed with fixState, fixValid and
    // comPort 0; handle closed; then CloseLog. Safe when already closed. baudRate, the
    // framing state (terminator, the frame being assembled) and the parser state survive.
    // The received bytes still queued (closing empties the system's queue) are counted as
    // dropped for `cause`; the bytes queued for the receiver, and those of a write still in
    // flight, which closing cancels, as DropCause::Unwritten.
    void Close(DropCause cause = DropCause::Closed);

    // A re-open after a pause, so that no wait blocks the loop thread: the port is closed
    // now and the timer loop opens it once `pauseMs` have passed (ReopenWhenDue). Settings
    // opens as Open does; Recovery as RecoveryReopen describes. Close cancels it.
    enum class Reopen : uint8_t { None, Settings, Recovery };
    void ReopenAfter(Reopen kind, uint32_t pauseMs);
    // The timer loop, every tick: the re-open whose pause is over, or None.
    Reopen ReopenWhenDue();
    bool ReopenWaiting() const { return reopen_ != Reopen::None; }

    // The first frame since the port was opened began with a zero byte and held no stream
    // start: what a receiver heard at another speed sends. Reported once per open.
    bool TakeZeroLedStart() {
        const bool zeroLed = zeroLedStart_;
        zeroLedStart_ = false;
        return zeroLed;
    }
    // The line speed of this open differs from that of the open before it.
    bool SpeedChangedAtOpen() const { return openedBaud_ != previousBaud_ && previousBaud_ != 0; }

    // One tick's read (main thread, while "Port" is not 0 and no search runs): reads what is
    // queued (at most 510 bytes), relays it unchanged unless "NMEA Filter" is on or the relay
    // is held, and runs each byte through stream recognition, the log buffer and the frame
    // buffer, handing every complete frame to ParseFrame (injected false). Returns the length
    // of the last frame handed over during this call, 0 if none.
    uint32_t Poll();

    // One tick's exchange with the driver (run before Poll): sends readOnlyFlag and takes the
    // driver's record; readOnlyFlag then follows bit 3 of OptionFlags for the next exchange;
    // client bytes are written to the receiver with one write while the port is open and
    // dropped otherwise; the record's byte count is cleared. Does nothing but the flag update
    // while the control device is closed. The caller checks exchange.block.version.
    //
    // On arrival (RelaysOnArrival, or "Immediate Relay" while closed) the client bytes are
    // queued instead (see ReceiverWriter) and written as the line takes them: port by port
    // where the device can hand them out so, each port taking what its queue has room for;
    // otherwise the whole record's, and then the exchange waits (the bytes stay in the
    // driver) while the queue could not take a full record. Bytes collected while the port
    // is closed are dropped, as on the tick.
    void DriverExchange();

    // ---- On arrival ("Immediate Relay") ---------------------------------------------------

    // The open port runs on arrival: "Immediate Relay" was on when it was opened.
    bool RelaysOnArrival() const { return input_ != nullptr && arrival_; }

    // Reads everything the receiver has sent (in reads of up to 4096 bytes, at most
    // arrivalReadsMax of them), relays and handles each read as Poll does its one. Returns
    // the number of frames handed to the parser; `lastLength` is the length of the last.
    uint32_t ReadArrived(uint32_t& lastLength);

    // The loop reported the line hung up (no more bytes will come): after a read that got
    // nothing the port stops offering its arrival wait until it is opened again.
    // (An input that keeps itself up, a network source, reconnects on its own: its wait is
    // never switched off.)
    void LineHungUp() { hungUp_ = input_ != nullptr && !input_->KeepsItselfUp(); }

    // What the event loop waits on: the receiver's bytes (noWaitObject unless the port runs
    // on arrival and the line is up), and room on the line while queued bytes wait.
    platform::WaitObject ArrivalWait();
    platform::WaitObject WriteWait();

    // Writes queued bytes as the line takes them.
    void PumpWrites();

    // ---- A network "Source" ---------------------------------------------------------------

    // The open input when it is not a serial line (a network source), null otherwise.
    const Input* Source() const {
        return input_ != nullptr && line_ == nullptr ? input_.get() : nullptr;
    }
    // The open input recovers from silence by itself (see Input::KeepsItselfUp).
    bool KeepsItselfUp() const { return input_ != nullptr && input_->KeepsItselfUp(); }
    // Moves the open input on (every tick): a network source's connection; a drop shows in
    // the block at once.
    void TickSource();
    // The network source's state and counts, kept across closes (reset when "Source" changes).
    SourceRecord sourceRecord;

    // The queue of bytes for the receiver (null for scan ports).
    ReceiverWriter* Writer() { return writer_.get(); }

    // IOCTL_TAVRO_BROADCAST of `length` bytes while the control device is open, and the same
    // bytes to the network clients.
    void Broadcast(const uint8_t* bytes, uint32_t length);

    // A sentence from a network client ("TCP Write"): queued as the network's writer, or on
    // the tick written at once, as virtual-port bytes are; dropped while the port is closed.
    void WriteFromNetwork(const uint8_t* sentence, uint32_t length);

    // Writes `length` bytes to the receiver with one write when the port is open (the write
    // time-out applies); returns the bytes written, 0 while closed. On arrival they are queued
    // whole (the command writer's queue) and written without waiting: returns `length`, or 0
    // when they do not fit the queue.
    uint32_t WriteToReceiver(const uint8_t* bytes, uint32_t length);

    // The track log (see TrackLog.h). FlushLog and CloseLog always leave logCount at 0.
    void OpenLog();
    void FlushLog();
    void CloseLog();
    bool LogOpen() const { return log_->LogOpen(); }
    void CreateLogDirectories(const char* path) { log_->CreateLogDirectories(path); }

    // A scan port takes the handle its thread opened (the search's own open, held
    // exclusively) as its input; configure it with PrepareInputPort and ConfigureLine.
    void AdoptHandle(std::unique_ptr<platform::SerialPort> port, uint32_t comNumber);

    // ---- State -----------------------------------------------------------------------------

    // The open input, null while closed; its serial line, null while closed or for an input
    // without one.
    Input* CurrentInput() const { return input_.get(); }
    SerialLine* Line() const { return line_; }
    bool IsOpen() const { return input_ != nullptr; }

    HubContext& Hub() const { return hub_; }
    GpsPortKind Kind() const { return kind_; }

    // Framing: `framing.terminator` (10 for NMEA, 0xB3 for SiRF binary, moved by stream
    // recognition), `framing.packetLength` (0: frames end at the terminator) and the frame
    // being assembled (`framing.PendingLength()` is lineLength). Survives a close.
    FrameCutter framing;

    // The hub's view of the status block; null when there is none (scan ports). Every write
    // of the port into the block is skipped while it is null.
    GpsSharedStatus* status = nullptr;

    // System error of the last failed open, 0 after a successful one, and the operating
    // system's own error behind it (errno on POSIX), 0 when the code says all there is.
    uint32_t lastOpenError = 0;
    int32_t lastOpenOsError = 0;

    // Raw received bytes waiting for the log; written out when 1024 are held.
    int32_t logCount = 0;
    uint8_t logBuffer[logBufferSize] = {};
    // Bytes written to the current log file; its zero-terminated path (see TrackLog.h).
    uint32_t bytesLogged = 0;
    char logFileName[logFileNameSize] = {};
    // Received bytes the log could not take (no file could be made, a full disk), counted
    // since the port was made, and the system error of the last such failure.
    uint64_t bytesNotLogged = 0;
    uint32_t logError = 0;

    // Line speed for the next open: replaced by "Baud" whenever that is not 0, and by a
    // requested speed when the parser's recovery re-opens the port. Before any "Baud" was seen
    // it is the settings' default speed (4800), the speed a receiver most likely uses.
    uint32_t baudRate = baudDefault;

    // relayHeld, sirfMode, timeSynced, checksumErrors and portNumber are ParserHost fields.

    // ---- ParserHost ------------------------------------------------------------------------

    // The block through `status`; without one, a private block the parser may write into.
    GpsSharedStatus& Status() override;
    uint32_t OptionFlags() const override;
    // The "Multi GNSS" setting as it is now.
    bool MultiGnss() const override;
    uint32_t TickCount() override;
    uint32_t RequestedBaud() const override;
    void RequestReopen() override;
    void Relay(const uint8_t* bytes, uint32_t length) override;
    // Closes the handle, CloseLog, waits 100 ms, applies requestedBaud to baudRate, and opens
    // COM<portNumber> again at baudRate as Open does, without consulting "Port" and "Baud" and
    // without touching the block (the parser writes it).
    bool RecoveryReopen(uint32_t& lineSpeed) override;
    platform::SystemClock& Clock() override;
    void SyncClock(GpsSharedStatus& block) override;
    bool BurstAge(uint32_t& milliseconds) override;
    // Hands the fix's time to the time export with the start of its burst.
    void FixTimed() override;
    // The main port tells the hub's FixFreshness.
    void FixReported(bool valid, int32_t timeOfDayMs) override;

private:
    // Makes and opens the input `description` names (prepared, not yet configured). On a
    // failure lastOpenError is set.
    enum class OpenResult : uint8_t { Opened, OpenFailed };
    OpenResult OpenInput(const InputDescription& description);
    // Drops the input (closed or never opened).
    void DropInput();
    void RecogniseStream(const uint8_t* read, uint32_t count, uint32_t index);
    // Relays (unless filtered or held) and runs one read's bytes through recognition, the
    // log and the frame buffer. Returns the frames handed over; `lastLength` the last's.
    uint32_t HandleRead(const uint8_t* read, uint32_t got, uint32_t& lastLength);
    void RecogniseAcrossReads(const uint8_t* read, uint32_t got);
    void NoteArrival(uint32_t got);
    uint32_t WriteNow(const uint8_t* bytes, uint32_t length);
    void MarkClosed();
    // Closes the handle, counting what goes with it: queued received bytes for `cause`; as
    // unwritten the bytes queued for the receiver and those of a write the close cancels.
    void CloseHandleCountingDrops(DropCause cause);
    void NoteOpenedSpeed();
    // Open for a "Source" that is not empty: the socket is always waited on (on arrival).
    void OpenSource();
    // When the first byte of the current sentence's burst arrived (Timing::Microseconds),
    // where the port measured it (see BurstAge).
    bool BurstStart(uint64_t& microseconds);
    // The recovery's open at portNumber and baudRate, writing the block as an open does.
    void FinishRecovery();

    HubContext& hub_;
    GpsPortKind kind_;
    TrackLog* log_;
    std::unique_ptr<Input> input_;
    SerialLine* line_ = nullptr; // input_->Line()
    bool sourceUp_ = false;      // it was connected (listening) at the last tick
    GpsSharedStatus detachedStatus_{};
    std::unique_ptr<ReceiverWriter> writer_; // main ports only
    bool arrival_ = false;                   // this open runs on arrival
    bool hungUp_ = false;
    uint64_t lastArrivalUs_ = 0;
    uint64_t burstStartUs_ = 0;
    bool burstSeen_ = false;  // a byte arrived since the open
    bool burstWhole_ = false; // the burst began after a pause, not before the open
    // The stream's last two bytes before this read (on arrival), right-aligned: the last
    // carriedLength_ of them are real.
    uint8_t carried_[2] = {};
    uint32_t carriedLength_ = 0;
    // The speeds of this open and of the one before (0: none yet).
    uint32_t openedBaud_ = 0;
    uint32_t previousBaud_ = 0;
    bool firstFrameSeen_ = false; // a frame was handed over since the open
    bool zeroLedStart_ = false;   // that frame looked like a receiver at another speed
    bool streamNamed_ = false;    // a stream start was recognised since the open
    Reopen reopen_ = Reopen::None;
    uint32_t reopenDue_ = 0; // GetTickCount at which the pending re-open is due
};

} // namespace tavro
