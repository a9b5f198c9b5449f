#include "platform/posix/SharedMemoryName.h"

#include "common/GpsSharedStatus.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tavro::platform::posix {

bool SharedMemoryName(const char* name, char (&out)[sharedMemoryNameCapacity]) {
    out[0] = '\0';
    if (name == nullptr) {
        return false;
    }
    const char* chosen = name;
    const char* overrideName = std::getenv("TAVRO_SHM");
    if (overrideName != nullptr && overrideName[0] != '\0' &&
        std::strcmp(name, statusBlockName) == 0) {
        chosen = overrideName;
    }
    const char* slash = chosen[0] == '/' ? "" : "/";
    const int written = std::snprintf(out, sizeof out, "%s%s", slash, chosen);
    return written > 1 && written < static_cast<int>(sizeof out) &&
           std::strchr(out + 1, '/') == nullptr;
}

} // namespace tavro::platform::posix
