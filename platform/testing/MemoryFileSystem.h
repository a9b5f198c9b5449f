// A file system held in memory, for tests: directories and files with their contents, a
// local time the test sets, and failures to inject. It answers like the Win32 file functions:
// a file or directory needs its parent directory (a path without a separator lives in the
// current directory, which always exists), an open file cannot be deleted, CreateNew refuses
// an existing file.
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
    // "Write C:\a.gps 1024", "Close C:\a.gps", "RemoveFile C:\a.gps".
    const std::vector<std::string>& Calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }

    void SetLocalTime(const SystemTime& time) { localTime_ = time; }
    void SetModulePath(const std::string& path) { modulePath_ = path; }

    // ---- Failures ----------------------------------------------------------------------------

    // Every MakeDirectory fails with `error` and creates nothing (error::success ends that).
    void FailDirectories(uint32_t error) { directoryFailure_ = error; }
    // The next `count` opens fail with `error` and create nothing.
    void FailOpens(uint32_t count, uint32_t error);
    // Each write stores at most `bytesPerCall` bytes; a write cut short reports `error`
    // (error::success: a short write that claims success). UINT32_MAX ends the limit.
    void LimitWrites(uint32_t bytesPerCall, uint32_t error);

    // ---- FileSystem --------------------------------------------------------------------------

    PathStyle Style() const override { return style_; }
    uint32_t MakeDirectory(const char* path) override;
    std::unique_ptr<File> OpenForWriting(const char* path, FileDisposition disposition,
                                         uint32_t& error) override;
    uint32_t RemoveFile(const char* path) override;
    void GetLocalTime(SystemTime& time) override { time = localTime_; }
    uint32_t ModulePath(char* buffer, uint32_t size, uint32_t& length) override;

private:
    friend class MemoryFile;

    struct FileNode {
        std::string contents;
        uint32_t openCount = 0;
    };

    // The directory part of `path` ("" for a name without a separator).
    std::string Parent(const std::string& path) const;
    bool ParentExists(const std::string& path) const;

    PathStyle style_;
    std::set<std::string> directories_;
    std::map<std::string, std::shared_ptr<FileNode>> files_;
    std::vector<std::string> calls_;
    SystemTime localTime_{2013, 5, 2, 7, 14, 3, 0, 0};
    std::string modulePath_;
    uint32_t directoryFailure_ = 0;
    uint32_t openFailures_ = 0;
    uint32_t openFailure_ = 0;
    uint32_t writeLimit_ = UINT32_MAX;
    uint32_t writeLimitError_ = 0;
};

} // namespace tavro::platform::testing
