// Suspend and resume on Linux: logind's PrepareForSleep signal on the system bus (the address
// in DBUS_SYSTEM_BUS_ADDRESS when set), with a "delay" inhibitor lock taken so that the hub can
// close its input port before the machine sleeps; it lets go of it once it is ready. Without a
// bus or logind nothing arrives; without the lock the signal still arrives, only the system
// does not wait. A build without systemd has no bus: Connect fails (ENOTSUP).
#pragma once

#include <stdint.h>

struct sd_bus;
struct sd_bus_slot;

namespace tavro::platform::posix {

class SleepSignal {
public:
    // What the bus brought.
    class Listener {
    public:
        virtual ~Listener() = default;
        // The machine is about to sleep (true) or has woken (false).
        virtual void PrepareForSleep(bool sleeping) = 0;
    };

    SleepSignal() = default;
    ~SleepSignal();
    SleepSignal(const SleepSignal&) = delete;
    SleepSignal& operator=(const SleepSignal&) = delete;

    // Connects to the system bus and listens; false (with a reason in `errno` terms) when
    // there is none.
    bool Connect(Listener& listener);
    bool Connected() const { return bus_ != nullptr; }

    // The bus connection's descriptor and the poll events it waits for now.
    int Fd() const;
    short Events() const;

    // Handles what the bus has (call when Fd is ready, and now and then for time-outs).
    void Process();

    // Ready for sleep: the delay lock is let go, the system may sleep now.
    void ReleaseDelay();
    // Takes the delay lock again (after waking), asynchronously.
    void TakeDelay();

private:
    friend struct SleepSignalCallbacks; // the bus's callbacks, in the .cpp

    sd_bus* bus_ = nullptr;
    sd_bus_slot* match_ = nullptr;
    sd_bus_slot* inhibitCall_ = nullptr;
    Listener* listener_ = nullptr;
    int delayLock_ = -1;
};

} // namespace tavro::platform::posix
