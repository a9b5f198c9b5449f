// POSIX shared memory that disappears with its last user, as a Windows file mapping does.
//
// Every attached process holds a read lock on byte 0 of the object (an open-file-description
// lock, so it is released even when the process dies). A detaching process that can upgrade
// its lock to a write lock is the last user and unlinks the object. Byte 1 is a short-lived
// gate that serialises attach and detach, so nobody can attach between that test and the
// unlink; an attacher that still finds an unlinked object (no links left) simply retries.
//
// Any process of the same user may shrink the object (ftruncate) under its users; touching a
// mapped page past the new end then raises SIGBUS, which would end the hub. Every mapping
// made here is guarded: a SIGBUS inside one gives the object its size back and maps it again
// at the same address, so the access that faulted succeeds and every pointer into the block
// stays valid. What the object held is lost with the truncation (the block reads as zeros
// until its writers fill it again); where the size cannot be given back, private memory
// stands in, so the process goes on with a block nobody else sees.
#include "platform/SharedMemory.h"

#include "common/GpsSharedStatus.h"
#include "platform/ErrorCodes.h"
#include "platform/posix/SharedMemoryName.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavro::platform {
namespace {

constexpr off_t livenessByte = 0;
constexpr off_t gateByte = 1;
constexpr int attachAttempts = 100;

struct PosixMapping {
    int fd = -1;
    char name[posix::sharedMemoryNameCapacity] = {};
};

// The mappings a SIGBUS may be repaired in. The handler reads the table at any time, so its
// entries are atomics, and an entry is filled completely before its address is published.
struct GuardedMapping {
    std::atomic<uintptr_t> address{0};
    std::atomic<size_t> size{0};
    std::atomic<int> fd{-1};
};
static_assert(std::atomic<uintptr_t>::is_always_lock_free &&
                  std::atomic<size_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the SIGBUS handler reads these: only lock-free atomics are safe there");
constexpr size_t guardCapacity = 8;
GuardedMapping guarded[guardCapacity];
struct sigaction previousBusAction {};

// The interrupted code's errno, given back when the handler returns: a failed call in here
// must not change what the code it interrupted sees.
struct ErrnoKept {
    const int saved = errno;
    ~ErrnoKept() { errno = saved; }
};

// Only async-signal-safe calls: lock-free atomics, ftruncate, sigaction, and mmap (not on
// POSIX's list, but a plain system call on Linux, which this edition runs on).
void OnBusError(int signal, siginfo_t* info, void* context) {
    const ErrnoKept kept;
    const auto fault = reinterpret_cast<uintptr_t>(info->si_addr);
    for (GuardedMapping& entry : guarded) {
        const uintptr_t address = entry.address.load();
        const size_t size = entry.size.load();
        if (address == 0 || fault < address || fault - address >= size) {
            continue;
        }
        void* start = reinterpret_cast<void*>(address);
        const int fd = entry.fd.load();
        if (fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0 &&
            mmap(start, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) == start) {
            return; // the faulting access runs again, on the restored object
        }
        entry.fd.store(-1);
        if (mmap(start, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                 0) == MAP_FAILED) {
            // Nothing can stand in for the block: end as an unguarded access would, rather
            // than fault here for ever.
            entry.address.store(0);
            struct sigaction fallback {};
            fallback.sa_handler = SIG_DFL;
            sigaction(SIGBUS, &fallback, nullptr);
        }
        return;
    }
    // Not ours: whatever the program did before, or the default (the process ends).
    if ((previousBusAction.sa_flags & SA_SIGINFO) != 0 && previousBusAction.sa_sigaction) {
        previousBusAction.sa_sigaction(signal, info, context);
        return;
    }
    if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN &&
        previousBusAction.sa_handler != nullptr) {
        previousBusAction.sa_handler(signal);
        return;
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(SIGBUS, &fallback, nullptr);
}

void Guard(void* data, size_t size, int fd) {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGBUS, &action, &previousBusAction) == 0;
    }();
    if (!installed) {
        return;
    }
    for (GuardedMapping& entry : guarded) {
        uintptr_t expected = 0;
        if (entry.address.load() == 0) {
            entry.size.store(size);
            entry.fd.store(fd);
            if (entry.address.compare_exchange_strong(expected,
                                                      reinterpret_cast<uintptr_t>(data))) {
                return;
            }
        }
    }
}

void Unguard(void* data) {
    for (GuardedMapping& entry : guarded) {
        if (entry.address.load() == reinterpret_cast<uintptr_t>(data)) {
            entry.address.store(0);
            entry.fd.store(-1);
        }
    }
}

bool LockByte(int fd, off_t byte, short type, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

uint32_t ErrorFromErrno(int code) {
    switch (code) {
    case ENOENT:
        return error::fileNotFound;
    case EACCES:
    case EPERM:
        return error::accessDenied;
    case ENAMETOOLONG:
    case EINVAL:
        return error::invalidParameter;
    case ENOMEM:
    case ENOSPC:
        return error::notEnoughMemory;
    default:
        return error::invalidHandle;
    }
}

class PosixSharedMemory final : public SharedMemory {
public:
    uint32_t CreateOrOpen(const char* name, uint32_t size, SharedView& view) override {
        return Attach(name, true, size, view);
    }

    uint32_t Open(const char* name, SharedView& view) override {
        return Attach(name, false, 0, view);
    }

    uint32_t Restore(SharedView& view, bool& restored) override {
        restored = false;
        auto* mapping = reinterpret_cast<PosixMapping*>(view.handle);
        struct stat info {};
        if (mapping == nullptr || view.data == nullptr || fstat(mapping->fd, &info) != 0 ||
            info.st_nlink > 0) {
            return error::success;
        }
        const int fd = shm_open(mapping->name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            return errno == EEXIST ? error::alreadyExists : ErrorFromErrno(errno);
        }
        // The contents first, from the old object (still mapped), then the view moves over.
        uint32_t result = error::success;
        if (ftruncate(fd, static_cast<off_t>(view.size)) != 0 ||
            pwrite(fd, view.data, view.size, 0) != static_cast<ssize_t>(view.size) ||
            !LockByte(fd, livenessByte, F_RDLCK, true)) {
            result = ErrorFromErrno(errno);
        } else if (mmap(view.data, view.size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd,
                        0) != view.data) {
            result = ErrorFromErrno(errno);
            // Whatever is left at the address must stay usable: the old object, mapped again.
            mmap(view.data, view.size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, mapping->fd,
                 0);
        }
        if (result != error::success) {
            shm_unlink(mapping->name);
            close(fd);
            return result;
        }
        for (GuardedMapping& entry : guarded) {
            if (entry.address.load() == reinterpret_cast<uintptr_t>(view.data)) {
                entry.fd.store(fd);
            }
        }
        close(mapping->fd); // the old object goes with its last mapping
        mapping->fd = fd;
        restored = true;
        return error::success;
    }

    void Close(SharedView& view) override {
        auto* mapping = reinterpret_cast<PosixMapping*>(view.handle);
        if (mapping == nullptr) {
            view = SharedView{};
            return;
        }
        if (view.data != nullptr) {
            Unguard(view.data);
            munmap(view.data, view.size);
        }
        if (LockByte(mapping->fd, gateByte, F_WRLCK, true)) {
            if (LockByte(mapping->fd, livenessByte, F_WRLCK, false)) {
                shm_unlink(mapping->name);
            }
        }
        close(mapping->fd); // releases both locks
        delete mapping;
        view = SharedView{};
    }

private:
    static uint32_t Attach(const char* name, bool create, uint32_t size, SharedView& view) {
        view = SharedView{};
        auto* mapping = new (std::nothrow) PosixMapping;
        if (mapping == nullptr) {
            return error::notEnoughMemory;
        }
        if (name == nullptr || !posix::SharedMemoryName(name, mapping->name) ||
            (create && size == 0)) {
            delete mapping;
            return error::invalidParameter;
        }
        uint32_t result = error::invalidHandle;
        for (int attempt = 0; attempt < attachAttempts; ++attempt) {
            const int fd = shm_open(mapping->name, O_RDWR | (create ? O_CREAT : 0), 0600);
            if (fd < 0) {
                result = ErrorFromErrno(errno);
                break;
            }
            bool retry = false;
            result = AttachOpenObject(fd, mapping->name, create, size, view, retry);
            if (result == error::success || result == error::alreadyExists) {
                mapping->fd = fd;
                view.handle = reinterpret_cast<intptr_t>(mapping);
                Guard(view.data, view.size, fd);
                return create ? result : error::success;
            }
            close(fd);
            if (!retry) {
                break;
            }
        }
        delete mapping;
        view = SharedView{};
        return result;
    }

    // Runs with the gate held; leaves the caller's liveness lock in place on success.
    static uint32_t AttachOpenObject(int fd, const char* name, bool create, uint32_t size,
                                     SharedView& view, bool& retry) {
        if (!LockByte(fd, gateByte, F_WRLCK, true)) {
            return ErrorFromErrno(errno);
        }
        uint32_t result = error::success;
        struct stat info {};
        if (fstat(fd, &info) != 0) {
            result = ErrorFromErrno(errno);
        } else if (info.st_nlink == 0) {
            // The last user unlinked it between our open and our lock.
            retry = true;
            result = error::fileNotFound;
        } else if (info.st_size == 0) {
            // Only a creator that died before sizing it leaves an empty object behind.
            if (!create) {
                result = error::fileNotFound;
            } else if (ftruncate(fd, size) != 0) {
                result = ErrorFromErrno(errno);
            }
        } else {
            // Nobody alive holds an object whose liveness byte we can lock for writing: a killed
            // process left it behind. Windows frees a mapping when a dying process's handle
            // closes, so it counts as gone: a reader does not find it, a creator starts afresh
            // (the write lock becomes our read lock below).
            const bool abandoned = LockByte(fd, livenessByte, F_WRLCK, false);
            result = error::alreadyExists;
            if (!create) {
                if (abandoned) {
                    shm_unlink(name);
                    result = error::fileNotFound;
                } else {
                    size = static_cast<uint32_t>(info.st_size);
                }
            } else if (abandoned) {
                result = ftruncate(fd, 0) == 0 && ftruncate(fd, size) == 0 ? error::success
                                                                           : ErrorFromErrno(errno);
            } else if (static_cast<uint64_t>(info.st_size) < size) {
                result = error::invalidParameter;
            }
        }
        if (result == error::success || result == error::alreadyExists) {
            void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (data == MAP_FAILED) {
                result = ErrorFromErrno(errno);
            } else if (!LockByte(fd, livenessByte, F_RDLCK, true)) {
                result = ErrorFromErrno(errno);
                munmap(data, size);
            } else {
                view.data = data;
                view.size = size;
            }
        }
        struct flock unlock {};
        unlock.l_type = F_UNLCK;
        unlock.l_whence = SEEK_SET;
        unlock.l_start = gateByte;
        unlock.l_len = 1;
        fcntl(fd, F_OFD_SETLK, &unlock);
        return result;
    }
};

} // namespace

SharedMemory& SystemSharedMemory() {
    static PosixSharedMemory instance;
    return instance;
}

} // namespace tavro::platform
