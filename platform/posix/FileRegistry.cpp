// Reading: the file is read whole when its identity (inode, size, times) differs from the one
// the tree came from. Writing: under an exclusive flock on the folder, the file is read again
// if needed, changed in memory, written to a temporary file in the same folder, flushed, and
// renamed over the old one; readers never see half a file. A file with unreadable lines is
// reported once per version on stderr and copied to "<file>.damaged" as found, because the
// next write keeps only what could be read.
#include "platform/posix/FileRegistry.h"

#include "platform/ErrorCodes.h"
#include "platform/RegistryText.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavro::platform {
namespace {

constexpr const char* fileNames[registryRootCount] = {"current-user.reg", "local-machine.reg"};
constexpr const char* rootNames[registryRootCount] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};

uint32_t ErrorFromErrno(int code) {
    switch (code) {
    case ENOENT:
        return error::fileNotFound;
    case ENOTDIR:
        return error::pathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return error::accessDenied;
    case ENOMEM:
        return error::notEnoughMemory;
    default:
        return error::registryIoFailed;
    }
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Makes `directory` and the folders above it that are missing.
bool MakeDirectory(const std::string& directory) {
    for (size_t slash = directory.find('/', 1); slash != std::string::npos;
         slash = directory.find('/', slash + 1)) {
        const std::string prefix = directory.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat status {};
    if (stat(directory.c_str(), &status) != 0) {
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

// The file a path stands for: a symbolic link is followed, so that a store kept elsewhere
// (a dotfiles folder) is replaced there and the link stays.
std::string TargetOf(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return path;
}

} // namespace

FileRegistry::FileRegistry(std::string directory) : directory_(std::move(directory)) {
    while (directory_.size() > 1 && directory_.back() == '/') {
        directory_.pop_back();
    }
}

FileRegistry::~FileRegistry() {
    Unlock();
}

FileRegistry::FileIdentity FileRegistry::IdentityOf(const struct stat& status) {
    FileIdentity identity;
    identity.exists = true;
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    identity.size = static_cast<uint64_t>(status.st_size);
    identity.modifiedSeconds = status.st_mtim.tv_sec;
    identity.modifiedNanoseconds = status.st_mtim.tv_nsec;
    identity.changedSeconds = status.st_ctim.tv_sec;
    identity.changedNanoseconds = status.st_ctim.tv_nsec;
    return identity;
}

std::string FileRegistry::PathOf(size_t root) const {
    return directory_ + "/" + fileNames[root];
}

std::string FileRegistry::FilePath(RegistryKey root) const {
    return PathOf(root == RegistryKey::localMachine ? 1 : 0);
}

void FileRegistry::Report(size_t root, const std::string& problem) {
    if (problem != reported_[root]) {
        std::fprintf(stderr, "tavro: %s\n", problem.c_str());
        reported_[root] = problem;
        ++problemCount_;
    }
}

RegistryTree* FileRegistry::ReadRoot(size_t root, uint32_t& result) {
    result = error::success;
    if (directory_.empty()) {
        result = error::pathNotFound;
        return nullptr;
    }
    const std::string path = PathOf(root);
    FileIdentity current;
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        current = IdentityOf(status);
    } else if (errno != ENOENT) {
        const int failure = errno;
        result = ErrorFromErrno(failure);
        Report(root, failure == ENOTDIR
                         ? directory_ + " is not a folder: the settings in it cannot be read"
                         : path + " cannot be read (" + std::strerror(failure) +
                               "): its settings are not used");
        return nullptr;
    }
    RootFile& file = roots_[root];
    if (file.loaded && file.identity == current) {
        result = file.failure;
        return file.failure == error::success ? &file.tree : nullptr;
    }
    return Load(root, current, result);
}

RegistryTree* FileRegistry::Load(size_t root, const FileIdentity& current, uint32_t& result) {
    RootFile& file = roots_[root];
    const std::string path = PathOf(root);
    file.loaded = false;
    file.failure = error::success;
    file.identity = FileIdentity{};
    file.tree.Clear();

    // Not blocking: a named pipe put where the file belongs must not hang the hub.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            file.loaded = true; // no file yet: an empty root
            reported_[root].clear();
            return &file.tree;
        }
        const int failure = errno;
        // Remembered with the file's identity, so that it is tried again once it changes.
        file.failure = ErrorFromErrno(failure);
        file.identity = current;
        file.loaded = true;
        result = file.failure;
        Report(root, path + " cannot be read (" + std::strerror(failure) +
                         "): its settings are not used");
        return nullptr;
    }
    struct stat status {};
    std::string text;
    const char* problem = nullptr;
    if (fstat(fd, &status) != 0) {
        problem = "cannot be examined";
        file.failure = ErrorFromErrno(errno);
    } else if (!S_ISREG(status.st_mode)) {
        problem = "is not a regular file";
        file.failure = error::registryCorrupt;
    } else if (static_cast<uint64_t>(status.st_size) > maxFileBytes) {
        problem = "is too large to be a registry file";
        file.failure = error::registryCorrupt;
    } else {
        text.resize(static_cast<size_t>(status.st_size));
        size_t have = 0;
        while (have < text.size()) {
            const ssize_t got = read(fd, text.data() + have, text.size() - have);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            have += static_cast<size_t>(got);
        }
        text.resize(have); // a file that shrank while being read is read as far as it went
    }
    close(fd);
    file.identity = IdentityOf(status);
    file.loaded = true;
    if (problem != nullptr) {
        Report(root, path + " " + problem + "; its settings are not used");
        result = file.failure;
        return nullptr;
    }
    reported_[root].clear();

    RegistryTextReport report;
    ParseRegistryText(text, rootNames[root], file.tree, report);
    if (report.unreadableLines != 0) {
        const std::string copy = path + ".damaged";
        const int copyFd =
            open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        const bool copied = copyFd >= 0 && WriteAll(copyFd, text.data(), text.size());
        if (copyFd >= 0) {
            close(copyFd);
        }
        char summary[160];
        std::snprintf(summary, sizeof summary,
                      ": %u unreadable line%s skipped, the first at line %u (%s)",
                      report.unreadableLines, report.unreadableLines == 1 ? "" : "s",
                      report.firstLine, report.firstReason);
        Report(root, path + summary +
                         (copied ? "; the file as found is kept as " + copy : std::string()));
    }
    return &file.tree;
}

RegistryTree* FileRegistry::BeginChange(size_t root, uint32_t& result) {
    if (directory_.empty()) {
        result = error::pathNotFound;
        return nullptr;
    }
    if (!MakeDirectory(directory_)) {
        const int failure = errno;
        result = ErrorFromErrno(failure);
        Report(root, failure == ENOTDIR || failure == EEXIST
                         ? directory_ + " is not a folder: settings cannot be stored in it"
                         : "cannot make the settings folder " + directory_ + " (" +
                               std::strerror(failure) + ")");
        return nullptr;
    }
    lockFd_ = open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lockFd_ < 0) {
        const int failure = errno;
        result = ErrorFromErrno(failure);
        Report(root, "cannot open the settings folder " + directory_ + " (" +
                         std::strerror(failure) + ")");
        return nullptr;
    }
    while (flock(lockFd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            result = ErrorFromErrno(errno);
            Unlock();
            return nullptr;
        }
    }
    RegistryTree* tree = ReadRoot(root, result);
    if (tree == nullptr) {
        Unlock();
    }
    return tree;
}

uint32_t FileRegistry::FinishChange(size_t root, bool changed) {
    uint32_t result = error::success;
    if (changed) {
        result = Write(root);
        if (result != error::success) {
            roots_[root].loaded = false; // what is on disk is the truth again
            Report(root, "cannot store the settings in " + PathOf(root) + " (" +
                             std::strerror(writeErrno_) + ")");
        }
    }
    Unlock();
    return result;
}

uint32_t FileRegistry::Write(size_t root) {
    RootFile& file = roots_[root];
    const std::string text = FormatRegistryText(file.tree, rootNames[root]);
    const std::string path = TargetOf(PathOf(root));
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        writeErrno_ = errno;
        return ErrorFromErrno(writeErrno_);
    }
    struct stat status {};
    writeErrno_ = 0;
    if (!WriteAll(fd, text.data(), text.size()) || fsync(fd) != 0 ||
        rename(temporary.c_str(), path.c_str()) != 0) {
        writeErrno_ = errno;
    } else {
        temporary.clear(); // renamed
        if (fstat(fd, &status) != 0) {
            writeErrno_ = errno;
        }
    }
    if (!temporary.empty()) {
        unlink(temporary.c_str());
    }
    close(fd);
    if (writeErrno_ != 0) {
        return ErrorFromErrno(writeErrno_);
    }
    // The rename itself must survive a crash too.
    if (lockFd_ >= 0) {
        fsync(lockFd_);
    }
    file.identity = IdentityOf(status);
    file.failure = error::success;
    file.loaded = true;
    return error::success;
}

void FileRegistry::Unlock() {
    if (lockFd_ >= 0) {
        close(lockFd_); // releases the flock
        lockFd_ = -1;
    }
}

bool DefaultRegistryDirectory(std::string& directory) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        directory = std::string(config) + "/tavro";
        return true;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        directory = std::string(home) + "/.config/tavro";
        return true;
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        directory = std::string(found->pw_dir) + "/.config/tavro";
        return true;
    }
    return false;
}

FileRegistry& SystemFileRegistry() {
    static FileRegistry instance([] {
        std::string directory;
        return DefaultRegistryDirectory(directory) ? directory : std::string();
    }());
    return instance;
}

Registry& SystemRegistry() {
    return SystemFileRegistry();
}

} // namespace tavro::platform
