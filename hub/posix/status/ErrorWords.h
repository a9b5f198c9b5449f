// SPDX-License-Identifier: Apache-2.0
// A Win32 error code in the words this system has for it, as the verbs, the run log and the
// status text all say it.
#pragma once

#include <stdint.h>
#include <string>

namespace tavro::posixhub {

std::string ErrorWords(uint32_t code);

// The same with the operating system's own error behind the code, where there is one:
// "connection refused (errno 111)". Nothing of the system's answer is lost in the mapping.
std::string ErrorWords(uint32_t code, long osError);

} // namespace tavro::posixhub
