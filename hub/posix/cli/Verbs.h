// The verbs of the `tavro` program. Each takes the arguments after its own name and returns
// the process's exit code.
#pragma once

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

// The hub's guardian (host/LinkGuardian.h), named guardVerbName: an internal verb, not listed.
int GuardVerb(int argc, char** argv);

} // namespace tavro::posixhub
