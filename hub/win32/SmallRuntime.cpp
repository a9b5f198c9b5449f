// The few C++ run-time entry points the hub's code reaches, without exceptions. The hub never
// throws, yet the library's versions of these pull in the whole exception and demangling
// machinery (more than half of the program image). Here an allocation that fails or an index
// out of range ends the process at once, which is what an uncaught exception would do.
#include <new>
#include <stdlib.h>
#include <windows.h>

void* operator new(size_t size) {
    void* memory = malloc(size != 0 ? size : 1);
    if (memory == nullptr) {
        abort();
    }
    return memory;
}

void* operator new[](size_t size) {
    return operator new(size);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return malloc(size != 0 ? size : 1);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return malloc(size != 0 ? size : 1);
}

void operator delete(void* memory) noexcept {
    free(memory);
}

void operator delete[](void* memory) noexcept {
    free(memory);
}

void operator delete(void* memory, size_t) noexcept {
    free(memory);
}

void operator delete[](void* memory, size_t) noexcept {
    free(memory);
}

namespace std {

// Reached only through a bounds check that the hub's code never fails.
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) {
    abort();
}

} // namespace std

// Function-local statics: the first caller initialises, others wait. Byte 0 of the guard is
// the "done" flag the compiler tests inline; the word at byte 4 is the lock.
namespace {

volatile LONG* GuardLock(void* guard) {
    return reinterpret_cast<volatile LONG*>(static_cast<char*>(guard) + 4);
}

bool GuardDone(void* guard) {
    return __atomic_load_n(static_cast<char*>(guard), __ATOMIC_ACQUIRE) != 0;
}

} // namespace

extern "C" int __cxa_guard_acquire(void* guard) {
    while (!GuardDone(guard)) {
        if (InterlockedCompareExchange(GuardLock(guard), 1, 0) == 0) {
            if (GuardDone(guard)) {
                InterlockedExchange(GuardLock(guard), 0);
                return 0;
            }
            return 1; // this thread initialises
        }
        Sleep(0);
    }
    return 0;
}

extern "C" void __cxa_guard_release(void* guard) {
    __atomic_store_n(static_cast<char*>(guard), 1, __ATOMIC_RELEASE);
    InterlockedExchange(GuardLock(guard), 0);
}

extern "C" void __cxa_guard_abort(void* guard) {
    InterlockedExchange(GuardLock(guard), 0);
}
