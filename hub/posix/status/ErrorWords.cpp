// SPDX-License-Identifier: Apache-2.0
#include "hub/posix/status/ErrorWords.h"

#include "platform/posix/PosixErrors.h"

namespace tavro::posixhub {

std::string ErrorWords(uint32_t code) {
    char text[96];
    platform::posix::ErrorText(code, text);
    return text;
}

std::string ErrorWords(uint32_t code, long osError) {
    std::string words = ErrorWords(code);
    if (osError != 0) {
        words += " (errno " + std::to_string(osError) + ")";
    }
    return words;
}

} // namespace tavro::posixhub
