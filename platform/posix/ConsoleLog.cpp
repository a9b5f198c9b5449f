#include "platform/posix/ConsoleLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace tavro::platform::posix {

bool StandardErrorIsJournal() {
    // "<device>:<inode>" of the stream journald reads; a program whose standard error was
    // redirected since (to a file, a pipe) must not write journal prefixes there.
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (stream == nullptr || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) {
        return false;
    }
    struct stat status {};
    return fstat(STDERR_FILENO, &status) == 0 &&
           static_cast<unsigned long long>(status.st_dev) == device &&
           static_cast<unsigned long long>(status.st_ino) == inode;
}

size_t ConsoleLog::FormatLine(char* line, size_t capacity, const char* program, bool journal,
                              LogPriority priority, const char* text, time_t now) {
    if (capacity == 0) {
        return 0;
    }
    int written = 0;
    if (journal) {
        written = std::snprintf(line, capacity, "<%d>%s\n", static_cast<int>(priority), text);
    } else {
        tm local{};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        written = std::snprintf(line, capacity, "%s %s: %s\n", stamp, program, text);
    }
    if (written < 0) {
        line[0] = '\0';
        return 0;
    }
    if (static_cast<size_t>(written) >= capacity) {
        // Cut, but still one line.
        line[capacity - 2 < capacity ? capacity - 2 : 0] = '\n';
        line[capacity - 1] = '\0';
        return capacity - 1;
    }
    return static_cast<size_t>(written);
}

void ConsoleLog::Write(LogPriority priority, const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    char line[1200];
    const size_t length =
        FormatLine(line, sizeof line, program_, journal_, priority, text, std::time(nullptr));
    std::fwrite(line, 1, length, stream_);
    std::fflush(stream_);
}

} // namespace tavro::platform::posix
