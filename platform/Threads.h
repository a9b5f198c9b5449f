// Threads and events, as the GPS search uses them: short-lived worker threads that nobody joins
// (CreateThread with the handle closed at once) and auto-reset events (CreateEvent with
// bManualReset FALSE). Windows: kernel32. POSIX: pthreads with a condition variable. Tests: a
// deterministic fake that runs the thread bodies when the test says so.
//
// std::thread and std::mutex are missing from the Windows cross builds (win32 thread model),
// hence this interface rather than the standard library.
#pragma once

#include <memory>
#include <stdint.h>

namespace tavro::platform {

// What a started thread runs. The object must stay alive until Run() has returned; Run()'s
// result is the thread's exit code.
class ThreadBody {
public:
    virtual uint32_t Run() = 0;

protected:
    ~ThreadBody() = default;
};

// An auto-reset event, created not signalled. Set releases one waiting thread, or, when nobody
// waits, the next one to wait; every wait that returns true resets it. Both calls may come
// from any thread.
class Event {
public:
    virtual ~Event() = default;

    virtual void Set() = 0;
    // Waits at most `milliseconds`; true when the event was signalled (and is reset again),
    // false when the time passed.
    virtual bool Wait(uint32_t milliseconds) = 0;
};

class Threads {
public:
    virtual ~Threads() = default;

    // Starts body.Run() on a new thread that nobody waits for. `stackSize` is the stack the
    // thread needs at most; an edition whose threads cannot be that small gives the smallest
    // stack it allows above it. False when no thread could be made: Run() will never be called.
    virtual bool StartThread(ThreadBody& body, uint32_t stackSize) = 0;

    // A new auto-reset event, not signalled; null when the system cannot make one.
    virtual std::unique_ptr<Event> NewEvent() = 0;
};

// The adapter of the edition this program was built for.
Threads& SystemThreads();

} // namespace tavro::platform
