// Files through kernel32: CreateDirectoryA, CreateFileA, ReadFile, WriteFile, CloseHandle,
// DeleteFileA, GetLocalTime, GetModuleFileNameA and GetSystemDirectoryA.
#include "platform/FileSystem.h"

#include "platform/ErrorCodes.h"

#include <windows.h>

namespace tavro::platform {
namespace {

class Win32File final : public File {
public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}
    ~Win32File() override { Close(); }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    uint32_t Read(void* bytes, uint32_t length, uint32_t& read) override {
        read = 0;
        if (handle_ == nullptr) {
            return error::invalidHandle;
        }
        DWORD done = 0;
        const BOOL ok = ReadFile(handle_, bytes, length, &done, nullptr);
        read = done;
        return ok ? error::success : static_cast<uint32_t>(GetLastError());
    }

    uint32_t Write(const void* bytes, uint32_t length, uint32_t& written) override {
        written = 0;
        if (handle_ == nullptr) {
            return error::invalidHandle;
        }
        DWORD done = 0;
        const BOOL ok = WriteFile(handle_, bytes, length, &done, nullptr);
        written = done;
        return ok ? error::success : static_cast<uint32_t>(GetLastError());
    }

    uint32_t Close() override {
        if (handle_ == nullptr) {
            return error::success;
        }
        const BOOL ok = CloseHandle(handle_);
        handle_ = nullptr;
        return ok ? error::success : static_cast<uint32_t>(GetLastError());
    }

private:
    HANDLE handle_;
};

class Win32FileSystem final : public FileSystem {
public:
    PathStyle Style() const override { return PathStyle::Windows; }

    uint32_t MakeDirectory(const char* path) override {
        return CreateDirectoryA(path, nullptr) ? error::success
                                               : static_cast<uint32_t>(GetLastError());
    }

    std::unique_ptr<File> OpenForWriting(const char* path, FileDisposition disposition,
                                         uint32_t& error) override {
        const DWORD creation =
            disposition == FileDisposition::CreateNew ? CREATE_NEW : CREATE_ALWAYS;
        HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = static_cast<uint32_t>(GetLastError());
            if (error == error::success) {
                error = error::genFailure;
            }
            return nullptr;
        }
        error = error::success;
        return std::make_unique<Win32File>(handle);
    }

    std::unique_ptr<File> OpenForReading(const char* path, uint32_t& error) override {
        HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = static_cast<uint32_t>(GetLastError());
            if (error == error::success) {
                error = error::genFailure;
            }
            return nullptr;
        }
        error = error::success;
        return std::make_unique<Win32File>(handle);
    }

    uint32_t RemoveFile(const char* path) override {
        return DeleteFileA(path) ? error::success : static_cast<uint32_t>(GetLastError());
    }

    void GetLocalTime(SystemTime& time) override {
        SYSTEMTIME local{};
        ::GetLocalTime(&local);
        time.wYear = local.wYear;
        time.wMonth = local.wMonth;
        time.wDayOfWeek = local.wDayOfWeek;
        time.wDay = local.wDay;
        time.wHour = local.wHour;
        time.wMinute = local.wMinute;
        time.wSecond = local.wSecond;
        time.wMilliseconds = local.wMilliseconds;
    }

    uint32_t ModulePath(char* buffer, uint32_t size, uint32_t& length) override {
        length = 0;
        if (buffer == nullptr || size == 0) {
            return error::insufficientBuffer;
        }
        buffer[0] = '\0';
        const DWORD got = GetModuleFileNameA(nullptr, buffer, size);
        if (got == 0) {
            return static_cast<uint32_t>(GetLastError());
        }
        // A path that filled the buffer was cut (and, on older systems, not terminated).
        if (got >= size) {
            buffer[0] = '\0';
            return error::insufficientBuffer;
        }
        length = got;
        return error::success;
    }

    uint32_t SystemDirectory(char* buffer, uint32_t size, uint32_t& length) override {
        length = 0;
        if (buffer == nullptr || size == 0) {
            return error::insufficientBuffer;
        }
        buffer[0] = '\0';
        const UINT got = GetSystemDirectoryA(buffer, size);
        if (got == 0) {
            return static_cast<uint32_t>(GetLastError());
        }
        // Too small a buffer: the result is the size needed, and nothing was copied.
        if (got >= size) {
            buffer[0] = '\0';
            return error::insufficientBuffer;
        }
        length = got;
        return error::success;
    }
};

} // namespace

FileSystem& SystemFileSystem() {
    static Win32FileSystem fileSystem;
    return fileSystem;
}

} // namespace tavro::platform
