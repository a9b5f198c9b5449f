// How a "LogPath" setting becomes directories to create and the names of dated log files.
//
// "LogPath" is a path prefix: its directories, then a file-name stem with an optional
// extension that every log file takes (".gps" when there is none). A file begun at 14:03 on
// 7 May 2013 with "LogPath" C:\GPSLog\Gps is C:\GPSLog\Gps.2013-05-07.14.03.gps; with
// D:\Trips\Car.nmea it is D:\Trips\Car.2013-05-07.14.03.nmea.
//
// The rules follow the Windows shell's path helpers (PathFindExtensionA, PathRemoveExtensionA)
// and extend them where they would lose logs:
//  - Levels are separated by '\' and '/' on Windows (the file functions accept both), by '/'
//    on POSIX, where '\' is an ordinary character.
//  - The extension is the text from the last '.' of the last level, provided no space follows
//    that dot (as Windows has it, "Car.my trips" has no extension). On POSIX a dot that begins
//    the level (after nothing but dots) marks a hidden file, not an extension: ".gpslog" is a
//    stem. On Windows such a dot begins an extension, as the shell treats it.
//  - Texts are single bytes; no multi-byte code page is interpreted.
#pragma once

#include "common/SystemTime.h"
#include "platform/FileSystem.h"

#include <stddef.h>
#include <stdint.h>

namespace tavro {

// The extension of log files whose "LogPath" has none.
// Not inline (a copy per file): the shared section of an inline variable whose address is
// taken draws a false warning from the mingw-w64 linker under link-time optimisation.
constexpr char defaultLogExtension[] = ".gps";

// Files begun in one minute share the dated name; the first takes it as it is, the next ones
// "-2", "-3", … before the extension, up to this many in all.
inline constexpr uint32_t maxLogFilesPerMinute = 99;

// CreateLogDirectories works on at most this many characters of a path (a 260-byte buffer).
inline constexpr size_t maxDirectoryPathLength = 259;

bool IsPathSeparator(char c, platform::PathStyle style);

// The offset of the extension's dot in the first `length` characters of `path`, or `length`
// when the last level has no extension.
size_t FindPathExtension(const char* path, size_t length, platform::PathStyle style);

// Whether the text before a separator (the first `length` characters of a path) names a
// directory to create. An empty level (before the leading separator of an absolute path,
// between doubled separators) never does; neither does a Windows drive ("C:"), which cannot be
// created. Every other level is created, however short ("a" in "a\Gps" too: the file would
// otherwise have no directory to go into).
bool IsCreatableLevel(const char* level, size_t length, platform::PathStyle style);

// Writes into `name` (`size` bytes) the zero-terminated path of the log file begun at local
// time `time` for the first `logPathLength` characters of `logPath`: the path without its
// extension, ".%d-%02d-%02d.%02d.%02d" with year, month, day, hour and minute, "-<sequence>"
// when `sequence` is 2 or more, and the extension (or ".gps"). Returns false, leaving `name`
// empty, when the whole name does not fit; nothing is ever written past `size`.
bool MakeLogFileName(char* name, size_t size, const char* logPath, size_t logPathLength,
                     const SystemTime& time, uint32_t sequence, platform::PathStyle style);

} // namespace tavro
