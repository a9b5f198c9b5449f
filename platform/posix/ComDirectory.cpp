#include "platform/posix/ComDirectory.h"

#include "platform/ErrorCodes.h"
#include "platform/posix/PosixErrors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavro::platform::posix {
namespace {

constexpr char linkPrefix[] = "COM";

bool Fits(int written, size_t capacity) {
    return written > 0 && static_cast<size_t>(written) < capacity;
}

// mkdir -p for the directory itself and its parents.
uint32_t MakeDirectories(const char* path) {
    char partial[comPathCapacity];
    const size_t length = std::strlen(path);
    if (length == 0 || length >= sizeof partial) {
        return error::badPathName;
    }
    std::memcpy(partial, path, length + 1);
    for (size_t i = 1; i <= length; ++i) {
        if (partial[i] != '/' && partial[i] != '\0') {
            continue;
        }
        const char saved = partial[i];
        partial[i] = '\0';
        if (mkdir(partial, 0700) != 0 && errno != EEXIST) {
            return ErrorFromErrno(errno);
        }
        partial[i] = saved;
    }
    struct stat info {};
    if (stat(path, &info) != 0) {
        return ErrorFromErrno(errno);
    }
    return S_ISDIR(info.st_mode) ? error::success : error::pathNotFound;
}

} // namespace

ComDirectory ComDirectory::FromEnvironment() {
    char path[comPathCapacity] = {};
    bool tmpFallback = false;
    const char* devDir = std::getenv("TAVRO_DEVDIR");
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    int written = 0;
    if (devDir != nullptr && devDir[0] != '\0') {
        written = std::snprintf(path, sizeof path, "%s", devDir);
    } else if (runtimeDir != nullptr && runtimeDir[0] == '/') {
        written = std::snprintf(path, sizeof path, "%s/tavro", runtimeDir);
    } else {
        written =
            std::snprintf(path, sizeof path, "/tmp/tavro-%u", static_cast<unsigned>(getuid()));
        tmpFallback = true;
    }
    ComDirectory directory(Fits(written, sizeof path) ? path : "");
    directory.isTmpFallback_ = tmpFallback;
    return directory;
}

ComDirectory::ComDirectory(const char* path) {
    const size_t length = path != nullptr ? std::strlen(path) : 0;
    // Leave room for "/COM4294967295" and a temporary name beside it.
    if (length == 0 || length + 48 >= sizeof path_) {
        return;
    }
    std::memcpy(path_, path, length + 1);
    for (size_t end = length; end > 1 && path_[end - 1] == '/'; --end) {
        path_[end - 1] = '\0';
    }
}

uint32_t ComDirectory::Create() const {
    if (!IsValid()) {
        return error::badPathName;
    }
    const uint32_t result = MakeDirectories(path_);
    if (result != error::success || !isTmpFallback_) {
        return result;
    }
    struct stat info {};
    if (lstat(path_, &info) != 0) {
        return ErrorFromErrno(errno);
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 0022) != 0) {
        return error::accessDenied;
    }
    return error::success;
}

uint32_t ComDirectory::LinkPath(uint32_t comNumber, char (&path)[comPathCapacity]) const {
    path[0] = '\0';
    if (!IsValid()) {
        return error::badPathName;
    }
    const int written = std::snprintf(path, sizeof path, "%s/%s%u", path_, linkPrefix,
                                      static_cast<unsigned>(comNumber));
    return Fits(written, sizeof path) ? error::success : error::badPathName;
}

uint32_t ComDirectory::Resolve(uint32_t comNumber, char (&device)[comPathCapacity],
                               bool& present) const {
    device[0] = '\0';
    present = false;
    char link[comPathCapacity];
    uint32_t result = LinkPath(comNumber, link);
    if (result != error::success) {
        return result;
    }
    char target[comPathCapacity];
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length < 0) {
        return errno == EINVAL ? error::invalidFunction : ErrorFromErrno(errno);
    }
    target[length] = '\0';
    const int written = target[0] == '/'
                            ? std::snprintf(device, sizeof device, "%s", target)
                            : std::snprintf(device, sizeof device, "%s/%s", path_, target);
    if (!Fits(written, sizeof device)) {
        device[0] = '\0';
        return error::badPathName;
    }
    struct stat info {};
    present = stat(link, &info) == 0;
    return error::success;
}

uint32_t ComDirectory::Link(uint32_t comNumber, const char* device) const {
    if (device == nullptr || device[0] == '\0') {
        return error::invalidParameter;
    }
    char absolute[comPathCapacity];
    if (device[0] == '/') {
        if (!Fits(std::snprintf(absolute, sizeof absolute, "%s", device), sizeof absolute)) {
            return error::badPathName;
        }
    } else {
        char cwd[comPathCapacity];
        if (getcwd(cwd, sizeof cwd) == nullptr) {
            return ErrorFromErrno(errno);
        }
        if (!Fits(std::snprintf(absolute, sizeof absolute, "%s/%s", cwd, device),
                  sizeof absolute)) {
            return error::badPathName;
        }
    }
    char link[comPathCapacity];
    uint32_t result = LinkPath(comNumber, link);
    if (result != error::success) {
        return result;
    }
    result = Create();
    if (result != error::success) {
        return result;
    }
    // A fresh name beside the link, then rename over it: rename replaces atomically.
    static std::atomic<unsigned> counter{0};
    char temporary[comPathCapacity];
    if (!Fits(std::snprintf(temporary, sizeof temporary, "%s/.%s%u.%ld.%u", path_, linkPrefix,
                            static_cast<unsigned>(comNumber), static_cast<long>(getpid()),
                            counter.fetch_add(1)),
              sizeof temporary)) {
        return error::badPathName;
    }
    unlink(temporary);
    if (symlink(absolute, temporary) != 0) {
        return ErrorFromErrno(errno);
    }
    if (rename(temporary, link) != 0) {
        const int failure = errno;
        unlink(temporary);
        return ErrorFromErrno(failure);
    }
    return error::success;
}

uint32_t ComDirectory::Remove(uint32_t comNumber) const {
    char link[comPathCapacity];
    const uint32_t result = LinkPath(comNumber, link);
    if (result != error::success) {
        return result;
    }
    return unlink(link) == 0 ? error::success : ErrorFromErrno(errno);
}

uint32_t ComDirectory::RemoveIf(uint32_t comNumber, const char* device) const {
    char current[comPathCapacity];
    bool present = false;
    uint32_t result = Resolve(comNumber, current, present);
    if (result != error::success) {
        return result;
    }
    if (device == nullptr || std::strcmp(current, device) != 0) {
        return error::accessDenied;
    }
    // Not atomic with the test above; a link replaced in between would be lost. Good enough
    // for the tools that use it, which own their numbers by convention.
    return Remove(comNumber);
}

uint32_t ComDirectory::List(SerialPortList& list) const {
    list = SerialPortList{};
    if (!IsValid()) {
        return error::badPathName;
    }
    DIR* directory = opendir(path_);
    if (directory == nullptr) {
        return errno == ENOENT ? error::pathNotFound : ErrorFromErrno(errno);
    }
    while (const dirent* entry = readdir(directory)) {
        if (std::strncmp(entry->d_name, linkPrefix, sizeof linkPrefix - 1) != 0) {
            continue;
        }
        struct stat info {};
        if (fstatat(dirfd(directory), entry->d_name, &info, 0) != 0) {
            continue; // the device behind the link is gone
        }
        if (list.count == SerialPortList::capacity) {
            list.truncated = true;
            break;
        }
        list.comNumbers[list.count++] = AtoiNumber(entry->d_name + sizeof linkPrefix - 1);
    }
    closedir(directory);
    std::sort(list.comNumbers, list.comNumbers + list.count);
    return error::success;
}

} // namespace tavro::platform::posix
