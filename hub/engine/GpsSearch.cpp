#include "hub/engine/GpsSearch.h"

#include "common/SpeedTable.h"
#include "hub/decode/Talker.h"
#include "hub/engine/GpsPort.h"
#include "hub/input/InputLine.h"
#include "platform/ErrorCodes.h"
#include "platform/TextBuilder.h"

#include <new>

namespace tavro {
namespace {

constexpr uint8_t givenUp = 0;

constexpr uint8_t TryingSpeed(uint32_t speedIndex) {
    return static_cast<uint8_t>(2 + speedIndex);
}

// A stream start at position `at` of the `count` bytes read: a talker prefix (only where all
// three bytes were read; the multi-constellation ones with "Multi GNSS" on), the SiRF binary
// start 0xA0 0xA2, or the SiRF binary end 0xB0 0xB3 (a receiver caught in the middle of a
// frame shows its end first).
bool StreamStartsAt(const uint8_t* bytes, uint32_t count, uint32_t at, bool multiGnss) {
    if (IsTalkerPrefix(bytes + at, count - at, multiGnss)) {
        return true;
    }
    if (at + 1 >= count) {
        return false;
    }
    return (bytes[at] == 0xA0 && bytes[at + 1] == 0xA2) ||
           (bytes[at] == 0xB0 && bytes[at + 1] == 0xB3);
}

// Reads away what is still queued. Changing the speed leaves the driver's input queue as it is,
// so without this the next speed would first read bytes heard at this one: a receiver's
// sentences read late would be taken for a stream at the wrong speed, and noise left over
// from a wrong speed would hide the receiver's sentences at its own (busy multi-constellation
// receivers send enough to leave more than one read's worth behind).
void DiscardQueued(platform::SerialPort& port, uint8_t (&buffer)[GpsSearch::readBufferSize]) {
    // A bound, so that a port that never stops delivering cannot hold the thread here.
    constexpr int maxReads = 64;
    for (int i = 0; i < maxReads; ++i) {
        uint32_t lineErrors = 0;
        platform::ComStat status;
        if (port.ClearCommError(lineErrors, status) != error::success || status.cbInQue == 0) {
            return;
        }
        uint32_t got = 0;
        const uint32_t wanted = status.cbInQue < sizeof buffer ? status.cbInQue : sizeof buffer;
        if (port.Read(buffer, wanted, got) != error::success || got == 0) {
            return;
        }
    }
}

bool HoldsStreamStart(const uint8_t* bytes, uint32_t count, bool multiGnss) {
    for (uint32_t at = 0; at + 1 < count; ++at) {
        if (StreamStartsAt(bytes, count, at, multiGnss)) {
            return true;
        }
    }
    return false;
}

} // namespace

GpsSearch::GpsSearch(HubContext& hub, platform::SerialPortMap& serialPortMap,
                     platform::Threads* threads)
    : hub_(hub), serialPortMap_(serialPortMap), threads_(threads) {
    for (uint32_t n = 0; n < SearchValues::comSlots; ++n) {
        jobs_[n].search = this;
        jobs_[n].comNumber = n;
    }
    if (threads_ != nullptr) {
        threadEnded_ = threads_->NewEvent();
    }
}

GpsSearch::~GpsSearch() {
    CancelSearch();
    WaitForThreads();
    ReleaseFinished();
}

// ---- The message window's side ----------------------------------------------------------------

bool GpsSearch::ThreadsRunning() const {
    return hub_.search.scanThreadCount.load() != 0;
}

bool GpsSearch::IsOwnVirtualPort(uint32_t comNumber) const {
    for (uint32_t number : hub_.exchange.block.comNumber) {
        if (number == comNumber) {
            return true;
        }
    }
    return false;
}

bool GpsSearch::StartSearch() {
    SearchValues& values = hub_.search;
    if (ThreadsRunning()) {
        return false;
    }
    ReleaseFinished();

    // 1. Nothing found yet; a search runs; its own found event.
    winner_.store(0);
    foundSlowOpen_.store(0);
    cancelled_.store(false);
    // The threads read the setting as it was when the search started.
    multiGnss_.store(hub_.settings.multiGnss != 0);
    values.ClearFound();
    values.scanning.store(1);
    foundEvent_ = threads_ != nullptr ? threads_->NewEvent() : nullptr;

    // 2. and 3. A fresh picture of the present ports.
    for (std::atomic<uint8_t>& state : values.portScanState) {
        state.store(givenUp);
    }
    hub_.comDbBitmap.Clear();
    ScanSerialPorts(serialPortMap_, hub_.comDbBitmap, values);
    ComDbBitmapChanged();

    // 4. One thread per present port. Without an event the threads would have nothing to wait
    // on: the ports are then treated as ports whose thread could not be made.
    const bool driverOpen = hub_.exchange.DeviceOpen();
    for (uint32_t n = ComDbBitmap::firstComNumber; n <= ComDbBitmap::lastComNumber; ++n) {
        if (values.portScanState[n].load() == givenUp) {
            continue;
        }
        if (driverOpen && IsOwnVirtualPort(n)) {
            continue; // the hub's own virtual port: stays "present, not tried"
        }
        if (foundEvent_ == nullptr) {
            values.portScanState[n].store(givenUp);
            continue;
        }
        // Counted before the thread exists, so that the count cannot reach 0 while a thread
        // that is about to start has not been counted yet.
        values.scanThreadCount.fetch_add(1);
        if (!threads_->StartThread(jobs_[n], scanStackSize)) {
            // Never tried: not counted (or the search would never end) and shown as given up.
            values.portScanState[n].store(givenUp);
            LowerThreadCount();
        }
    }
    return true;
}

bool GpsSearch::FindGps() {
    if (ThreadsRunning()) {
        return false;
    }
    if (hub_.inputPort != nullptr) {
        hub_.inputPort->Close();
    }
    hub_.loop.lastStatus = refreshStatus;
    findDue_ = hub_.system.timing.GetTickCount() + findGpsPause;
    findWaiting_ = true;
    return true;
}

bool GpsSearch::FindWhenDue() {
    // Signed difference: the tick count wraps after 49 days.
    if (!findWaiting_ || static_cast<int32_t>(hub_.system.timing.GetTickCount() - findDue_) < 0) {
        return false;
    }
    findWaiting_ = false;
    if (hub_.inputPort != nullptr) {
        hub_.inputPort->Close(); // in case it was opened again meanwhile
    }
    hub_.search.applySearchResult = 1;
    return StartSearch();
}

void GpsSearch::CancelSearch() {
    // The flag first: a thread that fills its slot after the loop below passed it sees the
    // flag when it looks right after filling the slot.
    cancelled_.store(true);
    for (std::atomic<platform::SerialPort*>& slot : hub_.search.scanHandles) {
        // Taking the pointer out of the slot makes this the only closer: the thread finds its
        // slot empty at its end and leaves the object to ReleaseFinished.
        platform::SerialPort* port = slot.exchange(nullptr);
        if (port != nullptr) {
            port->Close();
        }
    }
}

bool GpsSearch::ReleaseFinished() {
    if (ThreadsRunning()) {
        return false;
    }
    if (anyRetired_.exchange(false)) {
        for (std::unique_ptr<GpsPort>& port : retired_) {
            port.reset();
        }
    }
    const bool ended = foundEvent_ != nullptr;
    foundEvent_.reset();
    return ended;
}

bool GpsSearch::ApplySearchResult(SearchOutcome& outcome) {
    SearchValues& values = hub_.search;
    outcome = SearchOutcome{};
    if (values.applySearchResult == 0 || ThreadsRunning()) {
        return false;
    }
    ReleaseFinished();
    Settings& settings = hub_.settings;
    const uint32_t port = values.FoundPort();
    const uint32_t baud = values.FoundBaud();
    if (port != 0) {
        settings.port = port;
        settings.baud = baud;
        // The flag describes the input port (its lamp's colour), so it changes only with it.
        settings.bluetooth = FoundSlowOpen() ? 1 : 0;
        // Without printf: its code would outweigh much of the Windows hub.
        platform::TextBuilder(outcome.statusText, sizeof outcome.statusText)
            .Append("GPS on COM")
            .AppendUnsigned(port)
            .Append(" at ")
            .AppendUnsigned(baud);
        outcome.found = true;
    } else {
        platform::TextBuilder(outcome.statusText, sizeof outcome.statusText).Append("No GPS Found");
    }
    GpsPort* input = hub_.inputPort.get();
    if (input != nullptr) {
        if (outcome.found && input->IsOpen() &&
            (input->portNumber != settings.port || input->baudRate != settings.baud)) {
            input->Close();
        }
        if (!input->IsOpen() && settings.port != 0) {
            input->Open();
        }
    }
    values.applySearchResult = 0;
    return true;
}

void GpsSearch::WaitForThreads() {
    while (ThreadsRunning()) {
        if (threadEnded_ != nullptr) {
            // Timed: a thread may end between the look at the count and the wait.
            threadEnded_->Wait(20);
        } else {
            hub_.system.timing.Sleep(10);
        }
    }
}

// ---- The scanning threads ---------------------------------------------------------------------

uint32_t GpsSearch::ScanJob::Run() {
    return search->ScanPort(comNumber);
}

bool GpsSearch::ShouldStop() const {
    return winner_.load() != 0 || cancelled_.load();
}

void GpsSearch::Publish(uint32_t comNumber, uint32_t baud, bool slowOpen) {
    // Only the first thread to recognise a stream publishes; one that recognises another at the
    // same moment leaves the result alone.
    uint32_t nobody = 0;
    if (!winner_.compare_exchange_strong(nobody, comNumber)) {
        return;
    }
    foundSlowOpen_.store(slowOpen ? 1 : 0);
    hub_.search.PublishFound(comNumber, baud);
    foundEvent_->Set();
}

void GpsSearch::LowerThreadCount() {
    std::atomic<uint32_t>& count = hub_.search.scanThreadCount;
    uint32_t current = count.load();
    while (current != 0 && !count.compare_exchange_weak(current, current - 1)) {
    }
}

void GpsSearch::EndThread() {
    if (threadEnded_ != nullptr) {
        threadEnded_->Set();
    }
    // Last: once the count is 0 the main thread may release everything of the search.
    LowerThreadCount();
}

uint32_t GpsSearch::ScanPort(uint32_t comNumber) {
    SearchValues& values = hub_.search;
    platform::Timing& timing = hub_.system.timing;

    // 1. - 3. Open the port exclusively, timing the open.
    const uint32_t openStart = timing.GetTickCount();
    uint32_t openError = error::success;
    std::unique_ptr<platform::SerialPort> handle;
    if (!cancelled_.load()) {
        handle = hub_.system.serialPorts.Open(comNumber, platform::SerialSharing::None, openError);
    }
    const bool slowOpen = timing.GetTickCount() - openStart > slowOpenMs;

    // 4. Absent, in use or refused: given up, without a word.
    if (handle == nullptr) {
        values.portScanState[comNumber].store(givenUp);
        EndThread();
        return 1;
    }

    // 5. The scan port holds the handle; the slot shows it to CancelSearch.
    platform::SerialPort* port = handle.get();
    std::unique_ptr<GpsPort> scanPort(new (std::nothrow) GpsPort(hub_, GpsPortKind::Scan));
    if (scanPort == nullptr) {
        values.portScanState[comNumber].store(givenUp);
        handle->Close();
        EndThread();
        return 1;
    }
    scanPort->AdoptHandle(std::move(handle), comNumber);
    values.scanHandles[comNumber].store(port);
    // Looked at after the slot was filled: a cancel either sees the slot or is seen here.
    if (cancelled_.load()) {
        values.portScanState[comNumber].store(givenUp);
    } else {
        PrepareInputPort(*port);
        WalkSpeeds(comNumber, *port, slowOpen);
    }

    // 7. Close and free the port, unless the cancel took its handle: then the cancel closes it
    // (once) and the object is freed on the main thread after all threads have ended.
    if (values.scanHandles[comNumber].exchange(nullptr) == port) {
        scanPort->Close();
        scanPort.reset();
    } else {
        retired_[comNumber] = std::move(scanPort);
        anyRetired_.store(true);
    }
    EndThread();
    return 1;
}

void GpsSearch::WalkSpeeds(uint32_t comNumber, platform::SerialPort& port, bool slowOpen) {
    SearchValues& values = hub_.search;
    uint8_t buffer[readBufferSize];

    for (uint32_t k = 0; k < speedTableCount; ++k) {
        // 6.1 The line as the input port would have it, at this speed; a failure shows as
        // silence or garbage below.
        ConfigureSerialLine(port, speedTable[k], 8, platform::dcb::noParity,
                            platform::dcb::oneStopBit);
        // 6.2
        values.portScanState[comNumber].store(TryingSpeed(k));

        // 6.3 Up to 13 waits of 100 ms, each cut short by a receiver found elsewhere.
        uint32_t queued = 0;
        for (uint32_t wait = 0; wait < waitsPerSpeed; ++wait) {
            if (ShouldStop() || foundEvent_->Wait(waitMs)) {
                break;
            }
            uint32_t lineErrors = 0;
            platform::ComStat status;
            if (port.ClearCommError(lineErrors, status) != error::success) {
                // The handle is gone (cancelled, unplugged): nothing more will arrive.
                queued = 0;
                break;
            }
            queued = status.cbInQue;
            if (queued >= enoughBytes) {
                break;
            }
        }

        // 6.4 Read what arrived, at most 254 bytes.
        uint32_t got = 0;
        if (queued > 0 && !cancelled_.load()) {
            const uint32_t wanted = queued < readLimit ? queued : readLimit;
            if (port.Read(buffer, wanted, got) != error::success) {
                got = 0;
            }
        }

        // 6.5 Too little to tell anything: a silent port is not tried at other speeds.
        if (got < 2 || got > readLimit || cancelled_.load()) {
            values.portScanState[comNumber].store(givenUp);
            return;
        }

        // 6.6
        if (HoldsStreamStart(buffer, got, multiGnss_.load())) {
            Publish(comNumber, speedTable[k], slowOpen);
        }

        // 6.7 Found here or elsewhere; or the last speed was tried.
        if (winner_.load() != 0) {
            return;
        }
        if (k + 1 < speedTableCount) {
            DiscardQueued(port, buffer);
        }
    }
}

} // namespace tavro
