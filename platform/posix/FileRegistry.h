// The registry of the POSIX edition: one text file per root (see RegistryText.h), read again
// whenever it changes on disk and replaced atomically on every change, so that a person may
// edit it with any editor while the hub runs. Used from one thread at a time.
#pragma once

#include "platform/TreeRegistry.h"

#include <stdint.h>
#include <string>

struct stat;

namespace tavro::platform {

class FileRegistry final : public TreeRegistry {
public:
    // The roots live in `directory` as "current-user.reg" and "local-machine.reg"; the folder
    // is made (mode 0700) when something is first written. With an empty `directory` every
    // operation fails with error::pathNotFound.
    explicit FileRegistry(std::string directory);
    ~FileRegistry() override;

    FileRegistry(const FileRegistry&) = delete;
    FileRegistry& operator=(const FileRegistry&) = delete;

    const std::string& Directory() const { return directory_; }
    std::string FilePath(RegistryKey root) const;

    // How many problems with the files were reported on stderr so far (a file that cannot be
    // read or written, is not a regular file, or has unreadable lines).
    uint32_t ProblemCount() const { return problemCount_; }

    // Files larger than this are not read (the root then fails with error::registryCorrupt
    // and is never overwritten).
    static constexpr uint64_t maxFileBytes = 4 * 1024 * 1024;

protected:
    RegistryTree* ReadRoot(size_t root, uint32_t& result) override;
    RegistryTree* BeginChange(size_t root, uint32_t& result) override;
    uint32_t FinishChange(size_t root, bool changed) override;

private:
    // Enough of a file's status to notice that someone changed or replaced it.
    struct FileIdentity {
        bool exists = false;
        uint64_t device = 0;
        uint64_t inode = 0;
        uint64_t size = 0;
        int64_t modifiedSeconds = 0;
        int64_t modifiedNanoseconds = 0;
        int64_t changedSeconds = 0;
        int64_t changedNanoseconds = 0;
        bool operator==(const FileIdentity&) const = default;
    };

    struct RootFile {
        RegistryTree tree;
        FileIdentity identity; // of the file `tree` (or `failure`) was read from
        bool loaded = false;
        uint32_t failure = 0; // that file could not be used
    };

    static FileIdentity IdentityOf(const struct stat& status);
    std::string PathOf(size_t root) const;
    RegistryTree* Load(size_t root, const FileIdentity& current, uint32_t& result);
    // Tells the user on stderr why a root's file cannot be used, once until the reason
    // changes or the file works again.
    void Report(size_t root, const std::string& problem);
    uint32_t Write(size_t root);
    void Unlock();

    std::string directory_;
    RootFile roots_[registryRootCount];
    std::string reported_[registryRootCount];
    int lockFd_ = -1;    // the folder, locked against other writers during a change
    int writeErrno_ = 0; // why the last Write failed
    uint32_t problemCount_ = 0;
};

// The store SystemRegistry() gives on POSIX.
FileRegistry& SystemFileRegistry();

// $XDG_CONFIG_HOME/tavro when that is an absolute path, else $HOME/.config/tavro, else the
// home folder from the user database; false when there is none.
bool DefaultRegistryDirectory(std::string& directory);

} // namespace tavro::platform
