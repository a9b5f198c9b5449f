#include "platform/EventWait.h"

#include <windows.h>

namespace tavro::platform {
namespace {

volatile LONG stopRequested = 0;

BOOL WINAPI OnConsoleEvent(DWORD) {
    InterlockedExchange(&stopRequested, 1);
    return TRUE; // the loop ends the program within its next wait
}

} // namespace

void WaitForAny(const WaitEntry* entries, uint32_t count, uint32_t timeoutMs) {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    DWORD used = 0;
    for (uint32_t i = 0; i < count && used < MAXIMUM_WAIT_OBJECTS; ++i) {
        if (entries[i].object != noWaitObject) {
            handles[used++] = reinterpret_cast<HANDLE>(entries[i].object);
        }
    }
    if (used == 0) {
        Sleep(timeoutMs);
        return;
    }
    WaitForMultipleObjects(used, handles, FALSE, timeoutMs);
}

void CatchStopRequests() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StopRequested() {
    return InterlockedCompareExchange(&stopRequested, 0, 0) != 0;
}

} // namespace tavro::platform
