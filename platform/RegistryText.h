// The text form of one registry root, in the style of a `.reg` file, so that a person can read
// and edit the POSIX file store:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Brindle\Tavro3]
//   "Port"=dword:00000001
//   "LogPath"=str:"/home/ana/GPSLog/Gps"
//   "Dev0"=hex:60,9e,fc,36,65,c4,cf,11,80,56,44,45,53,54,00,00,02,00,00,00
//   @="the default value"
//
// Values: "text" is a REG_SZ stored with its terminating zero, str:"text" one stored without
// it; inside quotes \\ is a backslash and \" a quote. dword:XXXXXXXX is a REG_DWORD (up to
// eight hex digits), hex:bb,bb,… a REG_BINARY and hex(T):bb,… a value of type T (hex), as
// regedit writes them; a line of bytes may continue on the next after a final backslash.
// Lines starting with ';' are comments. Everything else is unreadable.
#pragma once

#include "platform/RegistryTree.h"

#include <stdint.h>
#include <string>
#include <string_view>

namespace tavro::platform {

// What a read found it could not use.
struct RegistryTextReport {
    uint32_t unreadableLines = 0;
    uint32_t firstLine = 0;            // 1-based number of the first unreadable line
    const char* firstReason = nullptr; // why that line could not be read
};

// Reads the text of the root named `rootName` ("HKEY_CURRENT_USER") into `tree`, which is
// emptied first. Lines it cannot read, and the values of a key it cannot read, are skipped
// and counted in `report`; everything readable is kept.
void ParseRegistryText(std::string_view text, std::string_view rootName, RegistryTree& tree,
                       RegistryTextReport& report);

// The text of `tree` as the root `rootName`: what ParseRegistryText reads back to the same
// keys, values and order. Keys without values are written only when no key below them is.
std::string FormatRegistryText(const RegistryTree& tree, std::string_view rootName);

} // namespace tavro::platform
