// Position, validity and time of today's receivers ("Multi GNSS" on).
//
// Which talker: receivers that send one GGA per constellation (a GPGGA and a GAGGA for the
// same epoch, each with its own satellite count) would make the block flicker between two
// solutions. The rule: the combined talkers GN and IN win, then GP (and the other prefixes of
// GPS-only days), then the single-constellation talkers; a lower rank is taken only when
// nothing better came for talkerHoldMs, so a receiver that switches talkers (GN while it uses
// several systems, GP when only GPS) is followed after a pause of at most that long. GGA and
// GNS share one rank, RMC has its own, so a receiver that sends GNRMC with GPGGA still gives
// both.
//
// Which sentences: receivers send RMC, GGA, GNS, GLL and ZDA in every mix, some without RMC,
// some without GGA. What each sentence may set, given what else the receiver sends, is decided
// in one place (Takes below). A field the sentence leaves empty never overwrites a value: a
// receiver that loses its fix empties its position fields, and the last position stays.
#include "hub/decode/GnssSentences.h"

#include "hub/decode/CalendarTime.h"
#include "hub/decode/NumberText.h"

namespace tavro {
namespace {

bool StartsWith(std::string_view text, char c) {
    return !text.empty() && text[0] == c;
}

bool Recent(const SentenceSeen& seen, uint32_t now) {
    return seen.seen && now - seen.tick < sentenceGoneMs;
}

// The sentences that carry the fix.
enum class FixSentence : uint8_t {
    GgaOrGns,
    Rmc,
    Gll,
    Zda,
};

// What a sentence may set, given what else the receiver has sent within sentenceGoneMs.
struct Takes {
    bool validity; // fixValid
    bool time;     // utcTime
    bool position; // latitude and longitude
    bool fixState; // fix or no fix, where nothing better says 2D or 3D
};

// Whether a sentence of `timeOfDay` reports a later epoch than the last GGA or GNS (across
// midnight too).
bool LaterThanFix(const GnssState& state, int32_t timeOfDay) {
    constexpr int32_t day = 24 * 3600 * 1000;
    if (timeOfDay < 0 || state.fixTimeOfDay < 0) {
        return false;
    }
    const int32_t ahead = (timeOfDay - state.fixTimeOfDay + day) % day;
    return ahead > 0 && ahead < day / 2;
}

Takes WhatItTakes(FixSentence sentence, const GnssState& state, uint32_t now,
                  int32_t timeOfDay = -1) {
    const bool rmc = Recent(state.rmcSeen, now);
    const bool ggaOrGns = Recent(state.fixSeen, now);
    const bool gsa = Recent(state.gsaSeen, now);
    // GGA and GNS carry the position with its altitude and quality: RMC and GLL give it only
    // while none comes, or for a later epoch than the last one (receivers that send one
    // sentence a second in turn).
    const bool position = !ggaOrGns || LaterThanFix(state, timeOfDay);
    switch (sentence) {
    case FixSentence::Rmc:
        // RMC's status is the receiver's own validity flag, and RMC carries time and date
        // together.
        return {true, true, position, !ggaOrGns && !gsa};
    case FixSentence::GgaOrGns:
        // Without RMC, the fix quality (GNS: its mode) says whether the fix is valid, and the
        // time comes from here. The fix state follows GGA's rule of GPS-only days.
        return {!rmc, !rmc, true, false};
    case FixSentence::Gll:
        // For receivers that send neither RMC nor GGA/GNS (GLL's status says valid or not).
        return {!rmc && !ggaOrGns, !rmc && !ggaOrGns, position, !ggaOrGns && !gsa};
    case FixSentence::Zda:
        // The date with the time, where the time comes from GGA, GNS or GLL.
        return {false, !rmc, false, false};
    }
    return {};
}

bool TalkerWins(TalkerPreference& preference, uint8_t rank, uint32_t now) {
    if (preference.rank != 0 && rank < preference.rank && now - preference.tick < talkerHoldMs) {
        return false;
    }
    preference.rank = rank;
    preference.tick = now;
    return true;
}

// The time of day of a sentence without date, on the block's last date (ZDA's or RMC's); a
// time that falls back across midnight moves that date to the next day.
void StoreTimeWithoutDate(ParserHost& port, GpsSharedStatus& block, std::string_view time,
                          uint32_t now) {
    const SystemTime before = block.utcTime;
    if (!StoreTimeOfDay(block, port.precise, time, now) || !port.precise.hasDate) {
        return;
    }
    const auto secondOfDay = [](const SystemTime& t) {
        return (t.wHour * 60 + t.wMinute) * 60 + t.wSecond;
    };
    constexpr int halfDay = 12 * 3600;
    if (secondOfDay(block.utcTime) + halfDay < secondOfDay(before)) {
        uint16_t year = block.utcTime.wYear;
        uint16_t month = block.utcTime.wMonth;
        uint16_t day = block.utcTime.wDay;
        NextDay(year, month, day);
        StoreDate(block, port.precise, day, month, year);
    }
}

// A position sentence after satellite sentences begins the next epoch.
void NoteFixSentence(GnssState& state) {
    if (state.skySinceFix) {
        ++state.epoch;
        state.gsaSystems = 0;
        state.skySinceFix = false;
        state.finalSkyTalker = state.lastSkyTalker;
    }
    state.fixSinceGsa = true;
}

} // namespace

uint8_t PositionRank(std::string_view address) {
    if (address.size() < 3) {
        return 2;
    }
    switch (SkyTalkerOf(address)) {
    case SkyTalker::Gn:
        return 3;
    case SkyTalker::Gp:
        return 2;
    default:
        return 1;
    }
}

SkyTalker SkyTalkerOf(std::string_view address) {
    if (address.size() < 3) {
        return SkyTalker::Gp;
    }
    const char a = address[1];
    const char b = address[2];
    if ((a == 'B' && b == 'D') || (a == 'P' && b == 'Q')) {
        return SkyTalker::Gb;
    }
    if (a == 'Q' && b == 'Z') {
        return SkyTalker::Gq;
    }
    if (a == 'I' && b == 'N') {
        return SkyTalker::Gn;
    }
    if (a != 'G') {
        return SkyTalker::Gp;
    }
    switch (b) {
    case 'N':
        return SkyTalker::Gn;
    case 'L':
        return SkyTalker::Gl;
    case 'A':
        return SkyTalker::Ga;
    case 'B':
        return SkyTalker::Gb;
    case 'Q':
        return SkyTalker::Gq;
    case 'I':
        return SkyTalker::Gi;
    default:
        return SkyTalker::Gp;
    }
}

void NoteSentence(SentenceSeen& seen, uint32_t now) {
    seen.seen = true;
    seen.tick = now;
}

void DecodeGnssFix(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f,
                   const FixLayout& at, int32_t quality, bool injected) {
    GnssState& state = port.gnss;
    const uint32_t now = port.TickCount();
    NoteFixSentence(state);
    NoteSentence(state.fixSeen, now);
    if (!injected && !TalkerWins(state.position, PositionRank(f[0]), now)) {
        return;
    }
    const Takes takes = WhatItTakes(FixSentence::GgaOrGns, state, now);
    state.fixTimeOfDay = TimeOfDayMilliseconds(f[1]);
    if (takes.validity) {
        SetValidity(port, block, quality > 0);
        port.FixReported(quality > 0, state.fixTimeOfDay);
    }
    if (takes.time) {
        StoreTimeWithoutDate(port, block, f[1], now);
    }
    DecodeFix(block, port.precise, f, at, quality, Reading::Today);
    state.lastFixSats = block.satsUsed;
    // A GGA counts at most 12 satellites; the epoch's GSAs list them all.
    if (state.usedMerged && state.usedTotal > block.satsUsed) {
        block.satsUsed = state.usedTotal;
    }
}

void DecodeGnssRmc(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f, bool injected) {
    GnssState& state = port.gnss;
    const uint32_t now = port.TickCount();
    NoteFixSentence(state);
    NoteSentence(state.rmcSeen, now);
    if (!injected && !TalkerWins(state.rmc, PositionRank(f[0]), now)) {
        return;
    }
    const Takes takes = WhatItTakes(FixSentence::Rmc, state, now, TimeOfDayMilliseconds(f[1]));
    DecodeRmc(port, block, f, Reading::Today, takes.position, takes.fixState);
}

bool GnssSentenceCounts(ParserHost& port, bool gll) {
    // Its fields are not even split where the rules below could take nothing from it.
    const GnssState& state = port.gnss;
    const uint32_t now = port.TickCount();
    return !Recent(state.rmcSeen, now) || (gll && !Recent(state.fixSeen, now));
}

void DecodeGnssGll(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f) {
    // 1-4 position, 5 time, 6 status, 7 mode (NMEA 2.3: "N" for data that is not valid).
    const uint32_t now = port.TickCount();
    const Takes takes = WhatItTakes(FixSentence::Gll, port.gnss, now, TimeOfDayMilliseconds(f[5]));
    const bool valid = StartsWith(f[6], 'A') && !StartsWith(f[7], 'N');
    if (takes.validity) {
        SetValidity(port, block, valid);
        port.FixReported(valid, TimeOfDayMilliseconds(f[5]));
    }
    if (takes.time) {
        StoreTimeWithoutDate(port, block, f[5], now);
    }
    if (takes.position && valid && block.fixValid != 0) {
        StorePosition(block, port.precise, f, 1, 3, Reading::Today);
    }
    if (takes.fixState) {
        SetFixOrNone(block, valid);
    }
}

void DecodeGnssZda(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f) {
    // 1 time, 2 day, 3 month, 4 year (four digits), 5 and 6 the local zone.
    const uint32_t now = port.TickCount();
    const Takes takes = WhatItTakes(FixSentence::Zda, port.gnss, now);
    const int32_t day = TextToInt(f[2]);
    const int32_t month = TextToInt(f[3]);
    const int32_t year = TextToInt(f[4]);
    if (!takes.time || f[1].size() < 6 || day < 1 || day > 31 || month < 1 || month > 12 ||
        year < 1980 || year > 9999) {
        return;
    }
    StoreTimeOfDay(block, port.precise, f[1], now);
    StoreDate(block, port.precise, static_cast<uint16_t>(day), static_cast<uint16_t>(month),
              static_cast<uint16_t>(year));
    // Date and time together: the one sentence besides RMC the clock may be set from.
    if (block.fixValid != 0) {
        port.SyncClock(block);
        port.FixTimed();
    }
}

} // namespace tavro
