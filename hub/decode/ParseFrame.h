// The hub's decoder for everything the receiver sends: NMEA 0183 sentences and SiRF binary.
#pragma once

#include "hub/decode/ParserHost.h"

#include <stdint.h>

namespace tavro {

// Decodes one frame into the port's status block: a sentence through its line feed or a SiRF
// frame through its final 0xB3, `length` bytes (at most 510 from the input port, though any
// length is handled). `injected` is true for frames other programs hand in with InjectFrame.
//
// The frame is only read: fields are taken as views, never cut in place, so the caller's
// buffer may be read-only and keeps its bytes. The text of a sentence ends at its first zero
// byte or at `length`, whichever comes first; nothing beyond `length` is read.
//
// False when the frame was neither decoded nor relayed: it failed its verification (an NMEA
// checksum, a SiRF checksum or declared length), which is counted as a checksum error, or,
// with "Multi GNSS" on, it held no sentence to verify (an empty line, text, a sentence cut off
// before its checksum), which is not.
bool ParseFrame(ParserHost& port, const uint8_t* frame, uint32_t length, bool injected);

} // namespace tavro
