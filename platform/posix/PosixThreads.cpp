// Threads and auto-reset events on pthreads. Events wait on the monotonic clock, so a change
// of the system time (Auto Time Sync sets it) neither stretches nor cuts a wait short.
#include "platform/Threads.h"

#include <errno.h>
#include <limits.h>
#include <new>
#include <pthread.h>
#include <time.h>

namespace tavro::platform {
namespace {

// glibc places a thread's static TLS and its guard page inside the stack it is given and
// refuses sizes below PTHREAD_STACK_MIN (16 KB), and sanitizer builds need far more than the
// search's 8 KB per frame. 64 KB costs only address space: pages are committed when touched.
constexpr size_t smallestStack = 64 * 1024;

class PosixEvent final : public Event {
public:
    PosixEvent() = default;
    ~PosixEvent() override {
        if (ready_) {
            pthread_cond_destroy(&condition_);
            pthread_mutex_destroy(&mutex_);
        }
    }

    bool Init() {
        if (pthread_mutex_init(&mutex_, nullptr) != 0) {
            return false;
        }
        pthread_condattr_t attributes;
        bool made = pthread_condattr_init(&attributes) == 0;
        if (made) {
            made = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
                   pthread_cond_init(&condition_, &attributes) == 0;
            pthread_condattr_destroy(&attributes);
        }
        if (!made) {
            pthread_mutex_destroy(&mutex_);
            return false;
        }
        ready_ = true;
        return true;
    }

    void Set() override {
        pthread_mutex_lock(&mutex_);
        signalled_ = true;
        // One waiter is released; the one that wakes resets the event.
        pthread_cond_signal(&condition_);
        pthread_mutex_unlock(&mutex_);
    }

    bool Wait(uint32_t milliseconds) override {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
        deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        pthread_mutex_lock(&mutex_);
        while (!signalled_) {
            const int result = pthread_cond_timedwait(&condition_, &mutex_, &deadline);
            if (result == ETIMEDOUT) {
                break;
            }
        }
        const bool signalled = signalled_;
        signalled_ = false;
        pthread_mutex_unlock(&mutex_);
        return signalled;
    }

private:
    pthread_mutex_t mutex_{};
    pthread_cond_t condition_{};
    bool signalled_ = false;
    bool ready_ = false;
};

void* ThreadStart(void* argument) {
    static_cast<ThreadBody*>(argument)->Run();
    return nullptr;
}

class PosixThreads final : public Threads {
public:
    bool StartThread(ThreadBody& body, uint32_t stackSize) override {
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) != 0) {
            return false;
        }
        size_t stack = stackSize;
        if (stack < smallestStack) {
            stack = smallestStack;
        }
        pthread_t thread;
        const bool started =
            pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0 &&
            pthread_attr_setstacksize(&attributes, stack) == 0 &&
            pthread_create(&thread, &attributes, ThreadStart, &body) == 0;
        pthread_attr_destroy(&attributes);
        return started;
    }

    std::unique_ptr<Event> NewEvent() override {
        std::unique_ptr<PosixEvent> event(new (std::nothrow) PosixEvent);
        if (event == nullptr || !event->Init()) {
            return nullptr;
        }
        return event;
    }
};

} // namespace

Threads& SystemThreads() {
    static PosixThreads threads;
    return threads;
}

} // namespace tavro::platform
