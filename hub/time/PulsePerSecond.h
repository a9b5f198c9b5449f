// The receiver's pulse-per-second ("PPS"): a thread of its own waits for the carrier-detect
// line of the input port, stamps each assert edge on the system clock as the wait returns, and
// writes it to the time export's unit + 1 as the top of the second the last fix places it in:
// the fix's time plus what the system clock moved since its arrival, rounded to the second.
// An edge is dropped without a fix in the last two seconds, or when it falls further than
// 0.4 s from a whole second (no pulse, but noise on the line). A line that reports no carrier
// changes is said once, "PPS not available on this port", and not watched.
//
// Start, Stop and FixSeen belong to the hub's main thread; the counts may be read from it at
// any time.
#pragma once

#include "hub/time/PulseSource.h"
#include "platform/Threads.h"
#include "platform/TimeService.h"

#include <atomic>
#include <memory>
#include <stdint.h>

namespace tavro {

// A pulse taken through a serial driver's interrupt and a thread's wake-up is good to some
// tens of microseconds: 2^-15 s.
inline constexpr int32_t ppsPrecision = -15;

class PulsePerSecond final : public PulseSource, private platform::ThreadBody {
public:
    PulsePerSecond(platform::Threads* threads, platform::TimeService* service)
        : threads_(threads), service_(service) {}
    ~PulsePerSecond() override { Stop(); }

    // Watches `line` and writes to `unit` (the time export's + 1). Stops a watch that runs.
    // False when there is nothing to watch (the line has no carrier changes: Unavailable),
    // no segment, or no thread.
    bool Start(SerialLine& line, uint32_t unit);
    // Ends the watch and waits for its thread. Safe when none runs.
    void Stop();
    void Follow(SerialLine* line, uint32_t unit) override;
    bool Running() const { return watch_ != nullptr; }

    // A fix's time (ns since 1970, UTC) and the system clock at its arrival.
    void FixSeen(int64_t clockNs, int64_t receiveNs) override;

    uint64_t Edges() const override { return edges_.load(); } // assert edges seen
    uint64_t Samples() const { return samples_.load(); }      // written as the top of a second
    bool Unavailable() const override { return unavailable_.load(); }
    // True once, the first time the line was found without carrier changes.
    bool TakeUnavailableNotice() override;

private:
    uint32_t Run() override;
    void Edge(const platform::UnixTime& at);

    platform::Threads* threads_;
    platform::TimeService* service_;
    SerialLine* line_ = nullptr; // what Follow last saw
    uint32_t unit_ = 0xFFFFFFFF;
    std::unique_ptr<platform::CarrierWatch> watch_;
    std::unique_ptr<platform::TimeSegment> segment_;
    std::unique_ptr<platform::Event> ended_;
    // The last fix, as the offset of the receiver's time from the system clock and when it
    // came; written by the main thread, read by the watch's.
    std::atomic<int64_t> fixOffsetNs_{0};
    std::atomic<int64_t> fixReceiveNs_{0};
    std::atomic<uint64_t> edges_{0};
    std::atomic<uint64_t> samples_{0};
    std::atomic<bool> unavailable_{false};
    bool noticeTaken_ = false;
};

} // namespace tavro
