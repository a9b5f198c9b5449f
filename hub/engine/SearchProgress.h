// The main window's line while a GPS search runs: every port the search knows, with the speed
// its thread is trying, e.g. "1 4800, [3 38400], 4 ?, ".
#pragma once

#include "hub/engine/HubContext.h"

#include <stdint.h>

namespace tavro {

// At most 99 characters and the terminating zero.
inline constexpr uint32_t searchProgressSize = 100;

// For each COM number n from 1 to 255 whose portScanState s is not 0: "%d ?, " (n) while s is
// 1 (present, not answering yet); otherwise n and speedTable[s - 2], as "[%d %d], " for
// foundPort and "%d %d, " for the others. Entries are added while the text is shorter than 98
// characters; an entry that would run past 99 characters is cut there. A state beyond the last
// speed (no thread writes one) is shown as not answering rather than read past the table.
void FormatSearchProgress(const SearchValues& values, char (&text)[searchProgressSize]);

} // namespace tavro
