#include "platform/systemd/SleepSignal.h"

#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace tavro::platform::posix {
namespace {

constexpr char logind[] = "org.freedesktop.login1";
constexpr char managerPath[] = "/org/freedesktop/login1";
constexpr char managerInterface[] = "org.freedesktop.login1.Manager";

} // namespace

struct SleepSignalCallbacks {
    static int OnSignal(sd_bus_message* message, void* self, sd_bus_error*) {
        auto* signal = static_cast<SleepSignal*>(self);
        int sleeping = 0;
        if (sd_bus_message_read(message, "b", &sleeping) > 0 && signal->listener_ != nullptr) {
            signal->listener_->PrepareForSleep(sleeping != 0);
        }
        return 0;
    }

    static int OnInhibit(sd_bus_message* message, void* self, sd_bus_error*) {
        auto* signal = static_cast<SleepSignal*>(self);
        signal->inhibitCall_ = sd_bus_slot_unref(signal->inhibitCall_);
        int fd = -1;
        if (sd_bus_message_is_method_error(message, nullptr) == 0 &&
            sd_bus_message_read(message, "h", &fd) > 0 && fd >= 0) {
            // The message owns its descriptor: keep a copy of our own.
            signal->delayLock_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        }
        return 0;
    }
};

SleepSignal::~SleepSignal() {
    ReleaseDelay();
    sd_bus_slot_unref(inhibitCall_);
    sd_bus_slot_unref(match_);
    sd_bus_flush_close_unref(bus_);
}

bool SleepSignal::Connect(Listener& listener) {
    listener_ = &listener;
    if (sd_bus_open_system(&bus_) < 0) {
        bus_ = nullptr;
        return false;
    }
    if (sd_bus_match_signal(bus_, &match_, logind, managerPath, managerInterface, "PrepareForSleep",
                            &SleepSignalCallbacks::OnSignal, this) < 0) {
        sd_bus_flush_close_unref(bus_);
        bus_ = nullptr;
        return false;
    }
    TakeDelay();
    return true;
}

int SleepSignal::Fd() const {
    return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1;
}

short SleepSignal::Events() const {
    if (bus_ == nullptr) {
        return 0;
    }
    const int events = sd_bus_get_events(bus_);
    return static_cast<short>(events > 0 ? events : POLLIN);
}

void SleepSignal::Process() {
    if (bus_ == nullptr) {
        return;
    }
    // Bounded: a bus that keeps delivering must not hold the loop.
    for (int round = 0; round < 64 && sd_bus_process(bus_, nullptr) > 0; ++round) {
    }
}

void SleepSignal::ReleaseDelay() {
    if (delayLock_ >= 0) {
        close(delayLock_);
        delayLock_ = -1;
    }
}

void SleepSignal::TakeDelay() {
    if (bus_ == nullptr || delayLock_ >= 0 || inhibitCall_ != nullptr) {
        return;
    }
    // Asynchronous: logind may be slow, and the loop must not wait for it.
    sd_bus_call_method_async(bus_, &inhibitCall_, logind, managerPath, managerInterface, "Inhibit",
                             &SleepSignalCallbacks::OnInhibit, this, "ssss", "sleep", "tavro",
                             "closing the GPS receiver's port", "delay");
}

} // namespace tavro::platform::posix
