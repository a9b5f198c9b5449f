// errno values in the Win32 terms the rest of the system uses.
#pragma once

#include <stdint.h>

namespace tavro::platform::posix {

// The closest Win32 error code for an errno value, error::genFailure when there is none; the
// errno is noted beside it (platform::NoteSystemError), so that it can still be told.
uint32_t ErrorFromErrno(int code);

// What a Win32 error code of this edition means, in the words of the system's own messages
// ("permission denied or device busy"): each code stands for the errno values ErrorFromErrno
// gives it. Codes without such words read "unexpected failure (code N)". For messages to users,
// who never see Win32 numbers otherwise.
void ErrorText(uint32_t code, char (&text)[96]);

} // namespace tavro::platform::posix
