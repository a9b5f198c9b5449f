// Threads and auto-reset events of kernel32. The stack size given to CreateThread is what the
// thread commits at start; the reserve is the program's default.
#include "platform/Threads.h"

#include <new>
#include <windows.h>

namespace tavro::platform {
namespace {

class Win32Event final : public Event {
public:
    explicit Win32Event(HANDLE handle) : handle_(handle) {}
    ~Win32Event() override { CloseHandle(handle_); }

    void Set() override { SetEvent(handle_); }

    bool Wait(uint32_t milliseconds) override {
        return WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0;
    }

private:
    HANDLE handle_;
};

DWORD WINAPI ThreadStart(LPVOID argument) {
    return static_cast<ThreadBody*>(argument)->Run();
}

class Win32Threads final : public Threads {
public:
    bool StartThread(ThreadBody& body, uint32_t stackSize) override {
        HANDLE thread = CreateThread(nullptr, stackSize, ThreadStart, &body, 0, nullptr);
        if (thread == nullptr) {
            return false;
        }
        // Nobody waits for the thread: its handle is not kept.
        CloseHandle(thread);
        return true;
    }

    std::unique_ptr<Event> NewEvent() override {
        // Auto-reset, not signalled, unnamed.
        HANDLE handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (handle == nullptr) {
            return nullptr;
        }
        std::unique_ptr<Event> event(new (std::nothrow) Win32Event(handle));
        if (event == nullptr) {
            CloseHandle(handle);
        }
        return event;
    }
};

} // namespace

Threads& SystemThreads() {
    static Win32Threads threads;
    return threads;
}

} // namespace tavro::platform
