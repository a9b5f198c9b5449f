// What the decoder remembers between sentences of a multi-constellation receiver: which talker
// last gave the position, the satellites each constellation uses (one GSA per constellation),
// each constellation's GSV cycle and the satellites it last reported. Plain fixed-size data,
// kept in the port, so decoding never allocates.
#pragma once

#include "common/GpsSharedStatus.h"

#include <stdint.h>

namespace tavro {

// Systems as the NMEA 4.10 system id numbers them; 0 is a list whose system is not known.
enum class GnssSystem : uint8_t {
    Unknown = 0,
    Gps = 1, // with SBAS and, where a receiver puts them there, QZSS
    Glonass = 2,
    Galileo = 3,
    BeiDou = 4,
    Qzss = 5,
    NavIc = 6,
};
inline constexpr int gnssSystemCount = 7;

// Where GSV satellites come from: one view per talker.
enum class SkyTalker : uint8_t {
    Gp, // $GP and the other prefixes of GPS-only days
    Gl,
    Ga,
    Gb, // $GB, $BD, and $PQ lists without a system id
    Gq, // $GQ and $QZ
    Gi,
    Gn, // and $IN, whose solution is combined as well
};
inline constexpr int skyTalkerCount = 7;

// Block satellite ids (SatelliteId gives none from satelliteIdLimit on), one bit each.
struct SatelliteSet {
    static constexpr int limit = 1024;
    uint64_t words[limit / 64] = {};

    bool Has(int id) const {
        return id > 0 && id < limit && (words[id / 64] >> (id % 64) & 1) != 0;
    }
    // Adds `id`; false when it was in the set already or is no id.
    bool Add(int id) {
        if (id <= 0 || id >= limit) {
            return false;
        }
        uint64_t& word = words[id / 64];
        const uint64_t bit = uint64_t{1} << (id % 64);
        const bool added = (word & bit) == 0;
        word |= bit;
        return added;
    }
};

// The last talker a position (or RMC) was taken from, by rank, and when.
struct TalkerPreference {
    uint8_t rank = 0; // 0: none yet
    uint32_t tick = 0;
};

// The satellites one GSA (or its continuation) lists for one system.
struct UsedList {
    static constexpr int capacity = 24; // a GSA and one continuation
    uint16_t ids[capacity] = {};
    uint8_t count = 0;
    bool valid = false;
    uint32_t epoch = 0;
};

// One constellation's satellites in view, the union of its signals' cycles, each satellite
// once.
struct SkyView {
    static constexpr int capacity = 36; // nine GSV messages of four
    SatelliteEntry satellites[capacity] = {};
    uint8_t count = 0;
    uint16_t signals = 0; // bit per signal id merged in this epoch
    bool valid = false;
    uint32_t epoch = 0;
    uint32_t tick = 0; // host ticks of its last cycle
};

// The GSV messages of one cycle so far, each satellite once. The messages of a cycle may
// carry different signal ids (a receiver that lists a second signal's satellites at its end).
struct GsvCycle {
    SatelliteEntry satellites[SkyView::capacity] = {};
    uint8_t count = 0;
    uint8_t total = 0;
    uint8_t next = 0;     // message number expected next
    uint16_t signals = 0; // bit per signal id of its messages
    bool active = false;
    bool begun = false; // a cycle of this talker began since the port was made
};

// One satellite of the whole sky, beyond the block's twelve entries (ListGnssSky).
struct SkySatellite {
    SatelliteEntry entry;
    bool used; // in the fix: listed by a live GSA
};

// When the receiver last sent a kind of sentence (host ticks); what it sends decides where
// the fix's validity, time, position and state come from (GnssFix.cpp).
struct SentenceSeen {
    bool seen = false;
    uint32_t tick = 0;
};

struct GnssState {
    TalkerPreference position; // GGA and GNS
    TalkerPreference rmc;

    SentenceSeen rmcSeen;
    SentenceSeen fixSeen; // GGA or GNS
    SentenceSeen gsaSeen;
    int32_t fixTimeOfDay = -1; // of the last GGA or GNS taken, milliseconds; -1 without
    SentenceSeen binarySeen;   // the start of a binary message of another protocol

    // An epoch is one fix's worth of sentences: it begins with the first position sentence
    // after satellite sentences, or with a GSA for a system the epoch has already listed.
    uint32_t epoch = 1;
    bool skySinceFix = false;
    bool fixSinceGsa = true;
    uint8_t gsaSystems = 0; // bit per system listed by a GSA in this epoch
    uint8_t lastGsaSystem = 0;
    bool lastGsaFull = false;

    UsedList used[gnssSystemCount];
    SatelliteSet usedIds;    // rebuilt whenever the lists are published
    bool usedMerged = false; // the block holds the lists of several systems
    uint8_t usedTotal = 0;   // their satellites, counted once each
    uint8_t lastFixSats = 0; // satellites of the last GGA or GNS taken

    SkyView views[skyTalkerCount];
    GsvCycle cycles[skyTalkerCount];
    bool skyMerged = false; // the satellites table holds the views of several talkers
    // The table is made once per epoch, after the talker that came last in the epoch before;
    // a cycle committed after that waits for the next sentence that is no GSV.
    bool skyPending = false;
    uint8_t lastSkyTalker = 0xFF;  // of the commits in this epoch
    uint8_t finalSkyTalker = 0xFF; // the last one of the epoch before
};

} // namespace tavro
