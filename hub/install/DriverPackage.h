// The driver image carried at the end of the hub's own program file, as the installer reads
// it: the file is taken as two pieces into one buffer of 102,400 bytes, the first 55,296 bytes
// and at most the next 102,400 (the whole buffer), and the driver is the second piece from the
// first "MZ" 0x90 0x00 on. So the hub's own image must hold no such four bytes from offset
// 55,296 on, and the driver must end within 157,696 bytes of the file's start. The build checks
// exactly this when it appends the driver (hub/win32/PackageHub.cmake).
//
// The second piece was once 69,632 bytes (a window of 124,928): a hub that relays on arrival
// and serves the network no longer fits there beside its driver, and nothing but the hub reads
// its own file, so the piece takes what the buffer holds.
#pragma once

#include <stdint.h>

namespace tavro {

inline constexpr uint32_t packageFirstPiece = 0xD800; // 55,296 bytes
// The extractor's one buffer, which takes each piece in turn.
inline constexpr uint32_t packageBufferSize = 102400;
inline constexpr uint32_t packageSecondPiece = packageBufferSize;                 // 102,400 bytes
inline constexpr uint32_t packageWindow = packageFirstPiece + packageSecondPiece; // 157,696
static_assert(packageFirstPiece <= packageBufferSize && packageSecondPiece <= packageBufferSize);

// Where the driver image begins: the start of its DOS header as the linker writes it.
inline constexpr uint8_t driverSignature[4] = {0x4D, 0x5A, 0x90, 0x00};

// The build number recorded as "Version" together with "Sum".
inline constexpr uint32_t packageBuildNumber = 304;

// "Sum": the 32-bit sum, with wrap-around, of `length` bytes read as little-endian 32-bit
// words. A last word of fewer than four bytes counts with zeros in its missing high bytes.
uint32_t PackageSum(const uint8_t* bytes, uint32_t length);

// Offset of the first driverSignature that lies wholly within `length` bytes; `length` when
// there is none.
uint32_t FindDriverSignature(const uint8_t* bytes, uint32_t length);

} // namespace tavro
