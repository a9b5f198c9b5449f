// Files as the hub uses them: directories and write-only files for the track logs, the local
// time that dates them, the path of the running program, which the driver installer reads
// back, and the system directory it writes the driver to. In the terms of the Win32 file
// functions (CreateDirectoryA, CreateFileA, ReadFile, WriteFile, CloseHandle, DeleteFileA,
// GetLocalTime, GetModuleFileNameA, GetSystemDirectoryA) with Win32 error codes
// (platform/ErrorCodes.h), so that the logic reads the same on every edition.
//
// Paths are 8-bit texts in the edition's own form (PathStyle): Windows paths separate their
// levels with '\' (and accept '/'), POSIX paths with '/'.
#pragma once

#include "common/SystemTime.h"

#include <memory>
#include <stdint.h>

namespace tavro::platform {

// How the paths of a file system are written.
enum class PathStyle : uint8_t {
    Windows, // levels separated by '\' or '/'; "X:" names a drive
    Posix,   // levels separated by '/'; a leading '/' is the root
};

// What OpenForWriting does when the file exists (the CreateFileA dispositions of the same
// names). Neither creates missing directories.
enum class FileDisposition : uint8_t {
    CreateAlways, // an existing file is emptied and reused
    CreateNew,    // an existing file is left alone and the open fails with error::fileExists
};

// One open file, read or written from its start. Destroying it closes it.
class File {
public:
    virtual ~File() = default;

    // ReadFile of a file opened for reading: up to `length` bytes from the current position.
    // `read` receives the bytes read, 0 at the end of the file (which is no error). A file
    // opened for writing answers error::accessDenied.
    virtual uint32_t Read(void* bytes, uint32_t length, uint32_t& read) = 0;

    // WriteFile: writes `length` bytes (a file opened for reading answers
    // error::accessDenied). `written` receives the bytes actually written, also
    // when the result is an error (a disk that filled up part way).
    virtual uint32_t Write(const void* bytes, uint32_t length, uint32_t& written) = 0;

    // CloseHandle. Later writes fail with error::invalidHandle; closing again does nothing.
    virtual uint32_t Close() = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual PathStyle Style() const = 0;

    // CreateDirectoryA with default security: one level, whose parent must exist. Returns
    // error::success, error::alreadyExists when the directory (or a file of that name) is
    // there, error::pathNotFound when the parent is missing, or another code.
    virtual uint32_t MakeDirectory(const char* path) = 0;

    // CreateFileA with write access, sharing for reading and writing, the given disposition
    // and normal attributes. On failure the result is null and `error` holds the code
    // (error::fileExists for CreateNew on an existing file, error::pathNotFound when the
    // directory is missing); on success `error` is error::success.
    virtual std::unique_ptr<File> OpenForWriting(const char* path, FileDisposition disposition,
                                                 uint32_t& error) = 0;

    // CreateFileA with read access, sharing for reading, an existing file only
    // (OPEN_EXISTING). On failure the result is null and `error` holds the code
    // (error::fileNotFound, error::pathNotFound, error::sharingViolation...).
    virtual std::unique_ptr<File> OpenForReading(const char* path, uint32_t& error) = 0;

    // DeleteFileA: error::fileNotFound when there is no such file.
    virtual uint32_t RemoveFile(const char* path) = 0;

    // GetLocalTime: the wall-clock time of the machine's time zone, wDayOfWeek included.
    virtual void GetLocalTime(SystemTime& time) = 0;

    // GetModuleFileNameA of the running program: its full path, zero-terminated, into
    // `buffer` of `size` bytes, with `length` its length without the terminator. A path that
    // does not fit gives error::insufficientBuffer, an empty text and `length` 0 (never a cut
    // path).
    virtual uint32_t ModulePath(char* buffer, uint32_t size, uint32_t& length) = 0;

    // GetSystemDirectoryA ("C:\Windows\system32"), in the same way as ModulePath. Systems
    // without one (POSIX) answer error::notSupported.
    virtual uint32_t SystemDirectory(char* buffer, uint32_t size, uint32_t& length) = 0;
};

// The adapter of the edition this program was built for.
FileSystem& SystemFileSystem();

} // namespace tavro::platform
