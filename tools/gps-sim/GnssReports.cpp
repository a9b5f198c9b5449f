#include "tools/gps-sim/GnssReports.h"

#include "tools/gps-sim/NmeaReports.h"
#include "tools/gps-sim/NmeaSentence.h"

#include <algorithm>

namespace tavro::gpssim {
namespace {

struct SystemTalk {
    SkySystem system;
    const char* gsvTalker;
    int systemId; // NMEA 4.11
    int signalId; // the signal a default u-blox reports: L1 C/A, L1OF, E1, B1I
};
constexpr SystemTalk talks[] = {
    {SkySystem::Gps, "GP", 1, 1},
    {SkySystem::Glonass, "GL", 2, 1},
    {SkySystem::Galileo, "GA", 3, 7},
    {SkySystem::BeiDou, "GB", 4, 1},
};

bool HasFix(const FixSnapshot& fix) {
    return fix.fix != FixMode::None;
}

// A GP sentence of the GPS-only receiver with the talker GN.
std::string Combined(const std::string& sentence) {
    const size_t star = sentence.rfind('*');
    if (sentence.size() < 4 || star == std::string::npos) {
        return sentence;
    }
    return FrameSentence("GN" + sentence.substr(3, star - 3));
}

// "hhmmss.ss,lat,N,lon,E" parts as the GP sentences of the same fix have them.
std::string Field(const std::string& sentence, size_t index) {
    const std::vector<std::string_view> fields =
        SplitFields(std::string_view(sentence).substr(1, sentence.rfind('*') - 1));
    return index < fields.size() ? std::string(fields[index]) : std::string();
}

std::string Fields(const std::string& sentence, size_t first, size_t count) {
    std::string text;
    for (size_t i = first; i < first + count; ++i) {
        text += (i == first ? "" : ",") + Field(sentence, i);
    }
    return text;
}

} // namespace

std::string GnRmcSentence(const FixSnapshot& fix) {
    // The MTK-style RMC of the same fix, with the NMEA 4.11 navigational status after the mode.
    const std::string rmc = RmcSentence(fix);
    return FrameSentence("GNRMC," + Fields(rmc, 1, 12) + ",V");
}

std::string GnGgaSentence(const FixSnapshot& fix) {
    if (!HasFix(fix)) {
        return Combined(GgaSentence(fix));
    }
    const std::string gga = GgaSentence(fix);
    const int used = std::min(UsedCount(fix), 12);
    return FrameSentence("GNGGA," + Fields(gga, 1, 6) + Format(",%02d,", used) + Fields(gga, 8, 7));
}

std::vector<std::string> GnGsaSentences(const FixSnapshot& fix, uint32_t systems) {
    const int mode = fix.fix == FixMode::Fix3D ? 3 : fix.fix == FixMode::Fix2D ? 2 : 1;
    std::vector<std::string> sentences;
    for (const SystemTalk& talk : talks) {
        if ((systems & SystemBit(talk.system)) == 0) {
            continue;
        }
        std::string body = Format("GNGSA,A,%d", mode);
        int listed = 0;
        for (const SatelliteView& satellite : fix.satellites) {
            if (satellite.system == talk.system && satellite.used && listed < 12) {
                body += Format(",%02d", satellite.prn);
                ++listed;
            }
        }
        for (; listed < 12; ++listed) {
            body += ',';
        }
        body += HasFix(fix) ? Format(",%.2f,%.2f,%.2f", fix.pdop, fix.hdop, fix.vdop)
                            : std::string(",99.99,99.99,99.99");
        body += Format(",%d", talk.systemId);
        sentences.push_back(FrameSentence(body));
    }
    return sentences;
}

std::vector<std::string> GnssGsvSentences(const FixSnapshot& fix, uint32_t systems) {
    std::vector<std::string> sentences;
    for (const SystemTalk& talk : talks) {
        if ((systems & SystemBit(talk.system)) == 0) {
            continue;
        }
        std::vector<const SatelliteView*> seen;
        for (const SatelliteView& satellite : fix.satellites) {
            if (satellite.system == talk.system) {
                seen.push_back(&satellite);
            }
        }
        const size_t messages = seen.empty() ? 1 : (seen.size() + 3) / 4;
        for (size_t message = 0; message < messages; ++message) {
            std::string body =
                Format("%sGSV,%zu,%zu,%02zu", talk.gsvTalker, messages, message + 1, seen.size());
            for (size_t k = message * 4; k < seen.size() && k < message * 4 + 4; ++k) {
                const SatelliteView& satellite = *seen[k];
                body += Format(",%02d,%02d,%03d,", satellite.prn, satellite.elevation,
                               satellite.azimuth);
                if (satellite.snr > 0) {
                    body += Format("%02d", satellite.snr);
                }
            }
            body += Format(",%d", talk.signalId);
            sentences.push_back(FrameSentence(body));
        }
    }
    return sentences;
}

std::vector<std::string> GnssEpochSentences(const FixSnapshot& fix, const SentenceRates& rates,
                                            uint64_t fixIndex, uint32_t systems) {
    const auto due = [&](SentenceSlot slot) {
        return rates[slot] != 0 && fixIndex % rates[slot] == 0;
    };
    std::vector<std::string> sentences;
    const auto add = [&](std::vector<std::string> more) {
        sentences.insert(sentences.end(), more.begin(), more.end());
    };
    if (due(slotRmc)) {
        sentences.push_back(GnRmcSentence(fix));
    }
    if (due(slotVtg)) {
        sentences.push_back(Combined(VtgSentence(fix)));
    }
    if (due(slotGga)) {
        sentences.push_back(GnGgaSentence(fix));
    }
    if (due(slotGsa)) {
        add(GnGsaSentences(fix, systems));
    }
    if (due(slotGsv)) {
        add(GnssGsvSentences(fix, systems));
    }
    if (due(slotGll)) {
        sentences.push_back(Combined(GllSentence(fix)));
    }
    if (due(slotZda)) {
        sentences.push_back(Combined(ZdaSentence(fix)));
    }
    if (due(slotGrs)) {
        sentences.push_back(Combined(GrsSentence(fix)));
    }
    if (due(slotGst)) {
        sentences.push_back(Combined(GstSentence(fix)));
    }
    if (due(slotChn)) {
        sentences.push_back(ChnSentence(fix));
    }
    return sentences;
}

} // namespace tavro::gpssim
