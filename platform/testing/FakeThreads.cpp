#include "platform/testing/FakeThreads.h"

namespace tavro::platform::testing {

class FakeThreads::FakeEvent final : public Event {
public:
    explicit FakeEvent(FakeThreads& owner) : owner_(owner) { ++owner_.eventsAlive_; }
    ~FakeEvent() override { --owner_.eventsAlive_; }

    void Set() override { signalled_ = true; }

    bool Wait(uint32_t milliseconds) override {
        // The hook may set the event (another "thread" found something meanwhile).
        owner_.Waited(milliseconds);
        const bool signalled = signalled_;
        signalled_ = false;
        return signalled;
    }

private:
    FakeThreads& owner_;
    bool signalled_ = false;
};

bool FakeThreads::StartThread(ThreadBody& body, uint32_t stackSize) {
    ++startCalls_;
    if (failingStarts_.count(startCalls_) != 0) {
        return false;
    }
    stackSizes_.push_back(stackSize);
    if (start_ == Start::Inline) {
        body.Run();
    } else {
        deferred_.push_back(&body);
    }
    return true;
}

std::unique_ptr<Event> FakeThreads::NewEvent() {
    if (failEvents_) {
        return nullptr;
    }
    ++eventsMade_;
    return std::make_unique<FakeEvent>(*this);
}

size_t FakeThreads::RunDeferred() {
    size_t ran = 0;
    while (!deferred_.empty()) {
        ThreadBody* body = deferred_.front();
        deferred_.erase(deferred_.begin());
        body->Run();
        ++ran;
    }
    return ran;
}

void FakeThreads::Waited(uint32_t milliseconds) {
    ++waits_;
    waitedMs_ += milliseconds;
    if (onWait_) {
        onWait_(waits_, milliseconds);
    }
}

} // namespace tavro::platform::testing
