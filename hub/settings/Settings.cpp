#include "hub/settings/Settings.h"

#include <stdlib.h>
#include <string.h>

namespace tavro {

Settings DefaultSettings(const char* logPathDefault) {
    Settings settings;
    auto* base = reinterpret_cast<unsigned char*>(&settings);
    for (const StoredSetting& entry : storedSettings) {
        if (entry.type == platform::regDword) {
            memcpy(base + entry.offset, &entry.numberDefault, sizeof entry.numberDefault);
            continue;
        }
        const char* text = entry.textDefault != nullptr ? entry.textDefault : "";
        const size_t length = strnlen(text, entry.size - 1);
        memcpy(base + entry.offset, text, length);
        base[entry.offset + length] = '\0';
    }
    if (logPathDefault != nullptr) {
        const size_t length = strnlen(logPathDefault, logPathSize - 1);
        memcpy(settings.logPath, logPathDefault, length);
        settings.logPath[length] = '\0';
    }
    return settings;
}

void EditionLogPathDefault(char (&logPath)[logPathSize]) {
#ifdef _WIN32
    memcpy(logPath, windowsLogPathDefault, sizeof windowsLogPathDefault);
#else
    constexpr char relative[] = "GPSLog/Gps";
    const char* home = getenv("HOME");
    const size_t homeLength = home != nullptr ? strlen(home) : 0;
    if (homeLength == 0 || homeLength + 1 + sizeof relative > logPathSize) {
        memcpy(logPath, relative, sizeof relative);
        return;
    }
    memcpy(logPath, home, homeLength);
    size_t length = homeLength;
    if (logPath[length - 1] != '/') {
        logPath[length++] = '/';
    }
    memcpy(logPath + length, relative, sizeof relative);
#endif
}

} // namespace tavro
