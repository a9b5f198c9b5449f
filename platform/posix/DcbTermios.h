// The DCB in termios terms: which fields a terminal can carry and how. The line speed is
// not handled here (see LineSpeed.h).
#pragma once

#include "platform/SerialPort.h"

#include <termios.h>

namespace tavro::platform::posix {

// error::invalidParameter for values no UART produces (as Windows refuses them): speed 0,
// data bits outside 5..8, parity above space, stop bits above 2, 1.5 stop bits with more than
// 5 data bits, 2 stop bits with 5, equal XON and XOFF characters with XON/XOFF flow control.
uint32_t ValidateDcb(const Dcb& state);

// Raw bytes in both directions: no line editing, echo, signals or CR/LF translation, receiver
// on, modem status lines ignored. Character format and flow control are left alone.
void MakeRaw(termios& settings);

// Data bits, parity, stop bits, CRTSCTS (fOutxCtsFlow or RTS handshake), IXON (fOutX), IXOFF
// (fInX), INPCK (fParity with a parity), XON and XOFF characters; raw mode besides.
void ApplyDcb(const Dcb& state, termios& settings);

// Corrects `state` (what was last set) with what `settings` say for the fields termios
// carries; fields without a termios counterpart keep their value.
void ReadDcb(const termios& settings, Dcb& state);

// True when the device took the character format and flow control of `wanted` (some, like
// pseudo-terminals, force 8 data bits without parity).
bool SameLineFormat(const termios& wanted, const termios& actual);

} // namespace tavro::platform::posix
