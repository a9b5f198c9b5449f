// SPDX-License-Identifier: Apache-2.0
#include "hub/posix/status/ErrorWords.h"

#include "platform/posix/PosixErrors.h"

namespace tavro::posixhub {

std::string ErrorWords(uint32_t code) {
    char text[96];
    platform::posix::ErrorText(code, text);
    return text;
}

} // namespace tavro::posixhub
