// `tavro config` against this user's settings store, checked against the COM directory and
// this system, with a running hub told to read a stored change: what the verb and the
// dashboard's settings both run.
#pragma once

#include <string>

namespace tavro {

// Runs `config ARGS` as RunConfigCommand does, then has the running hub take a change that
// `set` stored. What it prints goes to `output`, messages to `errors`. Returns an exit code:
// configOk, configUsage, configNotStored, or 1 when the hub could not take a stored change.
int ConfigureSettings(int argc, const char* const* argv, std::string& output, std::string& errors);

} // namespace tavro
