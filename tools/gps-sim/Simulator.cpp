#include "tools/gps-sim/Simulator.h"

#include "tools/gps-sim/GnssReports.h"
#include "tools/gps-sim/NmeaReports.h"
#include "tools/gps-sim/NmeaSentence.h"

#include <algorithm>
#include <cstring>

namespace tavro::gpssim {
namespace {

constexpr size_t queueCapacity = 64 * 1024;

// Bytes the line carries in `milliseconds` at `baud`.
size_t LineBytes(uint32_t baud, uint32_t milliseconds) {
    return static_cast<size_t>(static_cast<uint64_t>(baud) / 10 * milliseconds / 1000);
}

} // namespace

Simulator::Simulator(const SimulatorSettings& settings, uint64_t nowMs, const Recording* recording)
    : settings_(settings), recording_(recording), scenario_(settings.drive),
      receiver_(settings.baud, settings.fixIntervalMs,
                settings.drive.systems == gpsOnly ? defaultSentenceRates : multiGnssSentenceRates),
      pacer_(settings.baud, nowMs), noise_(settings.seed ^ 0x6E6F697365ull), queue_(queueCapacity) {
    if (recording_ != nullptr) {
        cursor_ = std::make_unique<ReplayCursor>(*recording_);
    }
}

void Simulator::Receive(std::string_view bytes, uint32_t lineBaud) {
    if (bytes.empty()) {
        return;
    }
    if (settings_.garbage && lineBaud != Baud()) {
        events_.push_back(Format("ignored %zu bytes sent at %u baud (receiver at %u)", bytes.size(),
                                 static_cast<unsigned>(lineBaud), static_cast<unsigned>(Baud())));
        return;
    }
    std::vector<MtkReply> replies;
    receiver_.Feed(bytes, replies);
    for (MtkReply& reply : replies) {
        events_.push_back("command $" + reply.command);
        for (size_t i = 0; i < reply.sentences.size(); ++i) {
            const bool last = i + 1 == reply.sentences.size();
            queue_.PushReply(std::move(reply.sentences[i]), last ? reply.switchBaud : 0);
        }
    }
}

void Simulator::QueueFixes(int64_t utcMs) {
    const uint32_t interval = receiver_.FixIntervalMs();
    const int64_t period = interval;
    // Fixes fall on whole multiples of the interval, as a receiver's do; a new interval, a
    // clock stepped back or a long stall starts the schedule afresh.
    if (interval != scheduledIntervalMs_ || utcMs < nextFixMs_ - 2 * period) {
        scheduledIntervalMs_ = interval;
        nextFixMs_ = (utcMs / period + 1) * period;
    }
    if (utcMs < nextFixMs_) {
        return;
    }
    if (utcMs - nextFixMs_ >= period) {
        nextFixMs_ = utcMs / period * period;
    }
    const FixSnapshot fix = scenario_.At(nextFixMs_);
    nextFixMs_ += period;
    const uint32_t systems = settings_.drive.systems;
    std::vector<std::string> sentences =
        systems == gpsOnly ? EpochSentences(fix, receiver_.Rates(), fixIndex_)
                           : GnssEpochSentences(fix, receiver_.Rates(), fixIndex_, systems);
    ++fixIndex_;
    // A receiver whose output outgrows its line drops fixes rather than fall ever further
    // behind.
    if (queue_.Pending() > LineBytes(Baud(), interval)) {
        if (!droppedLast_) {
            events_.push_back(
                Format("output overrun at %u baud: fixes dropped", static_cast<unsigned>(Baud())));
        }
        droppedLast_ = true;
        return;
    }
    droppedLast_ = false;
    for (std::string& sentence : sentences) {
        queue_.PushData(std::move(sentence));
    }
}

void Simulator::QueueRecording() {
    const size_t lowWater = std::max<size_t>(256, LineBytes(Baud(), 250));
    while (queue_.Pending() < lowWater) {
        if (settings_.replayOnce && cursor_->LapDone()) {
            if (!replayEnded_) {
                events_.push_back("the recording was played once: silent from now on");
                replayEnded_ = true;
            }
            break;
        }
        if (!queue_.PushData(cursor_->Next())) {
            break;
        }
    }
}

size_t Simulator::Transmit(uint64_t nowMs, int64_t utcMs, uint32_t lineBaud, uint8_t* out,
                           size_t capacity) {
    if (cursor_ != nullptr) {
        QueueRecording();
    } else {
        QueueFixes(utcMs);
    }
    size_t produced = 0;
    uint8_t chunk[512];
    while (produced < capacity) {
        const size_t allowance = pacer_.Allowance(nowMs);
        const size_t wanted = std::min({allowance, sizeof chunk, capacity - produced});
        if (wanted == 0) {
            break;
        }
        uint32_t switchBaud = 0;
        const size_t taken = queue_.Take(chunk, wanted, switchBaud);
        if (taken == 0) {
            break;
        }
        pacer_.Consume(taken);
        if (!settings_.garbage || lineBaud == Baud()) {
            std::memcpy(out + produced, chunk, taken);
            produced += taken;
        } else {
            produced += noise_.Garble(taken, Baud(), lineBaud, out + produced, capacity - produced);
        }
        if (switchBaud != 0) {
            pacer_.SetBaud(switchBaud, nowMs);
            events_.push_back(Format("now at %u baud", static_cast<unsigned>(switchBaud)));
        }
        if (cursor_ != nullptr) {
            QueueRecording();
        }
    }
    return produced;
}

std::vector<std::string> Simulator::TakeEvents() {
    std::vector<std::string> taken;
    taken.swap(events_);
    return taken;
}

} // namespace tavro::gpssim
