// Starting the hub as other programs do: its settings, its process, and waiting for it.
#pragma once

#include <windows.h>

#include <functional>

namespace tavro::wintest {

// Polls every 50 ms until the condition holds (true) or the time is up (false).
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// The hub's settings for a receiver on COM<receiverCom> at 4800 baud, no options; with a
// source ("tcp://..."), the receiver is on the network instead. An empty source is written too,
// so that one an earlier program left does not take the place of the port.
bool WriteHubSettings(DWORD receiverCom, const char* source = "");

// Starts "<path>" (no arguments, no inherited handles).
bool StartProgram(const char* path, PROCESS_INFORMATION& process);

} // namespace tavro::wintest
