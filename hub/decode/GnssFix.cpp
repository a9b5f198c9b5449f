// Position and time of a multi-constellation receiver. Receivers that send one GGA per
// constellation (a GPGGA and a GAGGA for the same epoch, each with its own satellite count)
// would make the block flicker between two solutions. The rule: the combined talker GN wins,
// then GP (and the other prefixes of GPS-only days), then the single-constellation talkers;
// a lower rank is taken only when nothing better came for talkerHoldMs, so a receiver that
// switches talkers (GN while it uses several systems, GP when only GPS) is followed after a
// pause of at most that long. GGA and GNS share one rank, RMC has its own, so a receiver that
// sends GNRMC with GPGGA still gives both.
#include "hub/decode/GnssSentences.h"

#include "hub/decode/NumberText.h"

namespace tavro {
namespace {

bool TalkerWins(TalkerPreference& preference, uint8_t rank, uint32_t now) {
    if (preference.rank != 0 && rank < preference.rank && now - preference.tick < talkerHoldMs) {
        return false;
    }
    preference.rank = rank;
    preference.tick = now;
    return true;
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
    if (a == 'B' && b == 'D') {
        return SkyTalker::Gb;
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

void DecodeGnssFix(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f,
                   const FixLayout& at, int32_t quality, bool injected) {
    GnssState& state = port.gnss;
    NoteFixSentence(state);
    if (!injected && !TalkerWins(state.position, PositionRank(f[0]), port.TickCount())) {
        return;
    }
    DecodeFix(block, f, at, quality);
    state.lastFixSats = block.satsUsed;
    // A GGA counts at most 12 satellites; the epoch's GSAs list them all.
    if (state.usedMerged && state.usedTotal > block.satsUsed) {
        block.satsUsed = state.usedTotal;
    }
}

void DecodeGnssRmc(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f, bool injected) {
    GnssState& state = port.gnss;
    NoteFixSentence(state);
    if (injected || TalkerWins(state.rmc, PositionRank(f[0]), port.TickCount())) {
        DecodeRmc(port, block, f);
    }
}

} // namespace tavro
