// The satellites of a multi-constellation receiver: which it uses (GSA) and which it sees
// (GSV), per system, merged into the block's one list and one table.
//
// Epochs: the GSAs of one fix follow each other; the next fix begins with its first position
// sentence after satellite sentences, or with a GSA for a system the epoch has listed already
// (a stream without position sentences). A system's lists stay in the block for one more
// epoch, so a GSA never shows only part of the epoch, and a system the receiver stops
// reporting is gone after two.
//
// Satellites in view are the satellites the GSVs list, each once: receivers list a satellite
// once per signal, and their count field counts those entries, not satellites.
//
// A receiver that reports GPS alone (one GSA, GSV from $GP only) fills the table as GPS-only
// receivers always did, message by message.
#include "hub/decode/GnssSentences.h"

#include "common/SatelliteIds.h"
#include "hub/decode/NumberText.h"

#include <string.h>

namespace tavro {
namespace {

// Some receivers send a constellation's GSVs only every few fixes (every fifth, at one fix a
// second), or fix several times a second: a view stays in the sky this long after its cycle
// as well.
constexpr uint32_t skyHoldMs = 10000;

template <typename List>
bool Live(const GnssState& state, const List& list) {
    return list.valid && list.epoch + 1 >= state.epoch;
}

bool Live(const GnssState& state, const SkyView& view, uint32_t now) {
    return Live(state, view) || (view.valid && now - view.tick < skyHoldMs);
}

uint8_t Saturated(int value) {
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// The system of each talker's satellites, in SkyTalker's order; GN's may be any.
constexpr GnssSystem talkerSystems[skyTalkerCount] = {
    GnssSystem::Gps,  GnssSystem::Glonass, GnssSystem::Galileo, GnssSystem::BeiDou,
    GnssSystem::Qzss, GnssSystem::NavIc,   GnssSystem::Unknown,
};

GnssSystem SystemOfTalker(SkyTalker talker) {
    return talkerSystems[static_cast<int>(talker)];
}

// The talker whose view holds `system`'s satellites (GPS's for Unknown).
SkyTalker TalkerOfSystem(GnssSystem system) {
    for (int t = 0; t < skyTalkerCount; ++t) {
        if (talkerSystems[t] == system && system != GnssSystem::Unknown) {
            return static_cast<SkyTalker>(t);
        }
    }
    return SkyTalker::Gp;
}

GnssSystem SystemOfId(int id) {
    switch (ConstellationOf(id)) {
    case Constellation::Gps:
    case Constellation::Sbas:
        return GnssSystem::Gps;
    case Constellation::Glonass:
        return GnssSystem::Glonass;
    case Constellation::Galileo:
        return GnssSystem::Galileo;
    case Constellation::BeiDou:
        return GnssSystem::BeiDou;
    case Constellation::Qzss:
        return GnssSystem::Qzss;
    case Constellation::NavIc:
        return GnssSystem::NavIc;
    case Constellation::Unknown:
        break;
    }
    return GnssSystem::Unknown;
}

// The NMEA 4.10 system id (field 18); else the talker's system; else, for GN, the system of
// the first satellite listed.
GnssSystem GsaSystem(const NmeaFields& f, SkyTalker talker, const GsaNumbers& list) {
    if (!f[18].empty()) {
        const int32_t id = TextToInt(f[18]);
        if (id >= 1 && id < gnssSystemCount) {
            return static_cast<GnssSystem>(id);
        }
    }
    if (talker != SkyTalker::Gn) {
        return SystemOfTalker(talker);
    }
    for (const int32_t number : list.numbers) {
        if (const int id = SatelliteId(GnssSystem::Unknown, number); id != 0) {
            return SystemOfId(id);
        }
    }
    return GnssSystem::Unknown;
}

bool IsUsed(const GnssState& state, int id) {
    return state.usedIds.Has(id);
}

uint16_t UsedEntries(const GpsSharedStatus& block, const GnssState& state) {
    if (!state.usedMerged && !state.skyMerged) {
        return 0;
    }
    uint16_t mask = 0;
    for (int k = 0; k < 12; ++k) {
        if (IsUsed(state, block.satellites[k].prn)) {
            mask = static_cast<uint16_t>(mask | 1u << k);
        }
    }
    return mask;
}

// The used lists of the live systems into usedIds, usedTotal and (ids that fit 8 bits, GPS
// and SBAS first, then GLONASS, QZSS and the rest) usedPrns.
void PublishUsed(GpsSharedStatus& block, GnssState& state, bool writeList) {
    state.usedIds = {};
    static constexpr GnssSystem order[gnssSystemCount] = {
        GnssSystem::Gps,    GnssSystem::Glonass, GnssSystem::Qzss,    GnssSystem::Galileo,
        GnssSystem::BeiDou, GnssSystem::NavIc,   GnssSystem::Unknown,
    };
    int total = 0;
    int listed = 0;
    for (const GnssSystem system : order) {
        const UsedList& list = state.used[static_cast<int>(system)];
        if (!Live(state, list)) {
            continue;
        }
        for (int i = 0; i < list.count; ++i) {
            const int id = list.ids[i];
            total += state.usedIds.Add(id) ? 1 : 0;
            if (writeList && id <= 255 && listed < 12) {
                block.usedPrns[listed++] = static_cast<uint8_t>(id);
            }
        }
    }
    if (writeList) {
        for (; listed < 12; ++listed) {
            block.usedPrns[listed] = 0;
        }
    }
    state.usedTotal = Saturated(total);
}

// The view's value as a table candidate: used first, then the stronger signal, then the
// lower id.
uint32_t Rank(const GnssState& state, const SatelliteEntry& satellite) {
    const uint32_t used = IsUsed(state, satellite.prn) ? 1 : 0;
    return used << 24 | uint32_t{Saturated(satellite.snr)} << 16 |
           static_cast<uint32_t>(0xFFFF - static_cast<uint16_t>(satellite.prn));
}

// The table from the live views: the twelve best candidates, shown used first and by id, so
// that an entry keeps its place while its signal changes.
void PublishSky(GpsSharedStatus& block, GnssState& state, uint32_t now) {
    struct Pick {
        uint32_t rank;
        SatelliteEntry entry;
    };
    Pick top[12];
    int picked = 0;
    SatelliteSet counted;
    int inView = 0;
    for (const SkyView& view : state.views) {
        if (!Live(state, view, now)) {
            continue;
        }
        for (int i = 0; i < view.count; ++i) {
            const SatelliteEntry& satellite = view.satellites[i];
            // The same satellite from two talkers (GN and its own) counts once and is one
            // candidate: only an id met before can be in `top`.
            const bool first = counted.Add(satellite.prn);
            inView += first ? 1 : 0;
            const uint32_t rank = Rank(state, satellite);
            if (picked == 12 && rank <= top[11].rank) {
                continue;
            }
            int at = first ? picked : 0;
            while (at < picked && top[at].entry.prn != satellite.prn) {
                ++at;
            }
            if (at < picked) {
                if (rank <= top[at].rank) {
                    continue;
                }
                memmove(&top[at], &top[at + 1],
                        sizeof(Pick) * static_cast<size_t>(picked - at - 1));
                --picked;
            }
            int slot = picked < 12 ? picked++ : 11;
            for (; slot > 0 && top[slot - 1].rank < rank; --slot) {
                top[slot] = top[slot - 1];
            }
            top[slot] = {rank, satellite};
        }
    }
    // Shown used first, then by id.
    for (int i = 1; i < picked; ++i) {
        const Pick pick = top[i];
        const auto before = [&](const Pick& a, const Pick& b) {
            const uint32_t usedA = a.rank >> 24;
            const uint32_t usedB = b.rank >> 24;
            return usedA != usedB ? usedA > usedB : a.entry.prn < b.entry.prn;
        };
        int j = i;
        for (; j > 0 && before(pick, top[j - 1]); --j) {
            top[j] = top[j - 1];
        }
        top[j] = pick;
    }
    for (int k = 0; k < 12; ++k) {
        block.satellites[k] = k < picked ? top[k].entry : SatelliteEntry{};
    }
    block.satsInView = Saturated(inView);
    state.skyMerged = true;
    block.usedEntries = UsedEntries(block, state);
}

// The same satellite seen again (another signal, another talker): it keeps its strongest
// signal and gets a position if it had none.
void MergeInto(SatelliteEntry& known, const SatelliteEntry& satellite) {
    if (satellite.snr > known.snr) {
        known.snr = satellite.snr;
    }
    if (known.elevation == 0 && known.azimuth == 0) {
        known.elevation = satellite.elevation;
        known.azimuth = satellite.azimuth;
    }
}

// Adds a satellite to a list that holds each satellite once (MergeInto when it is there).
void MergeSatellite(SatelliteEntry* list, uint8_t& count, const SatelliteEntry& satellite) {
    int at = 0;
    while (at < count && list[at].prn != satellite.prn) {
        ++at;
    }
    if (at == count) {
        if (count < SkyView::capacity) {
            list[count++] = satellite;
        }
        return;
    }
    MergeInto(list[at], satellite);
}

// A GSV cycle of one talker becomes its view: the first cycle of an epoch replaces the view,
// cycles of further signals are merged into it.
void CommitCycle(GnssState& state, SkyView& view, const GsvCycle& cycle, uint32_t now) {
    if (!view.valid || view.epoch != state.epoch || (view.signals & cycle.signals) != 0) {
        memcpy(view.satellites, cycle.satellites, sizeof(SatelliteEntry) * cycle.count);
        view.count = cycle.count;
        view.signals = cycle.signals;
    } else {
        for (int i = 0; i < cycle.count; ++i) {
            MergeSatellite(view.satellites, view.count, cycle.satellites[i]);
        }
        view.signals = static_cast<uint16_t>(view.signals | cycle.signals);
    }
    view.valid = true;
    view.epoch = state.epoch;
    view.tick = now;
}

uint8_t SignalId(std::string_view field) {
    if (field.empty()) {
        return 0;
    }
    const char c = field[0];
    return c >= '0' && c <= '9'   ? static_cast<uint8_t>(c - '0')
           : c >= 'A' && c <= 'F' ? static_cast<uint8_t>(c - 'A' + 10)
                                  : 0;
}

} // namespace

int SatelliteId(GnssSystem system, int32_t number) {
    // Numbers outside the ranges below name no satellite a reader could place: dropped.
    const auto within = [number](int32_t low, int32_t high) {
        return number >= low && number <= high;
    };
    switch (system) {
    case GnssSystem::Gps:
    case GnssSystem::Unknown:
        // GPS 1-32, SBAS 33-64 and 152-158, GLONASS 65-96, QZSS 193-202; SBAS PRNs 120-151
        // as NMEA numbers them. A list without system id may hold any of these, and the
        // other systems' block ids.
        if (within(120, 151)) {
            return number - 87;
        }
        if (within(1, 96) || within(152, 158) || within(193, 202) ||
            (system == GnssSystem::Unknown &&
             (within(301, 336) || within(401, 463) || within(501, 520)))) {
            return number;
        }
        return 0;
    case GnssSystem::Glonass:
        return within(1, 32) ? number + 64 : within(65, 96) ? number : 0;
    case GnssSystem::Galileo:
        // Some receivers number Galileo from 101 (a Quectel LC79D: 102, 103) or from 301.
        return within(1, 36)      ? number + 300
               : within(101, 136) ? number + 200
               : within(301, 336) ? number
                                  : 0;
    case GnssSystem::BeiDou:
        return within(1, 63)      ? number + 400
               : within(201, 263) ? number + 200
               : within(401, 463) ? number
                                  : 0;
    case GnssSystem::Qzss:
        return within(1, 10) ? number + 192 : within(193, 202) ? number : 0;
    case GnssSystem::NavIc:
        return within(1, 20) ? number + 500 : within(501, 520) ? number : 0;
    }
    return 0;
}

void DecodeGnssGsa(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f) {
    GnssState& state = port.gnss;
    GsaNumbers numbers;
    ReadGsaNumbers(f, numbers);
    const GnssSystem system = GsaSystem(f, SkyTalkerOf(f[0]), numbers);
    const int index = static_cast<int>(system);
    const uint8_t bit = static_cast<uint8_t>(1u << index);
    UsedList& list = state.used[index];
    // A full list followed at once by one of the same system continues it.
    const bool continuation =
        !state.fixSinceGsa && state.lastGsaSystem == index && state.lastGsaFull;
    if (!continuation) {
        if ((state.gsaSystems & bit) != 0) {
            ++state.epoch;
            state.gsaSystems = 0;
        }
        list.count = 0;
    }
    state.gsaSystems = static_cast<uint8_t>(state.gsaSystems | bit);
    state.skySinceFix = true;
    state.fixSinceGsa = false;
    bool full = true;
    for (const int32_t number : numbers.numbers) {
        const int id = SatelliteId(system, number);
        if (id == 0) {
            full = false;
        } else if (list.count < UsedList::capacity) {
            list.ids[list.count++] = static_cast<uint16_t>(id);
        }
    }
    state.lastGsaSystem = static_cast<uint8_t>(index);
    state.lastGsaFull = full;
    list.valid = true;
    list.epoch = state.epoch;

    // Mode, fix state and dilutions belong to the combined fix, the same in every GSA.
    DecodeGsa(block, port.precise, f, numbers);
    NoteSentence(state.gsaSeen, port.TickCount());
    int live = 0;
    for (const UsedList& other : state.used) {
        live += Live(state, other) ? 1 : 0;
    }
    if (live == 1 && system == GnssSystem::Gps) {
        // GPS alone: usedPrns as DecodeGsa wrote them, satsUsed as the GGA said.
        PublishUsed(block, state, false);
        state.usedMerged = false;
    } else {
        PublishUsed(block, state, true);
        state.usedMerged = true;
        block.satsUsed = state.lastFixSats > state.usedTotal ? state.lastFixSats : state.usedTotal;
    }
    block.usedEntries = UsedEntries(block, state);
}

void DecodeGnssGsv(ParserHost& port, GpsSharedStatus& block, const NmeaFields& f) {
    GnssState& state = port.gnss;
    const uint32_t now = port.TickCount();
    SkyTalker talker = SkyTalkerOf(f[0]);
    GnssSystem system = SystemOfTalker(talker);
    state.skySinceFix = true;

    // NMEA 4.10 ends the sentence with a signal id after the groups of four; some Quectel
    // receivers add the system id after that, and name the system by it alone ($PQGSV).
    const int count = f.Count();
    int satelliteEnd = count;
    uint8_t signal = 0;
    if (count >= 5 && (count - 4) % 4 == 1) {
        satelliteEnd = count - 1;
        signal = SignalId(f[count - 1]);
    } else if (count >= 6 && (count - 4) % 4 == 2) {
        satelliteEnd = count - 2;
        signal = SignalId(f[count - 2]);
        const int32_t id = TextToInt(f[count - 1]);
        if (id >= 1 && id < gnssSystemCount && id != static_cast<int>(GnssSystem::Gps)) {
            system = static_cast<GnssSystem>(id);
            talker = TalkerOfSystem(system);
        }
    }

    bool othersLive = false;
    for (int t = 0; t < skyTalkerCount; ++t) {
        othersLive = othersLive ||
                     (t != static_cast<int>(SkyTalker::Gp) && Live(state, state.views[t], now));
    }
    GsvGroups groups;
    ReadGsvGroups(f, satelliteEnd, groups);
    const bool gpsAlone = talker == SkyTalker::Gp && !othersLive;
    if (gpsAlone) {
        WriteGsvEntries(block, f, groups);
        state.skyMerged = false;
        block.usedEntries = UsedEntries(block, state);
    }

    GsvCycle& cycle = state.cycles[static_cast<int>(talker)];
    const int32_t total = TextToInt(f[1]);
    const int32_t message = TextToInt(f[2]);
    const bool counted = total >= 1 && total <= 9 && message >= 1 && message <= total;
    // A cycle begins with its first message; only the first cycle of a stream that was
    // joined in its middle is taken from where it was joined.
    if (counted && (message == 1 || (!cycle.begun && !cycle.active))) {
        cycle.count = 0;
        cycle.total = static_cast<uint8_t>(total);
        cycle.next = static_cast<uint8_t>(message);
        cycle.signals = 0;
        cycle.active = true;
        cycle.begun = true;
    }
    if (!cycle.active || message != cycle.next || total != cycle.total) {
        cycle.active = false;
        return;
    }
    // A satellite comes once per signal: only a cycle of several signals can list it twice.
    const uint16_t signalBit = static_cast<uint16_t>(1u << signal);
    const bool severalSignals = (cycle.signals | signalBit) != signalBit;
    cycle.signals = static_cast<uint16_t>(cycle.signals | signalBit);
    for (int k = 0; k < 4; ++k) {
        if (!groups.present[k]) {
            continue; // an empty group pads the last message
        }
        SatelliteEntry entry = groups.entry[k];
        entry.prn = static_cast<int16_t>(SatelliteId(system, groups.numbers[k]));
        if (entry.prn == 0) {
            continue;
        }
        if (severalSignals) {
            MergeSatellite(cycle.satellites, cycle.count, entry);
        } else if (cycle.count < SkyView::capacity) {
            cycle.satellites[cycle.count++] = entry;
        }
    }
    ++cycle.next;
    if (message != total) {
        return;
    }
    cycle.active = false;
    SkyView& view = state.views[static_cast<int>(talker)];
    CommitCycle(state, view, cycle, now);
    state.lastSkyTalker = static_cast<uint8_t>(talker);
    if (gpsAlone) {
        block.satsInView = view.count;
        return;
    }
    // Made once per epoch: at once after the talker that ended the last epoch's GSVs, else
    // with the next sentence that is no GSV (FlushGnssSky).
    if (state.lastSkyTalker == state.finalSkyTalker) {
        PublishSky(block, state, now);
        state.skyPending = false;
    } else {
        state.skyPending = true;
    }
}

int ListGnssSky(const GnssState& state, uint32_t now, SkySatellite* out, int capacity) {
    int count = 0;
    for (const SkyView& view : state.views) {
        if (!Live(state, view, now)) {
            continue;
        }
        for (int i = 0; i < view.count; ++i) {
            const SatelliteEntry& satellite = view.satellites[i];
            int at = 0;
            while (at < count && out[at].entry.prn != satellite.prn) {
                ++at;
            }
            if (at < count) {
                // The same satellite from GN and from its own talker.
                MergeInto(out[at].entry, satellite);
            } else if (count < capacity) {
                out[count++] = {satellite, IsUsed(state, satellite.prn)};
            }
        }
    }
    return count;
}

void FlushGnssSky(ParserHost& port, GpsSharedStatus& block) {
    if (port.gnss.skyPending) {
        port.gnss.skyPending = false;
        PublishSky(block, port.gnss, port.TickCount());
    }
}

} // namespace tavro
