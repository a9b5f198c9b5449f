// A file system held in memory, for tests: directories and files with their contents, a
// local time the test sets, and failures to inject. It answers like the Win32 file functions:
// a file or directory needs its parent directory (a path without a separator lives in the
// current directory, which always exists), an open file cannot be deleted, CreateNew refuses
// an existing file, a file opened for reading shares only reading (no open for writing while
// it is read), and a directory can be made one where the user may not write.
//
// Paths are compared as written (no case folding, no merging of '\' and '/'). Levels are
// separated as the chosen PathStyle says. Not thread-safe: one test thread uses it.
#pragma once

#include "platform/FileSystem.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tavro::platform::testing {

class MemoryFile;

class MemoryFileSystem final : public FileSystem {
public:
    explicit MemoryFileSystem(PathStyle style = PathStyle::Windows);
    ~MemoryFileSystem() override;

    // ---- Set-up and inspection ---------------------------------------------------------------

    // A directory that exists from now on, whatever its parent (a drive such as "C:", "/tmp").
    void AddDirectory(const std::string& path);
    // A file that exists already, with `contents`; its directory is not checked.
    void AddFile(const std::string& path, const std::string& contents);

    bool HasDirectory(const std::string& path) const;
    bool HasFile(const std::string& path) const;
    // The file's contents, empty when there is no such file.
    std::string Contents(const std::string& path) const;
    // All files and all directories, by name.
    std::vector<std::string> Files() const;
    std::vector<std::string> Directories() const;
    // Files open now.
    uint32_t OpenFiles() const;

    // One line per call, e.g. "MakeDirectory C:\GPSLog", "OpenForWriting C:\a.gps CreateNew",
    // "Write C:\a.gps 1024", "Close C:\a.gps", "RemoveFile C:\a.gps",
    // "OpenForReading C:\a.exe", "Read C:\a.exe 55296".
    const std::vector<std::string>& Calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }

    void SetLocalTime(const SystemTime& time) { localTime_ = time; }
    void SetModulePath(const std::string& path) { modulePath_ = path; }
    // GetSystemDirectoryA's answer ("C:\Windows\system32" unless set; empty: the call fails
    // with error::fileNotFound).
    void SetSystemDirectory(const std::string& path) { systemDirectory_ = path; }

    // ---- Failures ----------------------------------------------------------------------------

    // Every MakeDirectory fails with `error` and creates nothing (error::success ends that).
    void FailDirectories(uint32_t error) { directoryFailure_ = error; }
    // The next `count` opens for writing fail with `error` and create nothing.
    void FailOpens(uint32_t count, uint32_t error);
    // The next `count` opens for reading fail with `error`.
    void FailReadOpens(uint32_t count, uint32_t error);
    // Files in `directory` cannot be created, written over or deleted (error::accessDenied),
    // as in the system directory for a user without administrator rights.
    void ProtectDirectory(const std::string& directory) { protected_.insert(directory); }
    // Each read returns at most `bytesPerCall` bytes (UINT32_MAX ends the limit), as ReadFile
    // may on a network drive.
    void LimitReads(uint32_t bytesPerCall) { readLimit_ = bytesPerCall; }
    // Each write stores at most `bytesPerCall` bytes; a write cut short reports `error`
    // (error::success: a short write that claims success). UINT32_MAX ends the limit.
    void LimitWrites(uint32_t bytesPerCall, uint32_t error);

    // ---- FileSystem --------------------------------------------------------------------------

    PathStyle Style() const override { return style_; }
    uint32_t MakeDirectory(const char* path) override;
    std::unique_ptr<File> OpenForWriting(const char* path, FileDisposition disposition,
                                         uint32_t& error) override;
    std::unique_ptr<File> OpenForReading(const char* path, uint32_t& error) override;
    uint32_t RemoveFile(const char* path) override;
    void GetLocalTime(SystemTime& time) override { time = localTime_; }
    uint32_t ModulePath(char* buffer, uint32_t size, uint32_t& length) override;
    uint32_t SystemDirectory(char* buffer, uint32_t size, uint32_t& length) override;

private:
    friend class MemoryFile;

    struct FileNode {
        std::string contents;
        uint32_t openCount = 0;
        uint32_t readers = 0; // opens for reading among openCount
    };

    bool InProtectedDirectory(const std::string& path) const;

    // The directory part of `path` ("" for a name without a separator).
    std::string Parent(const std::string& path) const;
    bool ParentExists(const std::string& path) const;

    PathStyle style_;
    std::set<std::string> directories_;
    std::map<std::string, std::shared_ptr<FileNode>> files_;
    std::vector<std::string> calls_;
    SystemTime localTime_{2013, 5, 2, 7, 14, 3, 0, 0};
    std::string modulePath_;
    std::string systemDirectory_ = "C:\\Windows\\system32";
    std::set<std::string> protected_;
    uint32_t readOpenFailures_ = 0;
    uint32_t readOpenFailure_ = 0;
    uint32_t readLimit_ = UINT32_MAX;
    uint32_t directoryFailure_ = 0;
    uint32_t openFailures_ = 0;
    uint32_t openFailure_ = 0;
    uint32_t writeLimit_ = UINT32_MAX;
    uint32_t writeLimitError_ = 0;
};

} // namespace tavro::platform::testing
