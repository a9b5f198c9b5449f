// Reads: immediate completion, queueing, the read conditions with their time-outs, and the
// time-out service.
#include "sys/core/CompletionList.h"
#include "sys/core/PortDevice.h"

namespace tavro::driver {

namespace {

uint8_t ReadModeOf(const SERIAL_TIMEOUTS& t) {
    if (t.ReadIntervalTimeout == maxDword && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0) {
        return readReturnsAtOnce;
    }
    uint8_t mode = 0;
    if (t.ReadIntervalTimeout == maxDword && t.ReadTotalTimeoutMultiplier == maxDword &&
        t.ReadTotalTimeoutConstant != maxDword) {
        mode |= readAtOnceIfWaiting;
        if (t.ReadTotalTimeoutConstant != 0) {
            mode |= readFirstByte;
        }
    }
    if (t.ReadTotalTimeoutConstant == maxDword - 1) {
        mode |= readAtOnceIfWaiting;
    }
    return mode;
}

uint64_t AddSaturated(uint64_t base, uint64_t delta) {
    return delta > noDeadline - base ? noDeadline : base + delta;
}

uint64_t Earlier(uint64_t a, uint64_t b) {
    return a < b ? a : b;
}

} // namespace

// Constant time: the distance from the handle's tail to the head, which is what stepping the
// tail to the head one byte at a time would count.
uint32_t PortDevice::AvailableBytes(PortHandleState& handle) {
    uint32_t available =
        port_->rxSize == 0 ? 0 : RingDistance(handle.readIndex, port_->rxHead, port_->rxSize);
    port_->rxAvailable = available;
    return available;
}

NtStatus PortDevice::Read(Request& request) {
    uint32_t length = RequestReadLength(request);
    DebugPrint(" Tavro read %d\n", length);
    auto* handle = static_cast<PortHandleState*>(RequestHandleContext(request));
    if (handle == nullptr) {
        return CompleteNow(request, status::invalidDeviceRequest);
    }

    AcquireSpinLock(port_->lock);
    uint32_t available = AvailableBytes(*handle);
    ++port_->readActivity;
    if (port_->rxBuffer == nullptr || length == 0) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::success);
    }

    const SERIAL_TIMEOUTS& t = handle->timeouts;
    uint8_t mode = ReadModeOf(t);
    // A read behind other queued reads of the handle waits for its turn, whatever its
    // time-outs: the handle's bytes go to its reads in the order they were made.
    bool first = handle->queuedReads == 0;
    bool immediate = false;
    if (first && (mode & readReturnsAtOnce) != 0) {
        DebugPrint(" Tavro complete read immediate must\n");
        immediate = true;
    } else if (first && available != 0 &&
               ((mode & readAtOnceIfWaiting) != 0 || available >= length)) {
        DebugPrint(" Tavro complete read immediate\n");
        immediate = true;
    }
    if (immediate) {
        CompleteRead(request, *handle, length, 0);
        ReleaseSpinLock(port_->lock);
        CompleteRequest(request);
        return status::success;
    }

    // A closing handle queues nothing more: nobody would be left to cancel it.
    if (handle->cleanedUp) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::cancelled);
    }
    uint32_t slot = ReadCount();
    if (slot == slotCount) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::insufficientResources);
    }

    uint64_t now = QueryMilliseconds();
    if (!QueueForCancel(request, &PortDevice::CancelQueued, this)) {
        ReleaseSpinLock(port_->lock);
        return CompleteNow(request, status::cancelled);
    }

    // L × RM + RC in 64 bits: neither the product nor the sum may wrap.
    uint64_t total = uint64_t{length} * t.ReadTotalTimeoutMultiplier + t.ReadTotalTimeoutConstant;
    QueuedRead queued = {};
    queued.request = &request;
    queued.handle = handle;
    queued.startTime = now;
    queued.totalDeadline = total == 0 ? noDeadline : AddSaturated(now, total);
    if ((mode & readFirstByte) != 0) {
        queued.totalDeadline = Earlier(queued.totalDeadline, now + t.ReadTotalTimeoutConstant);
    }
    queued.length = length;
    queued.interval = t.ReadIntervalTimeout;
    queued.mode = mode;
    queued.started = first ? 1 : 0;
    // Bytes waiting when the read starts count as arriving now for its interval time-out.
    queued.gotBytes = first && available != 0 ? 1 : 0;
    queued.lastByteTime = now;
    readSlots_[slot] = queued;
    ++port_->pendingReads;
    ++handle->queuedReads;
    handle->pendingRead = &request;
    handle->readStartTime = now;
    DebugPrint(" Tavro read pending\n");
    UpdateDeadline();
    ReleaseSpinLock(port_->lock);
    return status::pending;
}

// Copies what the handle has waiting after the bytes the read already holds (up to `length` in
// all) and sets the result; the caller holds the port lock, has taken the request off any
// queue, and completes it after unlocking.
void PortDevice::CompleteRead(Request& request, PortHandleState& handle, uint32_t length,
                              uint32_t absorbed) {
    DebugPrint(" Tavro Start complete read\n");
    if (handle.pendingRead == &request) {
        handle.pendingRead = nullptr;
    }
    uint32_t copied = absorbed;
    auto* buffer = static_cast<uint8_t*>(RequestSystemBuffer(request));
    if (port_->rxBuffer != nullptr && buffer != nullptr && length < 0x80000000u &&
        absorbed < length) {
        uint32_t available = RingDistance(handle.readIndex, port_->rxHead, port_->rxSize);
        uint32_t take = available < length - absorbed ? available : length - absorbed;
        handle.readIndex =
            RingLoad(port_->rxBuffer, port_->rxSize, handle.readIndex, buffer + absorbed, take);
        copied += take;
    }
    ++port_->readActivity;
    handle.eofReceived = 0;
    SetRequestInformation(request, copied);
    SetRequestStatus(request, status::success);
    DebugPrint(" Tavro CompleteRead return %d bytes\n", copied);
}

void PortDevice::RemoveRead(uint32_t slot) {
    --readSlots_[slot].handle->queuedReads;
    RemoveEntry(readSlots_, sizeof(QueuedRead), ReadCount(), slot);
    --port_->pendingReads;
}

// Whether a queued read is done at `now`. `first`: it is the oldest queued read of its handle,
// the one that takes the handle's bytes; `arrived`: bytes have just been received. Every
// condition that holds prints its line.
bool PortDevice::ReadDone(QueuedRead& queued, bool first, bool arrived, uint64_t now) {
    bool complete = false;
    if (first) {
        PortHandleState& handle = *queued.handle;
        uint32_t available = AvailableBytes(handle);
        if (queued.started == 0) {
            // Its turn has come (the handle's earlier reads ended): the rules for a read at its
            // start apply now, and bytes waiting count as arriving now.
            queued.started = 1;
            arrived = true;
            if ((queued.mode & readReturnsAtOnce) != 0 ||
                (available != 0 && (queued.mode & readAtOnceIfWaiting) != 0)) {
                DebugPrint(" Tavro complete read immediate\n");
                complete = true;
            }
        }
        uint64_t have = uint64_t{queued.absorbed} + available;
        if (arrived && have != 0) {
            queued.gotBytes = 1;
            queued.lastByteTime = now;
            handle.lastCharTime = now;
        }
        if (have >= queued.length) {
            DebugPrint(" Tavro completeRead C0\n");
            complete = true;
        }
        // The interval runs from the last byte this read received, never from before it.
        if (queued.interval != 0 && queued.gotBytes != 0 && have != 0 &&
            now >= AddSaturated(queued.lastByteTime, queued.interval)) {
            DebugPrint(" Tavro completeRead C2\n");
            complete = true;
        }
        if ((queued.mode & readFirstByte) != 0 && have != 0) {
            DebugPrint(" Tavro completeRead C3\n");
            complete = true;
        }
    }
    if (now >= queued.totalDeadline) {
        DebugPrint((queued.mode & readFirstByte) != 0 ? " Tavro completeRead Cx\n"
                                                      : " Tavro completeRead C1\n");
        complete = true;
    }
    return complete;
}

// Called with the port lock held; `now` is the same for every read of one pass. A read that
// ends lets the next read of its handle, later in the list, take its turn in the same pass.
void PortDevice::ServeReads(uint64_t now, bool arrived, CompletionList& done) {
    ++serveEpoch_;
    uint32_t slot = 0;
    while (slot < ReadCount()) {
        QueuedRead& queued = readSlots_[slot];
        PortHandleState& handle = *queued.handle;
        // The handle's oldest read is the first of its reads the pass meets; when it ends, the
        // mark is taken back so that the next read of the handle is met as the oldest.
        bool first = FirstOfHandle(handle);
        Request& request = *queued.request;
        if (!ReadDone(queued, first, arrived, now) || !ClaimFromCancel(request)) {
            ++slot;
            continue;
        }
        if (first) {
            handle.serveMark = serveEpoch_ - 1;
        }
        uint32_t length = queued.length;
        uint32_t absorbed = queued.absorbed;
        RemoveRead(slot);
        ++port_->readActivity;
        DebugPrint(" Tavro completeRead bSend\n");
        CompleteRead(request, handle, length, absorbed);
        done.Add(request);
    }
}

// What ServeReads does for bytes that arrived without ending any read (QuietRun saw to that):
// the handles' oldest reads note the arrival for their interval time-out.
void PortDevice::MarkArrival(uint64_t now) {
    ++serveEpoch_;
    for (uint32_t slot = 0; slot < ReadCount(); ++slot) {
        QueuedRead& queued = readSlots_[slot];
        PortHandleState& handle = *queued.handle;
        if (handle.queuedReads == 1 || FirstOfHandle(handle)) {
            AvailableBytes(handle);
            queued.gotBytes = 1;
            queued.lastByteTime = now;
            handle.lastCharTime = now;
        }
    }
}

// Called with the port lock held. Nothing can have expired before the earliest deadline.
void PortDevice::CheckTimeouts(uint64_t now, CompletionList& done) {
    if (nextDeadline_ == 0 || now < nextDeadline_) {
        return;
    }
    ServeReads(now, false, done);
    // A write whose time-out expired ends with the bytes that went into the ring; the rest of
    // it is not sent.
    bool ended = false;
    for (uint32_t slot = 0; slot < writeCount_;) {
        QueuedWrite& queued = writeSlots_[slot];
        // A short count tells the time-out.
        if (now < queued.deadline ||
            !Finish(*queued.request, status::success, queued.stored, done)) {
            ++slot;
            continue;
        }
        RemoveWrite(slot);
        ended = true;
    }
    if (ended) {
        MoveQueuedWrites(done);
        TransmitProgress(done);
    }
}

// Finds the earliest deadline of the queued requests and, when it moved earlier, asks the
// time-out service to run the checks then. Called with the port lock held after every change.
void PortDevice::UpdateDeadline() {
    uint64_t next = noDeadline;
    for (uint32_t slot = 0; slot < ReadCount(); ++slot) {
        const QueuedRead& queued = readSlots_[slot];
        next = Earlier(next, queued.totalDeadline);
        if (queued.interval != 0 && queued.gotBytes != 0) {
            next = Earlier(next, AddSaturated(queued.lastByteTime, queued.interval));
        }
    }
    for (uint32_t slot = 0; slot < writeCount_; ++slot) {
        next = Earlier(next, writeSlots_[slot].deadline);
    }
    uint64_t previous = nextDeadline_;
    nextDeadline_ = next == noDeadline ? 0 : next;
    if (nextDeadline_ != 0 && (previous == 0 || nextDeadline_ < previous)) {
        RequestTimeoutCheck(nextDeadline_);
    }
}

uint64_t PortDevice::RunTimeouts(uint64_t now) {
    if (port_ == nullptr) {
        return 0;
    }
    CompletionList done;
    AcquireSpinLock(port_->lock);
    if (nextDeadline_ != 0 && now >= nextDeadline_) {
        CheckTimeouts(now, done);
        UpdateDeadline();
    }
    uint64_t next = nextDeadline_;
    ReleaseSpinLock(port_->lock);
    done.CompleteAll();
    return next;
}

} // namespace tavro::driver
