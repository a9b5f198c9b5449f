#include "hub/time/ClockSync.h"

namespace tavro {
namespace {

constexpr uint16_t firstYear = 2012; // older dates come from receivers without almanac
constexpr uint16_t endYear = 2030;   // later ones from week-number rollovers
constexpr uint16_t arrivalAllowanceMs = 10;

} // namespace

void ClockSync(ParserHost& port, GpsSharedStatus& block) {
    if ((port.OptionFlags() & optionAutoTimeSync) == 0) {
        return;
    }
    if (port.timeSynced != 0) {
        return;
    }
    if (block.streamState <= static_cast<uint8_t>(StreamState::PortOpen)) {
        return;
    }
    if (block.fixState != static_cast<uint8_t>(FixState::Fix2D) &&
        block.fixState != static_cast<uint8_t>(FixState::Fix3D)) {
        return;
    }
    if (block.utcTime.wSecond != 0) {
        return;
    }
    if (port.relayHeld != 0) {
        return;
    }
    if (block.utcTime.wYear < firstYear || block.utcTime.wYear >= endYear) {
        return;
    }
    port.timeSynced = 1;
    // Read as it arrives, the sentence tells when its burst began: the receiver's epoch, up
    // to its own output delay. The time since then is what the sentence's time lags the
    // clock by, however long the burst took on the line. Otherwise a fixed allowance.
    // The time is a whole minute and the age below a second (BurstAge), so the sum carries
    // at most into the seconds.
    uint32_t burstAge = 0;
    if (port.BurstAge(burstAge) && burstAge < 1000 && block.utcTime.wMilliseconds < 1000) {
        uint32_t milliseconds = block.utcTime.wMilliseconds + burstAge;
        if (milliseconds >= 1000) {
            milliseconds -= 1000;
            ++block.utcTime.wSecond;
        }
        block.utcTime.wMilliseconds = static_cast<uint16_t>(milliseconds);
    } else {
        block.utcTime.wMilliseconds =
            static_cast<uint16_t>(block.utcTime.wMilliseconds + arrivalAllowanceMs);
    }
    const SystemTime utc = block.utcTime;
    // A refusal (no privilege) is final for this fix: retrying every second would not help.
    (void)port.Clock().SetSystemTime(utc);
}

} // namespace tavro
