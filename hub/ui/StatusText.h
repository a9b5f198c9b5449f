// The texts of the main window's status line (control 1020) while no GPS search is running:
// the stream, fix, satellites and seconds of the status block while the input port is open,
// the reason it is closed otherwise.
#pragma once

#include "common/GpsSharedStatus.h"

#include <stdint.h>

namespace tavro {

struct DropCounts;
namespace platform {
class TextBuilder;
}

// Enough for the longest line with room to spare.
inline constexpr uint32_t statusTextSize = 64;

inline constexpr char noDataStreamText[] = "No Data Stream";

// "%s | %s | %s :%02d": the stream text of the block's stream state (1 "Port Closed",
// 2 "Unknown Data", 3 "NMEA Stream", 4 "SiRF Stream", other states none), then, from stream
// state 2 on, the fix text of its fix state (0 "No Fix", 1 "Low Signal", 2 "2D Fix", 3 "3D Fix",
// 5 "Invalid", others none) and "%d SVs" with the satellites in use (both empty below stream
// state 2), and the seconds of its UTC time.
// The stream text of a stream state and the fix text of a fix state (empty for other values),
// as the status line words them.
const char* StreamText(uint8_t streamState);
const char* FixText(uint8_t fixState);

void FormatStreamStatus(const GpsSharedStatus& block, char (&text)[statusTextSize]);

// Why the input port is closed, from its lastOpenError: 0 "Port Closed", 2 or 1168 "Port
// Doesn't Exist", 5 "Port Access Denied", 121 "Port Open Timeout", other codes "Port Open
// Failed: %d" with the code.
void FormatClosedReason(uint32_t lastOpenError, char (&text)[statusTextSize]);

// Room for "Dropped: " and all four causes with the largest counts.
inline constexpr uint32_t droppedTextSize = 288;

// What the hub dropped, by cause: "2304 bytes received, emptied by a re-open for a speed change;
// 7 bytes for the receiver, not taken by it". Appends nothing while nothing was dropped. The
// words of `tavro status`'s "Dropped:" line and of the main window's line under the status line.
void AppendDropped(const DropCounts& drops, platform::TextBuilder& text);

} // namespace tavro
