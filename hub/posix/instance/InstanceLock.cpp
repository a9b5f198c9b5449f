#include "hub/posix/instance/InstanceLock.h"

#include "platform/ErrorCodes.h"
#include "platform/posix/PosixErrors.h"
#include "platform/posix/SharedMemoryName.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavro::platform::posix {
namespace {

constexpr char blockLockSuffix[] = ".hub";

// A write lock on the whole file, not waited for.
bool LockWhole(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    for (;;) {
        if (fcntl(fd, F_OFD_SETLK, &lock) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

bool LockedByOther(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

bool BlockLockName(const char* blockName, char (&name)[sharedMemoryNameCapacity]) {
    char base[sharedMemoryNameCapacity];
    if (!SharedMemoryName(blockName, base)) {
        return false;
    }
    const int written = std::snprintf(name, sizeof name, "%s%s", base, blockLockSuffix);
    return written > 0 && written < static_cast<int>(sizeof name);
}

void CloseIfOpen(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

} // namespace

InstanceLock::~InstanceLock() {
    Release();
}

uint32_t InstanceLock::Acquire(const ComDirectory& directory, const char* blockName) {
    Release();
    directory_ = directory;
    std::snprintf(holder_, sizeof holder_, "%s", directory.Path());
    if (!directory_.IsValid()) {
        return error::badPathName;
    }
    // The block name first: its holder knows where it serves, so a second start of the same
    // hub learns where to hand over even while the directory is being made again.
    std::snprintf(blockName_, sizeof blockName_, "%s", blockName != nullptr ? blockName : "");
    uint32_t result = LockBlockName(blockName);
    if (result == error::success) {
        result = LockDirectory();
    }
    if (result != error::success) {
        CloseIfOpen(directoryFd_);
        CloseIfOpen(nameFd_);
        return result;
    }
    WriteHolder();
    return error::success;
}

void InstanceLock::WriteHolder() {
    if (nameFd_ >= 0) {
        char text[comPathCapacity + 32];
        const int length = std::snprintf(text, sizeof text, "%ld %s\n", static_cast<long>(getpid()),
                                         directory_.Path());
        if (length > 0 && length < static_cast<int>(sizeof text) && ftruncate(nameFd_, 0) == 0 &&
            pwrite(nameFd_, text, static_cast<size_t>(length), 0) == length) {
            // Readers find the directory; without it they try their own.
        }
    }
}

uint32_t InstanceLock::KeepBlockName(bool& restored) {
    restored = false;
    struct stat info {};
    if (nameFd_ < 0 || fstat(nameFd_, &info) != 0 || info.st_nlink > 0) {
        return error::success;
    }
    const int removed = nameFd_;
    nameFd_ = -1;
    const uint32_t result = LockBlockName(blockName_);
    if (result != error::success || nameFd_ < 0) {
        nameFd_ = removed; // kept: it still holds nothing anyone can find, and is checked again
        return result;
    }
    close(removed);
    WriteHolder();
    restored = true;
    return error::success;
}

uint32_t InstanceLock::LockBlockName(const char* blockName) {
    char name[sharedMemoryNameCapacity];
    if (!BlockLockName(blockName, name)) {
        return error::invalidParameter;
    }
    const int fd = shm_open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // No shared memory here, or another user's hub uses the name (its block is closed to
        // us too, so the hub runs on a private one): the directory's lock alone decides.
        return errno == EACCES || errno == ENOENT || errno == ENOSYS ? error::success
                                                                     : ErrorFromErrno(errno);
    }
    if (LockWhole(fd)) {
        nameFd_ = fd;
        return error::success;
    }
    const int failure = errno;
    if (failure == EAGAIN || failure == EACCES) {
        char text[comPathCapacity + 32] = {};
        const ssize_t length = pread(fd, text, sizeof text - 1, 0);
        long pid = 0;
        char path[comPathCapacity] = {};
        if (length > 0 && std::sscanf(text, "%ld %511[^\n]", &pid, path) == 2 && path[0] == '/') {
            std::snprintf(holder_, sizeof holder_, "%s", path);
        }
        close(fd);
        return error::alreadyExists;
    }
    close(fd);
    return ErrorFromErrno(failure);
}

uint32_t InstanceLock::LockDirectory() {
    uint32_t result = directory_.Create();
    if (result != error::success) {
        return result;
    }
    char path[comPathCapacity];
    if (std::snprintf(path, sizeof path, "%s/%s", directory_.Path(), hubLockName) >=
        static_cast<int>(sizeof path)) {
        return error::badPathName;
    }
    const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return ErrorFromErrno(errno);
    }
    if (!LockWhole(fd)) {
        const int failure = errno;
        close(fd);
        return failure == EAGAIN || failure == EACCES ? error::alreadyExists
                                                      : ErrorFromErrno(failure);
    }
    directoryFd_ = fd;
    return error::success;
}

bool InstanceLock::DirectoryLockIntact() const {
    struct stat info {};
    return directoryFd_ >= 0 && fstat(directoryFd_, &info) == 0 && info.st_nlink > 0;
}

uint32_t InstanceLock::Reacquire() {
    if (!directory_.IsValid()) {
        return error::badPathName;
    }
    CloseIfOpen(directoryFd_);
    return LockDirectory();
}

void InstanceLock::Release() {
    CloseIfOpen(directoryFd_);
    if (nameFd_ >= 0) {
        // Emptied, never removed (see the header).
        if (ftruncate(nameFd_, 0) != 0) {
            // A reader then tries its own directory, which is where we were anyway.
        }
        CloseIfOpen(nameFd_);
    }
}

bool InstanceLock::HubHoldsBlockName(const char* blockName) {
    char name[sharedMemoryNameCapacity];
    if (!BlockLockName(blockName, name)) {
        return false;
    }
    const int fd = shm_open(name, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool held = LockedByOther(fd);
    close(fd);
    return held;
}

} // namespace tavro::platform::posix
