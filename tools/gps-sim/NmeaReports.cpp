#include "tools/gps-sim/NmeaReports.h"

#include "tools/gps-sim/NmeaSentence.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace tavro::gpssim {
namespace {

struct UtcParts {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

UtcParts SplitUtc(int64_t utcMs) {
    int64_t seconds = utcMs / 1000;
    int64_t milliseconds = utcMs % 1000;
    if (milliseconds < 0) {
        milliseconds += 1000;
        seconds -= 1;
    }
    const time_t whole = static_cast<time_t>(seconds);
    tm broken{};
    gmtime_r(&whole, &broken);
    UtcParts parts;
    parts.year = broken.tm_year + 1900;
    parts.month = broken.tm_mon + 1;
    parts.day = broken.tm_mday;
    parts.hour = broken.tm_hour;
    parts.minute = broken.tm_min;
    parts.second = broken.tm_sec;
    parts.millisecond = static_cast<int>(milliseconds);
    return parts;
}

std::string TimeField(const FixSnapshot& fix) {
    const UtcParts t = SplitUtc(fix.utcMs);
    return Format("%02d%02d%02d.%03d", t.hour, t.minute, t.second, t.millisecond);
}

std::string DateField(const FixSnapshot& fix) {
    const UtcParts t = SplitUtc(fix.utcMs);
    return Format("%02d%02d%02d", t.day, t.month, t.year % 100);
}

// "ddmm.mmmm,N" or "dddmm.mmmm,E": rounded once, in ten-thousandths of a minute, so the
// minutes never print as 60.
std::string Coordinate(double value, int degreeDigits, char positive, char negative) {
    const long long units = std::llround(std::fabs(value) * 60.0 * 10000.0);
    const long long wholeDegrees = units / 600000;
    const long long minuteUnits = units % 600000;
    return Format("%0*lld%02lld.%04lld,%c", degreeDigits, wholeDegrees, minuteUnits / 10000,
                  minuteUnits % 10000, value < 0 ? negative : positive);
}

std::string Position(const FixSnapshot& fix) {
    return Coordinate(fix.latitude, 2, 'N', 'S') + "," + Coordinate(fix.longitude, 3, 'E', 'W');
}

bool HasFix(const FixSnapshot& fix) {
    return fix.fix != FixMode::None;
}

} // namespace

std::string GgaSentence(const FixSnapshot& fix) {
    if (!HasFix(fix)) {
        return FrameSentence("GPGGA," + TimeField(fix) + ",,,,,0,00,,,M,,M,,");
    }
    return FrameSentence(Format("GPGGA,%s,%s,1,%02d,%.2f,%.1f,M,%.1f,M,,", TimeField(fix).c_str(),
                                Position(fix).c_str(), UsedCount(fix), fix.hdop, fix.altitude,
                                fix.geoidSeparation));
}

std::string GllSentence(const FixSnapshot& fix) {
    if (!HasFix(fix)) {
        return FrameSentence("GPGLL,,,,," + TimeField(fix) + ",V,N");
    }
    return FrameSentence("GPGLL," + Position(fix) + "," + TimeField(fix) + ",A,A");
}

std::string GsaSentence(const FixSnapshot& fix) {
    const int mode = fix.fix == FixMode::Fix3D ? 3 : fix.fix == FixMode::Fix2D ? 2 : 1;
    std::string body = Format("GPGSA,A,%d", mode);
    int listed = 0;
    for (const SatelliteView& satellite : fix.satellites) {
        if (satellite.used && listed < 12) {
            body += Format(",%02d", satellite.prn);
            ++listed;
        }
    }
    for (; listed < 12; ++listed) {
        body += ',';
    }
    if (HasFix(fix)) {
        body += Format(",%.2f,%.2f,%.2f", fix.pdop, fix.hdop, fix.vdop);
    } else {
        body += ",,,";
    }
    return FrameSentence(body);
}

std::vector<std::string> GsvSentences(const FixSnapshot& fix) {
    const size_t inView = fix.satellites.size() < 12 ? fix.satellites.size() : 12;
    const size_t messages = inView == 0 ? 1 : (inView + 3) / 4;
    std::vector<std::string> sentences;
    for (size_t message = 0; message < messages; ++message) {
        std::string body = Format("GPGSV,%zu,%zu,%02zu", messages, message + 1, inView);
        for (size_t k = message * 4; k < inView && k < message * 4 + 4; ++k) {
            const SatelliteView& satellite = fix.satellites[k];
            body +=
                Format(",%02d,%02d,%03d,", satellite.prn, satellite.elevation, satellite.azimuth);
            if (satellite.snr > 0) {
                body += Format("%02d", satellite.snr);
            }
        }
        sentences.push_back(FrameSentence(body));
    }
    return sentences;
}

std::string RmcSentence(const FixSnapshot& fix) {
    if (!HasFix(fix)) {
        return FrameSentence("GPRMC," + TimeField(fix) + ",V,,,,,,," + DateField(fix) + ",,,N");
    }
    return FrameSentence(Format("GPRMC,%s,A,%s,%.2f,%.2f,%s,,,A", TimeField(fix).c_str(),
                                Position(fix).c_str(), fix.speedKnots, fix.course,
                                DateField(fix).c_str()));
}

std::string VtgSentence(const FixSnapshot& fix) {
    if (!HasFix(fix)) {
        return FrameSentence("GPVTG,,T,,M,,N,,K,N");
    }
    return FrameSentence(Format("GPVTG,%.2f,T,,M,%.2f,N,%.2f,K,A", fix.course, fix.speedKnots,
                                fix.speedKnots * 1.852));
}

std::string ZdaSentence(const FixSnapshot& fix) {
    const UtcParts t = SplitUtc(fix.utcMs);
    return FrameSentence(
        Format("GPZDA,%s,%02d,%02d,%04d,,", TimeField(fix).c_str(), t.day, t.month, t.year));
}

std::string GrsSentence(const FixSnapshot& fix) {
    std::string body = "GPGRS," + TimeField(fix) + ",1";
    int listed = 0;
    for (const SatelliteView& satellite : fix.satellites) {
        if (satellite.used && listed < 12) {
            // Range residuals of a few metres, smaller for high satellites.
            const double residual =
                std::sin(static_cast<double>(fix.utcMs) / 7000.0 + satellite.prn) *
                (4.0 - satellite.elevation / 30.0);
            body += Format(",%.1f", residual);
            ++listed;
        }
    }
    for (; listed < 12; ++listed) {
        body += ',';
    }
    return FrameSentence(body);
}

std::string GstSentence(const FixSnapshot& fix) {
    if (!HasFix(fix)) {
        return FrameSentence("GPGST," + TimeField(fix) + ",,,,,,,");
    }
    const double sigma = 2.5 * fix.hdop;
    return FrameSentence(Format("GPGST,%s,%.1f,%.1f,%.1f,%.1f,%.1f,%.1f,%.1f",
                                TimeField(fix).c_str(), sigma * 0.8, sigma * 1.3, sigma * 0.7,
                                fix.course, sigma, sigma * 1.1, 1.5 * sigma * fix.vdop / fix.hdop));
}

std::string ChnSentence(const FixSnapshot& fix) {
    // 32 channels, each PRN (2 digits), SNR (2 digits) and use (1 tracked, 2 in the fix).
    std::string body = "PMTKCHN";
    size_t channel = 0;
    for (const SatelliteView& satellite : fix.satellites) {
        if (channel == 32) {
            break;
        }
        body += Format(",%02d%02d%d", satellite.prn, satellite.snr > 99 ? 99 : satellite.snr,
                       satellite.used ? 2 : 1);
        ++channel;
    }
    for (; channel < 32; ++channel) {
        body += ",00000";
    }
    return FrameSentence(body);
}

std::vector<std::string> EpochSentences(const FixSnapshot& fix, const SentenceRates& rates,
                                        uint64_t fixIndex) {
    const auto due = [&](SentenceSlot slot) {
        return rates[slot] != 0 && fixIndex % rates[slot] == 0;
    };
    std::vector<std::string> sentences;
    if (due(slotGga)) {
        sentences.push_back(GgaSentence(fix));
    }
    if (due(slotGll)) {
        sentences.push_back(GllSentence(fix));
    }
    if (due(slotGsa)) {
        sentences.push_back(GsaSentence(fix));
    }
    if (due(slotGsv)) {
        for (std::string& sentence : GsvSentences(fix)) {
            sentences.push_back(std::move(sentence));
        }
    }
    if (due(slotRmc)) {
        sentences.push_back(RmcSentence(fix));
    }
    if (due(slotVtg)) {
        sentences.push_back(VtgSentence(fix));
    }
    if (due(slotZda)) {
        sentences.push_back(ZdaSentence(fix));
    }
    if (due(slotGrs)) {
        sentences.push_back(GrsSentence(fix));
    }
    if (due(slotGst)) {
        sentences.push_back(GstSentence(fix));
    }
    if (due(slotChn)) {
        sentences.push_back(ChnSentence(fix));
    }
    return sentences;
}

} // namespace tavro::gpssim
