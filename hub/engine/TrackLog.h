// The seam between the input port and track logging. The port gathers the raw bytes it reads
// in its logBuffer (see GpsPort) and calls OpenLog, FlushLog and CloseLog at the moments the
// port's rules name; a TrackLog turns that into dated files. The file handle and everything
// about files belong to the TrackLog; the buffer, its count, bytesLogged and logFileName stay
// fields of the port, where the main window reads them.
//
// An implementation builds logFileName inside the port's logFileName[GpsPort::logFileNameSize]
// with bounded formatting: "LogPath" (up to 127 characters), the date part (17) and the
// extension may together exceed 191 characters, and such a name must be refused (no file,
// the block dropped), never written past the array.
#pragma once

namespace tavro {

class GpsPort;

class TrackLog {
public:
    virtual ~TrackLog() = default;

    // A log file is open for this port ("logFile" is not null).
    virtual bool LogOpen() const = 0;

    // Begins a new log file; the caller has already checked "Logging". Does nothing when
    // "LogPath" is empty or a file is open. A failure sets the port's logError; the next
    // block tries again.
    virtual void OpenLog(GpsPort& port) = 0;

    // Writes the port's logCount bytes of logBuffer, beginning a file first when bytes are
    // pending, logging is on and none is open; adds what was written to bytesLogged, and what
    // was not to bytesNotLogged. The port sets logCount to 0 afterwards in every case.
    virtual void FlushLog(GpsPort& port) = 0;

    // FlushLog, then closes the file and deletes it when nothing was written to it.
    virtual void CloseLog(GpsPort& port) = 0;

    // Creates each directory level named in `path` (not the file-name stem after the last
    // separator); failures are ignored. The main window calls it when logging is switched on
    // or "LogPath" changes. A log without files has nothing to create.
    virtual void CreateLogDirectories(const char* path) { static_cast<void>(path); }
};

// The track log of a port that does not log (the scanning ports, or a hub built without
// logging): nothing is written, pending bytes are dropped. Stateless, so one instance serves
// every port on every thread.
class NoTrackLog final : public TrackLog {
public:
    bool LogOpen() const override { return false; }
    void OpenLog(GpsPort&) override {}
    void FlushLog(GpsPort&) override {}
    void CloseLog(GpsPort&) override {}

    static NoTrackLog& Instance();
};

} // namespace tavro
