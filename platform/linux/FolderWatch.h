// Tells when names come and go in a few folders (inotify): the COM directory, the folder a
// receiver's link leads into (/dev/serial/by-id, /dev), ... A descriptor for the event loop;
// TakeChanges drains it.
#pragma once

#include <stddef.h>

namespace tavro::platform::posix {

class FolderWatch {
public:
    static constexpr size_t folderCapacity = 4;

    FolderWatch();
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // The descriptor that becomes readable when something changed; -1 without inotify.
    int Fd() const { return fd_; }

    // Watches `folders` (up to folderCapacity; null or empty entries and folders that do not
    // exist are skipped) instead of the ones before. Folders watched already stay watched.
    void WatchFolders(const char* const* folders, size_t count);

    // Whether changes in `folder` can be seen: not in /proc, where a link to a program's own
    // terminal goes with the program and no event tells of it.
    static bool CanWatch(const char* folder);

    // Drains what is pending. True when a name was made, removed, renamed or changed in a
    // watched folder, or events were lost (the caller looks again in any case then).
    bool TakeChanges();

private:
    int fd_ = -1;
    int watches_[folderCapacity] = {-1, -1, -1, -1};
    char paths_[folderCapacity][512] = {};
};

} // namespace tavro::platform::posix
