// Files on POSIX: mkdir, open, read, write, close, unlink, localtime_r and the program's path,
// with the results put in the Win32 terms of FileSystem.
#include "platform/FileSystem.h"

#include "platform/ErrorCodes.h"
#include "platform/posix/PosixErrors.h"
#include "platform/posix/ProcPaths.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

namespace tavro::platform {
namespace {

// The codes the Win32 file functions give where they differ from the general mapping.
uint32_t FileError(int code) {
    switch (code) {
    case EEXIST:
        return error::fileExists; // CreateFileA with CREATE_NEW
    case ENOSPC:
    case EDQUOT:
        return error::diskFull; // WriteFile
    default:
        return posix::ErrorFromErrno(code);
    }
}

// For calls that create: a missing level of the path, as CreateDirectoryA and CreateFileA say.
uint32_t CreateError(int code) {
    return code == ENOENT ? error::pathNotFound : FileError(code);
}

class PosixFile final : public File {
public:
    PosixFile(int descriptor, bool readable) : descriptor_(descriptor), readable_(readable) {}
    ~PosixFile() override { Close(); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    uint32_t Read(void* bytes, uint32_t length, uint32_t& read) override {
        read = 0;
        if (descriptor_ < 0) {
            return error::invalidHandle;
        }
        if (!readable_) {
            return error::accessDenied;
        }
        // ReadFile on a disk file returns what is there up to `length`; read(2) may stop
        // short, so go on until the request is met or the file ends.
        auto* next = static_cast<uint8_t*>(bytes);
        while (read < length) {
            const ssize_t done = ::read(descriptor_, next + read, length - read);
            if (done < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return FileError(errno);
            }
            if (done == 0) {
                break;
            }
            read += static_cast<uint32_t>(done);
        }
        return error::success;
    }

    uint32_t Write(const void* bytes, uint32_t length, uint32_t& written) override {
        written = 0;
        if (descriptor_ < 0) {
            return error::invalidHandle;
        }
        if (readable_) {
            return error::accessDenied;
        }
        // WriteFile on a disk file writes everything or fails; write(2) may stop short (a
        // signal, a nearly full disk), so go on until all is written or an error remains.
        const auto* next = static_cast<const uint8_t*>(bytes);
        while (written < length) {
            const ssize_t done = ::write(descriptor_, next + written, length - written);
            if (done < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return FileError(errno);
            }
            if (done == 0) {
                return error::diskFull;
            }
            written += static_cast<uint32_t>(done);
        }
        return error::success;
    }

    uint32_t Close() override {
        if (descriptor_ < 0) {
            return error::success;
        }
        // After close(2) the descriptor is gone even when it reports EINTR: never retry.
        const int result = ::close(descriptor_);
        descriptor_ = -1;
        return result == 0 || errno == EINTR ? error::success : FileError(errno);
    }

private:
    int descriptor_;
    bool readable_; // opened for reading only; otherwise for writing only
};

class PosixFileSystem final : public FileSystem {
public:
    PathStyle Style() const override { return PathStyle::Posix; }

    uint32_t MakeDirectory(const char* path) override {
        // Default security: everyone the umask allows.
        if (::mkdir(path, 0777) == 0) {
            return error::success;
        }
        return errno == EEXIST ? error::alreadyExists : CreateError(errno);
    }

    std::unique_ptr<File> OpenForWriting(const char* path, FileDisposition disposition,
                                         uint32_t& error) override {
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY;
        flags |= disposition == FileDisposition::CreateNew ? O_EXCL : O_TRUNC;
        int descriptor;
        do {
            descriptor = ::open(path, flags, 0666);
        } while (descriptor < 0 && errno == EINTR);
        if (descriptor < 0) {
            error = CreateError(errno);
            return nullptr;
        }
        error = error::success;
        return std::make_unique<PosixFile>(descriptor, false);
    }

    std::unique_ptr<File> OpenForReading(const char* path, uint32_t& error) override {
        int descriptor;
        do {
            descriptor = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
        } while (descriptor < 0 && errno == EINTR);
        if (descriptor < 0) {
            error = FileError(errno);
            return nullptr;
        }
        error = error::success;
        return std::make_unique<PosixFile>(descriptor, true);
    }

    uint32_t RemoveFile(const char* path) override {
        return ::unlink(path) == 0 ? error::success : FileError(errno);
    }

    void GetLocalTime(SystemTime& time) override {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        tm local{};
        const time_t seconds = now.tv_sec;
        localtime_r(&seconds, &local);
        time.wYear = static_cast<uint16_t>(local.tm_year + 1900);
        time.wMonth = static_cast<uint16_t>(local.tm_mon + 1);
        time.wDayOfWeek = static_cast<uint16_t>(local.tm_wday);
        time.wDay = static_cast<uint16_t>(local.tm_mday);
        time.wHour = static_cast<uint16_t>(local.tm_hour);
        time.wMinute = static_cast<uint16_t>(local.tm_min);
        // A leap second shows as 59, as Windows never reports 60.
        time.wSecond = static_cast<uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
        time.wMilliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
    }

    uint32_t ModulePath(char* buffer, uint32_t size, uint32_t& length) override {
        length = 0;
        if (buffer == nullptr || size == 0) {
            return error::insufficientBuffer;
        }
        buffer[0] = '\0';
        const ssize_t got = posix::ReadProgramPath(buffer, size);
        if (got < 0) {
            return FileError(errno);
        }
        // readlink neither terminates nor says whether it cut: a full buffer may be cut.
        if (static_cast<size_t>(got) >= size) {
            buffer[0] = '\0';
            return error::insufficientBuffer;
        }
        buffer[got] = '\0';
        length = static_cast<uint32_t>(got);
        return error::success;
    }

    uint32_t SystemDirectory(char* buffer, uint32_t size, uint32_t& length) override {
        length = 0;
        if (buffer != nullptr && size != 0) {
            buffer[0] = '\0';
        }
        return error::notSupported;
    }
};

} // namespace

FileSystem& SystemFileSystem() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}

} // namespace tavro::platform
