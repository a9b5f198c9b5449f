// Named shared memory, the way Windows file mappings behave: a mapping lives while any
// process has it open and disappears with the last one.
#pragma once

#include <stdint.h>

namespace tavro::platform {

struct SharedView {
    void* data = nullptr;
    uint32_t size = 0;
    intptr_t handle = 0; // adapter-specific; 0 when nothing is open
};

class SharedMemory {
public:
    virtual ~SharedMemory() = default;

    // Creates the mapping, or opens it when it exists, and maps `size` bytes. Returns
    // error::success for a new zero-filled mapping, error::alreadyExists when an existing one
    // was opened (the view is valid in both cases), any other code on failure.
    virtual uint32_t CreateOrOpen(const char* name, uint32_t size, SharedView& view) = 0;

    // Opens an existing mapping and maps all of it. error::fileNotFound when none exists.
    virtual uint32_t Open(const char* name, SharedView& view) = 0;

    // Unmaps and closes; the view is reset. Safe on a view that is not open.
    virtual void Close(SharedView& view) = 0;

    // Gives the mapping its name back where another process removed it while it is in use
    // (POSIX: a cleaner of /dev/shm): a new object of the name takes the contents and the view
    // follows it at the same address, so pointers into it stay valid. `restored` tells whether
    // that was needed. error::alreadyExists when another object has the name by now. Windows
    // names cannot be taken from a mapping in use: nothing to do.
    virtual uint32_t Restore(SharedView& view, bool& restored) {
        static_cast<void>(view);
        restored = false;
        return 0;
    }
};

// The adapter of the edition this program was built for.
SharedMemory& SystemSharedMemory();

} // namespace tavro::platform
