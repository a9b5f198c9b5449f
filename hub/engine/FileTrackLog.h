// The track log of the main input port: the raw received bytes in dated files, one file per
// period in which the port is open, named from "LogPath" and the local time at which the file
// was begun (see LogFileName.h). Files that end up empty are deleted.
//
// The port gathers the bytes in its logBuffer and calls FlushLog when 1024 are held and
// CloseLog whenever it closes; bytesLogged and logFileName live in the port. A file is begun
// only when bytes are pending, "Logging" is on and "LogPath" is not empty. Turning "Logging"
// off or changing "LogPath" takes effect through CloseLog, which the main window runs at once:
// until then an open file goes on receiving.
//
// A directory that cannot be made, a file that cannot be opened or a full disk costs the
// block at hand, and the next block tries again; the lost bytes and the last failure are kept
// in the port (bytesNotLogged, logError) for the front end to tell.
//
// One FileTrackLog serves one port, on that port's thread.
#pragma once

#include "hub/engine/TrackLog.h"
#include "platform/FileSystem.h"

#include <memory>

namespace tavro {

class FileTrackLog final : public TrackLog {
public:
    explicit FileTrackLog(platform::FileSystem& fileSystem);
    // An open file is closed (a port that is destroyed without Close leaves it so).
    ~FileTrackLog() override;
    FileTrackLog(const FileTrackLog&) = delete;
    FileTrackLog& operator=(const FileTrackLog&) = delete;

    bool LogOpen() const override { return logFile_ != nullptr; }

    // Creates the directories of "LogPath" and a new file named for the current minute. An
    // earlier file of the same minute is never replaced: the new one is created only where no
    // file exists, taking the first free name of "<name>", "<name>-2", … "<name>-99" (see
    // LogFileName.h); when all are taken, or the name would not fit the port's 192-byte
    // logFileName, no file is opened. bytesLogged starts at 0.
    void OpenLog(GpsPort& port) override;

    void FlushLog(GpsPort& port) override;
    void CloseLog(GpsPort& port) override;

    // Copies at most 259 characters of `path`; levels beyond them are not created.
    void CreateLogDirectories(const char* path) override;

private:
    platform::FileSystem& fileSystem_;
    std::unique_ptr<platform::File> logFile_;
};

} // namespace tavro
