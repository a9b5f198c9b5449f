// The simulated receiver without its line: what it sends and when, and what it does with
// what it is sent. Time comes from the caller (a monotonic clock for the line, UTC for the
// fixes), so tests can run it without waiting.
#pragma once

#include "tools/gps-sim/BytePacer.h"
#include "tools/gps-sim/DriveScenario.h"
#include "tools/gps-sim/LineNoise.h"
#include "tools/gps-sim/MtkReceiver.h"
#include "tools/gps-sim/Recording.h"
#include "tools/gps-sim/TransmitQueue.h"

#include <memory>
#include <stdint.h>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::gpssim {

struct SimulatorSettings {
    uint32_t baud = 4800;
    uint32_t fixIntervalMs = 1000;
    bool garbage = true;     // noise instead of data while the line runs at another speed
    bool replayOnce = false; // a recording is played once, then the receiver says nothing
    uint64_t seed = 1;
    DriveSettings drive;
};

class Simulator {
public:
    // Synthesises the drive; with `recording`, replays that instead (the MTK commands are
    // still answered, but the recording's content does not follow them).
    Simulator(const SimulatorSettings& settings, uint64_t nowMs,
              const Recording* recording = nullptr);

    // Bytes that arrived from the line, heard at `lineBaud`. At a wrong speed (with garbage
    // on) they are noise to the receiver and are ignored.
    void Receive(std::string_view bytes, uint32_t lineBaud);

    // Fills `out` with what the line carries by `nowMs` and returns the count; `utcMs` stamps
    // the fixes that fall due.
    size_t Transmit(uint64_t nowMs, int64_t utcMs, uint32_t lineBaud, uint8_t* out,
                    size_t capacity);

    uint32_t Baud() const { return pacer_.Baud(); }
    // Nothing waits to be sent: the next byte out begins a fix's burst.
    bool Idle() const { return queue_.Pending() == 0; }
    // The line has carried nothing else up to `nowMs`: what follows leaves at the line's rate
    // from now on, not in one write of the credit an idle line gathered.
    void SpendCredit(uint64_t nowMs) { pacer_.Consume(pacer_.Allowance(nowMs)); }
    const MtkReceiver& Receiver() const { return receiver_; }

    // Things worth a line in the log since the last call (commands, speed changes, drops).
    std::vector<std::string> TakeEvents();

private:
    void QueueFixes(int64_t utcMs);
    void QueueRecording();

    SimulatorSettings settings_;
    const Recording* recording_;
    std::unique_ptr<ReplayCursor> cursor_;
    DriveScenario scenario_;
    MtkReceiver receiver_;
    BytePacer pacer_;
    LineNoise noise_;
    TransmitQueue queue_;
    int64_t nextFixMs_ = 0;
    uint32_t scheduledIntervalMs_ = 0;
    uint64_t fixIndex_ = 0;
    bool droppedLast_ = false;
    bool replayEnded_ = false;
    std::vector<std::string> events_;
};

} // namespace tavro::gpssim
