// Sentences of multi-constellation receivers ("Multi GNSS" on). Such a receiver computes one
// combined fix, reports it with the talker GN (sometimes also per constellation), lists the
// satellites it uses in one GSA per constellation and those it sees in one GSV cycle per
// constellation and signal. The block describes the combined fix and all constellations.
#pragma once

#include "common/GpsSharedStatus.h"
#include "hub/decode/NmeaFields.h"
#include "hub/decode/NmeaSentences.h"
#include "hub/decode/ParserHost.h"

namespace tavro {

// How long a better talker keeps the position: a sentence from a talker of a lower rank is
// taken only when no better one gave the position for this long.
inline constexpr uint32_t talkerHoldMs = 3000;

// How long a kind of sentence counts as sent by the receiver after its last one: a receiver
// that stops sending RMC or GGA was set up so; one or two lost to noise do not make it so.
inline constexpr uint32_t sentenceGoneMs = 3000;

// Marks a kind of sentence as sent at `now` (host ticks).
void NoteSentence(SentenceSeen& seen, uint32_t now);

// GGA or GNS: the fix, when its talker wins (see PositionRank) or the frame is `injected`
// (another program means it to count; it does not change which talker wins); the satellites
// used are the epoch's GSA count where that is larger (a GGA counts at most 12). Without RMC
// also validity and time.
void DecodeGnssFix(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f,
                   const FixLayout& at, int32_t quality, bool injected);

// RMC, when its talker wins or it is injected: validity, time, date, speed and course; the
// position without GGA or GNS.
void DecodeGnssRmc(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f, bool injected);

// Whether a GLL (`gll`) or ZDA may set anything now, given what else the receiver sends.
bool GnssSentenceCounts(ParserHost& port, bool gll);

// GLL: validity, time and position for receivers without RMC and GGA/GNS.
void DecodeGnssGll(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f);

// ZDA: time and date for receivers without RMC.
void DecodeGnssZda(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f);

// GSA: one list per system (the NMEA 4.10 system id, else the talker, else the ids' range);
// usedPrns, satsUsed and usedEntries describe the lists of the whole epoch.
void DecodeGnssGsa(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f);

// GSV: one cycle per talker, a trailing signal id never a satellite; satsInView is the sum
// over the talkers, and the twelve entries the satellites used first, then the strongest.
void DecodeGnssGsv(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f);

// Makes the satellites table from cycles committed but not shown yet; called for every
// sentence that is no GSV.
void FlushGnssSky(ParserHost& port, GpsSharedStatus& block);

// Every satellite of the live views, each once (its strongest signal), in no particular order;
// at most `capacity`. Returns how many were written; 0 when the views are not in use (SiRF
// binary, "Multi GNSS" off), where the block's table is the whole sky known.
int ListGnssSky(const GnssState& state, uint32_t now, SkySatellite* out, int capacity);

// ---- Talkers and ids (SatelliteIds.h) ------------------------------------------------------

// 3 for GN and IN (a combined fix), 1 for one constellation's talker (GL, GA, GB, BD, GQ, QZ,
// GI, PQ), 2 for GP and the other prefixes. A position sentence is taken from the highest rank
// heard within talkerHoldMs.
uint8_t PositionRank(std::string_view address);

SkyTalker SkyTalkerOf(std::string_view address);

// The block's id of satellite number `number` as a sentence of `system` gives it: the system's
// NMEA numbers, and the other numberings receivers use for it (Galileo 101-136 and 301-336,
// BeiDou 201-263 and 401-463 ...), are mapped into its range; Unknown (a GN list without
// system id) takes numbers as they are, in the block's own ranges. 0, and the satellite is
// left out, for any other number: it names no satellite a reader could place.
int SatelliteId(GnssSystem system, int32_t number);

} // namespace tavro
