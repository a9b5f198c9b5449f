#include "platform/linux/FolderWatch.h"

#include <cstdio>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace tavro::platform::posix {
namespace {

constexpr uint32_t folderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

} // namespace

FolderWatch::FolderWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderWatch::~FolderWatch() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void FolderWatch::WatchFolders(const char* const* folders, size_t count) {
    if (fd_ < 0) {
        return;
    }
    char wanted[folderCapacity][512] = {};
    for (size_t k = 0; k < count && k < folderCapacity; ++k) {
        if (folders[k] != nullptr) {
            std::snprintf(wanted[k], sizeof wanted[k], "%.511s", folders[k]);
        }
    }
    for (size_t slot = 0; slot < folderCapacity; ++slot) {
        bool stillWanted = false;
        for (const auto& path : wanted) {
            stillWanted = stillWanted || (path[0] != '\0' && std::strcmp(path, paths_[slot]) == 0);
        }
        if (watches_[slot] >= 0 && !stillWanted) {
            inotify_rm_watch(fd_, watches_[slot]);
            watches_[slot] = -1;
            paths_[slot][0] = '\0';
        }
    }
    for (const auto& path : wanted) {
        bool watched = path[0] == '\0';
        for (size_t slot = 0; slot < folderCapacity && !watched; ++slot) {
            watched = watches_[slot] >= 0 && std::strcmp(path, paths_[slot]) == 0;
        }
        for (size_t slot = 0; slot < folderCapacity && !watched; ++slot) {
            if (watches_[slot] < 0) {
                watches_[slot] = inotify_add_watch(fd_, path, folderEvents | IN_ONLYDIR);
                if (watches_[slot] >= 0) {
                    std::snprintf(paths_[slot], sizeof paths_[slot], "%.511s", path);
                }
                watched = true; // or it does not exist (yet): skipped
            }
        }
    }
}

bool FolderWatch::CanWatch(const char* folder) {
    return folder[0] != '\0' && std::strncmp(folder, "/proc/", 6) != 0;
}

bool FolderWatch::TakeChanges() {
    if (fd_ < 0) {
        return false;
    }
    bool changed = false;
    alignas(inotify_event) char events[4096];
    ssize_t length = 0;
    while ((length = read(fd_, events, sizeof events)) > 0) {
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_IGNORED) {
                // The folder itself went: it has to be watched again when it is back.
                for (size_t slot = 0; slot < folderCapacity; ++slot) {
                    if (watches_[slot] == event->wd) {
                        watches_[slot] = -1;
                        paths_[slot][0] = '\0';
                    }
                }
            }
            changed = true;
        }
    }
    return changed;
}

} // namespace tavro::platform::posix
