// SPDX-License-Identifier: Apache-2.0
// A Win32 error code in the words this system has for it, as the verbs, the run log and the
// status text all say it.
#pragma once

#include <stdint.h>
#include <string>

namespace tavro::posixhub {

std::string ErrorWords(uint32_t code);

} // namespace tavro::posixhub
