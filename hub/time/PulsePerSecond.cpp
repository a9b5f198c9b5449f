#include "hub/time/PulsePerSecond.h"

#include "platform/ErrorCodes.h"

namespace tavro {
namespace {

constexpr int64_t nsPerSecond = 1000000000;
constexpr int64_t fixAgeMaxNs = 2 * nsPerSecond;
constexpr int64_t edgeSlackNs = 400000000;
constexpr uint32_t watchStack = 64 * 1024;

} // namespace

bool PulsePerSecond::Start(SerialLine& line, uint32_t unit) {
    Stop();
    uint32_t error = error::success;
    watch_ = line.WatchCarrier(error);
    if (watch_ == nullptr) {
        if (error == error::notSupported) {
            unavailable_.store(true);
        }
        return false;
    }
    if (threads_ == nullptr || service_ == nullptr) {
        watch_.reset();
        return false;
    }
    segment_ = service_->Attach(unit, error);
    ended_ = threads_->NewEvent();
    if (segment_ == nullptr || ended_ == nullptr || !threads_->StartThread(*this, watchStack)) {
        watch_.reset();
        segment_.reset();
        return false;
    }
    return true;
}

void PulsePerSecond::Stop() {
    if (watch_ == nullptr) {
        return;
    }
    watch_->Cancel();
    // The thread sets the event as its last act; Cancel has already ended its wait.
    while (!ended_->Wait(1000)) {
        watch_->Cancel();
    }
    watch_.reset();
    segment_.reset();
}

void PulsePerSecond::Follow(SerialLine* line, uint32_t unit) {
    if (line == line_ && unit == unit_) {
        return;
    }
    Stop();
    line_ = line;
    unit_ = unit;
    if (line != nullptr && unit != 0xFFFFFFFF) {
        Start(*line, unit);
    }
}

void PulsePerSecond::FixSeen(int64_t clockNs, int64_t receiveNs) {
    fixOffsetNs_.store(clockNs - receiveNs);
    fixReceiveNs_.store(receiveNs);
}

bool PulsePerSecond::TakeUnavailableNotice() {
    if (!unavailable_.load() || noticeTaken_) {
        return false;
    }
    noticeTaken_ = true;
    return true;
}

uint32_t PulsePerSecond::Run() {
    for (;;) {
        bool raised = false;
        platform::UnixTime at;
        const uint32_t result = watch_->Wait(raised, at);
        if (result == error::notSupported) {
            unavailable_.store(true);
        }
        if (result != error::success) {
            break;
        }
        if (raised) {
            Edge(at);
        }
    }
    ended_->Set();
    return 0;
}

void PulsePerSecond::Edge(const platform::UnixTime& at) {
    edges_.fetch_add(1);
    const int64_t edgeNs = at.seconds * nsPerSecond + at.nanoseconds;
    const int64_t fixReceive = fixReceiveNs_.load();
    if (fixReceive == 0 || edgeNs - fixReceive > fixAgeMaxNs || edgeNs < fixReceive) {
        return;
    }
    const int64_t receiverNs = edgeNs + fixOffsetNs_.load();
    const int64_t second = (receiverNs + nsPerSecond / 2) / nsPerSecond;
    const int64_t off = receiverNs - second * nsPerSecond;
    if (off > edgeSlackNs || off < -edgeSlackNs) {
        return;
    }
    platform::TimeSample sample;
    sample.clock = {second, 0};
    sample.receive = at;
    sample.precision = ppsPrecision;
    sample.samples = 3;
    segment_->Write(sample);
    samples_.fetch_add(1);
}

} // namespace tavro
