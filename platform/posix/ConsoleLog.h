// What the POSIX programs tell the user while they run, one line at a time on standard error.
// On a terminal or in a file each line begins with the local date and time and the program's
// name. When journald reads standard error (JOURNAL_STREAM names its device and inode, as
// systemd sets it for a service), journald stamps and names the lines itself: they carry only a
// priority prefix ("<3>" for an error) that it turns into the entry's priority.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

namespace tavro::platform::posix {

enum class LogPriority : uint8_t { Error = 3, Warning = 4, Notice = 5, Info = 6 };

class ConsoleLog {
public:
    // Lines go to `stream` (standard error); `journal`: they carry priorities for journald.
    ConsoleLog(const char* program, FILE* stream, bool journal)
        : program_(program), stream_(stream), journal_(journal) {}
    // To standard error, with priorities when journald reads it (and the build has systemd:
    // see ServiceManager::StandardErrorIsJournal).
    explicit ConsoleLog(const char* program);

    void Write(LogPriority priority, const char* format, ...) __attribute__((format(printf, 3, 4)));
    bool ToJournal() const { return journal_; }

    // One line as Write puts it, for `text` at `now` (local time), ending in a line feed.
    // Returns its length (cut to fit `capacity`).
    static size_t FormatLine(char* line, size_t capacity, const char* program, bool journal,
                             LogPriority priority, const char* text, time_t now);

private:
    const char* program_;
    FILE* stream_;
    bool journal_;
};

} // namespace tavro::platform::posix
