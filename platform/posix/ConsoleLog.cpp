#include "platform/posix/ConsoleLog.h"

#include "platform/systemd/ServiceManager.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace tavro::platform::posix {

ConsoleLog::ConsoleLog(const char* program)
    : ConsoleLog(program, stderr, ServiceManager::StandardErrorIsJournal()) {}

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
