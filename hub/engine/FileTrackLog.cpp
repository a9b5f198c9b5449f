#include "hub/engine/FileTrackLog.h"

#include "hub/engine/GpsPort.h"
#include "hub/engine/LogFileName.h"
#include "platform/ErrorCodes.h"

#include <string.h>

namespace tavro {
namespace {

// The length of "LogPath", 0 when it is empty. A value that fills its whole field without a
// terminator is not a path this hub stored: it turns logging off rather than being cut.
size_t LogPathLength(const Settings& settings) {
    const size_t length = strnlen(settings.logPath, logPathSize);
    return length < logPathSize ? length : 0;
}

} // namespace

FileTrackLog::FileTrackLog(platform::FileSystem& fileSystem) : fileSystem_(fileSystem) {}

FileTrackLog::~FileTrackLog() = default;

void FileTrackLog::CreateLogDirectories(const char* path) {
    if (path == nullptr) {
        return;
    }
    const platform::PathStyle style = fileSystem_.Style();
    // The path is copied character by character; at each separator the text so far is a
    // directory level.
    char level[maxDirectoryPathLength + 1];
    for (size_t i = 0; i < maxDirectoryPathLength && path[i] != '\0'; ++i) {
        if (IsPathSeparator(path[i], style) && IsCreatableLevel(level, i, style)) {
            level[i] = '\0';
            // Mostly the directory exists already; any failure shows when the file is opened.
            fileSystem_.MakeDirectory(level);
        }
        level[i] = path[i];
    }
}

void FileTrackLog::OpenLog(GpsPort& port) {
    const Settings& settings = port.Hub().settings;
    const size_t pathLength = LogPathLength(settings);
    if (pathLength == 0 || logFile_ != nullptr) {
        return;
    }
    CreateLogDirectories(settings.logPath);
    SystemTime now{};
    fileSystem_.GetLocalTime(now);
    port.bytesLogged = 0;
    const platform::PathStyle style = fileSystem_.Style();
    // The dated name has a resolution of one minute: a port closed and opened again within
    // the minute would replace its earlier file, so an existing file is never opened.
    for (uint32_t sequence = 1; sequence <= maxLogFilesPerMinute; ++sequence) {
        if (!MakeLogFileName(port.logFileName, sizeof port.logFileName, settings.logPath,
                             pathLength, now, sequence, style)) {
            port.logError = error::badPathName;
            return;
        }
        uint32_t error = error::success;
        logFile_ = fileSystem_.OpenForWriting(port.logFileName,
                                              platform::FileDisposition::CreateNew, error);
        if (logFile_ != nullptr) {
            return;
        }
        if (error != error::fileExists && error != error::alreadyExists) {
            port.logError = error != error::success ? error : error::genFailure;
            return;
        }
    }
    port.logError = error::fileExists; // every name of the minute is taken
}

void FileTrackLog::FlushLog(GpsPort& port) {
    const Settings& settings = port.Hub().settings;
    if (port.logCount > 0 && settings.logging != 0 && logFile_ == nullptr &&
        LogPathLength(settings) != 0) {
        OpenLog(port);
    }
    // An open file goes on receiving until CloseLog, whatever the settings say meanwhile.
    const bool wanted =
        logFile_ != nullptr || (settings.logging != 0 && LogPathLength(settings) != 0);
    if (port.logCount > 0 && wanted) {
        uint32_t count = static_cast<uint32_t>(port.logCount);
        if (count > GpsPort::logBufferSize) {
            count = GpsPort::logBufferSize;
        }
        uint32_t written = 0;
        const uint32_t result = logFile_ != nullptr
                                    ? logFile_->Write(port.logBuffer, count, written)
                                    : error::success; // OpenLog has said why there is no file
        if (written > count) {
            written = count;
        }
        // Counted, so that a full disk or a folder that cannot be made is told, not hidden.
        if (written < count) {
            port.bytesNotLogged += count - written;
            if (logFile_ != nullptr) {
                port.logError = result != error::success ? result : error::diskFull;
            }
        }
        // Saturates rather than wrapping: a count that came back to 0 would delete the file.
        port.bytesLogged =
            port.bytesLogged > UINT32_MAX - written ? UINT32_MAX : port.bytesLogged + written;
    }
    port.logCount = 0;
}

void FileTrackLog::CloseLog(GpsPort& port) {
    FlushLog(port);
    if (logFile_ == nullptr) {
        return;
    }
    logFile_->Close();
    logFile_.reset();
    if (port.bytesLogged == 0) {
        fileSystem_.RemoveFile(port.logFileName);
    }
}

} // namespace tavro
