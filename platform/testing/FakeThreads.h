// Threads and events for tests, deterministic: a started body runs on the test's own thread,
// at once (Start::Inline) or when the test calls RunDeferred (Start::Deferred), and a wait on an
// event returns at once, telling whether the event was set. No time passes unless the test's
// OnWait hook moves a fake clock or changes what a device delivers, so code that waits 13 times
// 100 ms runs in microseconds and always the same way.
//
// Everything happens on one thread; the events must not outlive the FakeThreads that made
// them. For tests of real concurrency use the system adapter (SystemThreads).
#pragma once

#include "platform/Threads.h"

#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace tavro::platform::testing {

class FakeThreads final : public Threads {
public:
    enum class Start : uint8_t {
        Inline,   // StartThread runs the body before it returns
        Deferred, // StartThread queues the body; RunDeferred runs the queue
    };

    explicit FakeThreads(Start start = Start::Inline) : start_(start) {}

    bool StartThread(ThreadBody& body, uint32_t stackSize) override;
    std::unique_ptr<Event> NewEvent() override;

    // Runs the queued bodies, oldest first (bodies queued meanwhile included); returns how many
    // ran.
    size_t RunDeferred();

    // StartThread call number `call` (the first is 1) fails, as CreateThread does without
    // memory for another stack.
    void FailStart(uint32_t call) { failingStarts_.insert(call); }
    // NewEvent returns null while set.
    void FailEvents(bool fail) { failEvents_ = fail; }
    // Called at every wait on an event of this object, before the wait returns, with the
    // wait's number (the first is 1) and its length.
    void OnWait(std::function<void(uint32_t waitNumber, uint32_t milliseconds)> hook) {
        onWait_ = std::move(hook);
    }

    uint32_t StartCalls() const { return startCalls_; }
    // Stack sizes asked for by the calls that succeeded.
    const std::vector<uint32_t>& StackSizes() const { return stackSizes_; }
    size_t Pending() const { return deferred_.size(); }
    uint32_t Waits() const { return waits_; }
    uint64_t WaitedMilliseconds() const { return waitedMs_; }
    uint32_t EventsMade() const { return eventsMade_; }
    // Events made and not yet destroyed.
    uint32_t EventsAlive() const { return eventsAlive_; }

private:
    class FakeEvent;

    void Waited(uint32_t milliseconds);

    Start start_;
    std::vector<ThreadBody*> deferred_;
    std::set<uint32_t> failingStarts_;
    bool failEvents_ = false;
    std::function<void(uint32_t, uint32_t)> onWait_;
    uint32_t startCalls_ = 0;
    std::vector<uint32_t> stackSizes_;
    uint32_t waits_ = 0;
    uint64_t waitedMs_ = 0;
    uint32_t eventsMade_ = 0;
    uint32_t eventsAlive_ = 0;
};

} // namespace tavro::platform::testing
