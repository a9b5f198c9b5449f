// The verbs of `feltro`, on the system's command socket and status block.
#pragma once

#include "setup/posix/FeltroArguments.h"

#include <string>
#include <vector>

namespace tavro::feltro {

inline constexpr int exitOk = 0;
inline constexpr int exitFailed = 1;
inline constexpr int exitUsage = 2;

// Runs `verb` with its `arguments`; `waitMs` is --wait (-1 when not given). The exit code.
int RunVerb(const std::string& verb, const std::vector<std::string>& arguments, int waitMs);

} // namespace tavro::feltro
