// How the hub sets up a serial port it reads a receiver on: queue sizes, time-outs and the
// line settings. The input port and the GPS search's scanning ports use exactly these, so a
// receiver found by the search reads the same once it is the input port.
#pragma once

#include "platform/SerialPort.h"

#include <stdint.h>

namespace tavro {

// Input and output queue sizes given to SetupComm.
inline constexpr uint32_t inputQueueSize = 1024;
inline constexpr uint32_t outputQueueSize = 1024;

// A read returns at once with what is buffered, so the timer loop never waits on the
// receiver; a write gives up after 10 s plus 1 ms per byte.
// Not inline (a copy per file): the shared section of an inline variable whose address is
// taken draws a false warning from the mingw-w64 linker under link-time optimisation.
constexpr platform::CommTimeouts inputPortTimeouts{platform::maxTimeout, 0, 0, 1, 10000};

// Bits of the DCB flags word that the hub decides: fBinary 1, fParity 1, fOutxCtsFlow 0,
// fOutxDsrFlow 0, fDtrControl enable, fOutX 0, fInX 0, fRtsControl enable, by clearing
// 0x232C and then setting 0x1013. fDsrSensitivity, fTXContinueOnXoff, fErrorChar, fNull and
// fAbortOnError keep what the system reported.
inline constexpr uint32_t inputLineFlagsClear = 0x232C;
inline constexpr uint32_t inputLineFlagsSet = 0x1013;

// Fills `state` (as GetCommState reported it) with the hub's line settings: the speed, data
// bits, parity and stop bits given, the flags above, XonChar 0x11, XoffChar 0x13, XonLim 0,
// XoffLim 384. DCBlength becomes 28.
void SetInputLine(platform::Dcb& state, uint32_t speed, uint8_t dataBits, uint8_t parity,
                  uint8_t stopBits);

// GetCommState (its result ignored, as a failed one leaves the record as it was), the line
// settings above, SetCommState. Returns whether SetCommState succeeded.
bool ConfigureSerialLine(platform::SerialPort& port, uint32_t speed, uint8_t dataBits,
                         uint8_t parity, uint8_t stopBits);

// SetupComm with the queue sizes and SetCommTimeouts with inputPortTimeouts; failures are not
// reported (the reads that follow show whether the port works).
void PrepareInputPort(platform::SerialPort& port);

} // namespace tavro
