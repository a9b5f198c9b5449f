// SiRF binary frames: verification, relay, and messages 2, 4 and 41 into the status block.
#pragma once

#include "common/GpsSharedStatus.h"
#include "hub/decode/ParserHost.h"

#include <stdint.h>

namespace tavro {

// GPS week 0 of the receivers' 10-bit week count began 1999-08-22 00:00:00 GPS time. This is
// 14 seconds before that in seconds since 1601-01-01: GPS time is turned into UTC with a
// fixed 14-second offset.
inline constexpr uint64_t sirfWeekZeroFileTimeSeconds = 12579753586;

// Decodes one frame that ParseFrame found to be SiRF binary (`frame` holds `length` bytes).
// Frames that do not start with 0xA0 0xA2 are ignored; a frame shorter than its declared
// length or with a wrong checksum counts as a checksum error and changes nothing else (the
// result is then false).
bool DecodeSirfFrame(ParserHost& port, GpsSharedStatus& block, const uint8_t* frame,
                     uint32_t length, bool injected);

} // namespace tavro
