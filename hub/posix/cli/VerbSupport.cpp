#include "hub/posix/cli/VerbSupport.h"

#include "hub/settings/Settings.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace tavro::posixhub {

using platform::posix::ComDirectory;

bool ParseUnsigned(const char* text, uint32_t& value) {
    if (text == nullptr || !std::isdigit(static_cast<unsigned char>(*text))) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || number > UINT32_MAX) {
        return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

bool ParseComName(const char* text, unsigned& comNumber) {
    if (text == nullptr) {
        return false;
    }
    if ((text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
        (text[2] == 'M' || text[2] == 'm')) {
        text += 3;
    }
    uint32_t number = 0;
    if (!std::isdigit(static_cast<unsigned char>(*text)) || !ParseUnsigned(text, number) ||
        number == 0 || number > comNumberMax) {
        return false;
    }
    comNumber = number;
    return true;
}

ComDirectory DirectoryOrComplain() {
    ComDirectory directory = ComDirectory::FromEnvironment();
    if (!directory.IsValid()) {
        std::fputs("tavro: the COM directory's path is too long (TAVRO_DEVDIR)\n", stderr);
    }
    return directory;
}

} // namespace tavro::posixhub
