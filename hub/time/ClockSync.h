// Setting the system clock from the receiver's time, once per acquired fix.
#pragma once

#include "common/GpsSharedStatus.h"
#include "hub/decode/ParserHost.h"

namespace tavro {

// Called at the end of every RMC that reported a valid fix. Sets the clock from the block's
// utcTime when "Auto Time Sync" is on, the clock was not set during this fix yet, a stream
// was recognised, the fix is 2D or 3D, the time is a whole minute, no client holds the
// relay, and the year is 2012 to 2029. Then timeSynced becomes 1 and the time the sentence
// took to arrive is added to the block's utcTime before it is handed to the clock: the age of
// its burst where the port measured it (ParserHost::BurstAge), else 10 ms.
// A failure to set the clock is not retried before the next loss of fix.
void ClockSync(ParserHost& port, GpsSharedStatus& block);

} // namespace tavro
