// The main window's one-line status, as text: what the hub shows about its input port and
// the decoded stream. The POSIX `status` verb prints it from the status block alone.
#pragma once

#include "common/GpsSharedStatus.h"

#include <stddef.h>
#include <stdint.h>
#include <string>

namespace tavro {

inline constexpr size_t statusLineCapacity = 128;

// Printed by readers that find no hub: no status block, or one its hub has left.
inline constexpr char hubNotRunningText[] = "Hub not running";

// The stream text of a stream state (1 "Port Closed", 2 "Unknown Data", 3 "NMEA Stream",
// 4 "SiRF Stream", others empty) and the fix text of a fix status (0 "No Fix", 1 "Low Signal",
// 2 "2D Fix", 3 "3D Fix", 5 "Invalid", others empty).
const char* StreamText(uint8_t streamState);
const char* FixText(uint8_t fixState);

// The reason an input port is not open, from the error of its last open attempt.
void PortClosedText(uint32_t lastOpenError, char (&text)[statusLineCapacity]);

// The status line: with the input port open "<stream> | <fix> | <n> SVs :<ss>" (fix and
// satellite texts only from stream state 2 on), otherwise the reason the port is closed.
void FormatStatusLine(const GpsSharedStatus& block, bool inputPortOpen, uint32_t lastOpenError,
                      char (&text)[statusLineCapacity]);

// What a reader outside the hub can tell from the block alone: the input port counts as open
// from stream state 2 on; a closed port shows "Port Closed" (the reason of a failed open lives
// only in the hub); a detached block shows hubNotRunningText.
void FormatReaderStatusLine(const GpsSharedStatus& block, char (&text)[statusLineCapacity]);

// The block's fields as one JSON object, plus "hubRunning" and "statusLine". Numbers that are
// not finite (a float field holding garbage) become null.
std::string StatusJson(const GpsSharedStatus& block, bool hubRunning, const char* statusLine);

} // namespace tavro
