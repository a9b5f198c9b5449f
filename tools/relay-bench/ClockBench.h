// The error of the clock setting of "Auto Time Sync" (see ClockBench.cpp).
#pragma once

#include <stdint.h>

namespace tavro::bench {

// Runs `count` settings with a receiver at `baud` and prints the error; 0 when it measured.
int ClockError(uint32_t baud, uint32_t count, bool immediate);

} // namespace tavro::bench
