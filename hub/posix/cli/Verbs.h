// The verbs of the `tavro` program. Each takes the arguments after its own name and returns
// the process's exit code.
#pragma once

#include "platform/posix/ComDirectory.h"

#include <stdint.h>

namespace tavro::posixhub {

inline constexpr int exitOk = 0;
inline constexpr int exitFailed = 1;
inline constexpr int exitUsage = 2;
// The settings file (or its folder) cannot be read or written, or has damaged lines; the
// reason is on stderr.
inline constexpr int exitSettings = 5;

int RunVerb(int argc, char** argv);
int ConfigVerb(int argc, char** argv);
int StatusVerb(int argc, char** argv);
int LinkVerb(int argc, char** argv);
int UnlinkVerb(int argc, char** argv);
int SendVerb(int argc, char** argv);
int FindVerb(int argc, char** argv);
int CleanVerb(int argc, char** argv);

// The hub's guardian (GuardVerb.cpp): an internal verb, not listed.
inline constexpr char guardVerbName[] = "guard-links";
int GuardVerb(int argc, char** argv);
// Starts the guardian for this process (call it from the main thread): its pid, or -1 when it
// cannot be started (errno set).
int StartLinkGuardian();
// Whether the guardian `pid` has ended (it is reaped then).
bool GuardianEnded(int pid);
// What a hub that did not stop cleanly left in `directory` (links, command socket) is removed;
// error::alreadyExists while a hub runs there.
uint32_t RemoveLeftBehind(const platform::posix::ComDirectory& directory);

} // namespace tavro::posixhub
