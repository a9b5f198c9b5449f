#include "setup/posix/FeltroArguments.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tavro::feltro {
namespace {

using namespace setup;

// A whole decimal number without sign, blanks or excess; false for anything else.
bool ParseWhole(const char* text, size_t length, unsigned long& value) {
    if (length == 0 || length > 9) {
        return false;
    }
    value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
        value = value * 10 + static_cast<unsigned long>(text[i] - '0');
    }
    return true;
}

bool EndsWith(const char* text, size_t length, const char* suffix, size_t& stem) {
    const size_t suffixLength = std::strlen(suffix);
    if (length < suffixLength) {
        return false;
    }
    for (size_t i = 0; i < suffixLength; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[length - suffixLength + i])) !=
            suffix[i]) {
            return false;
        }
    }
    stem = length - suffixLength;
    return true;
}

} // namespace

bool ParseLineSpeed(const char* text, size_t& index) {
    unsigned long speed = 0;
    if (text == nullptr || !ParseWhole(text, std::strlen(text), speed)) {
        return false;
    }
    const int found = LineSpeedIndex(static_cast<uint32_t>(speed));
    if (found < 0) {
        return false;
    }
    index = static_cast<size_t>(found);
    return true;
}

bool ParseFixRate(const char* text, size_t& index) {
    if (text == nullptr) {
        return false;
    }
    const size_t length = std::strlen(text);
    size_t stem = length;
    unsigned long value = 0;
    bool hertz = false;
    bool milliseconds = false;
    if (EndsWith(text, length, "hz", stem)) {
        hertz = true;
    } else if (EndsWith(text, length, "ms", stem)) {
        milliseconds = true;
    }
    if (!ParseWhole(text, stem, value)) {
        return false;
    }
    if (!hertz && !milliseconds) {
        hertz = value <= fixRateCount;
    }
    if (hertz) {
        if (value < 1 || value > fixRateCount) {
            return false;
        }
        index = value - 1;
        return true;
    }
    for (size_t i = 0; i < fixRateCount; ++i) {
        if (static_cast<unsigned long>(fixIntervals[i]) == value) {
            index = i;
            return true;
        }
    }
    return false;
}

bool ParseRateAssignments(const std::vector<std::string>& words,
                          std::vector<RateAssignment>& assignments, std::string& error) {
    assignments.clear();
    bool named[sentenceSlotCount] = {};
    for (const std::string& word : words) {
        const size_t equals = word.find('=');
        if (equals == std::string::npos) {
            error = "\"" + word + "\" is not NAME=RATE";
            return false;
        }
        const std::string label = word.substr(0, equals);
        const std::string rateText = word.substr(equals + 1);
        const int slot = SlotOfLabel(label.c_str());
        if (slot < 0) {
            error = "no sentence \"" + label + "\" (GLL RMC VTG GGA GSA GSV GRS GST ZDA CHN)";
            return false;
        }
        unsigned long rate = 0;
        if (!ParseWhole(rateText.c_str(), rateText.size(), rate) ||
            rate > static_cast<unsigned long>(maxListedRate)) {
            error = "the rate of " + label + " must be 0 (off) to 5 (every fifth fix)";
            return false;
        }
        if (named[slot]) {
            error = std::string(sentenceSlots[slot].label) + " is named twice";
            return false;
        }
        named[slot] = true;
        assignments.push_back({static_cast<size_t>(slot), static_cast<uint8_t>(rate)});
    }
    if (assignments.empty()) {
        error = "name at least one sentence, e.g. GLL=0 RMC=1";
        return false;
    }
    return true;
}

SentenceRates MergeRates(const std::vector<RateAssignment>& assignments,
                         const SentenceRates* reported) {
    SentenceRates rates = reported != nullptr ? *reported : DefaultSentenceRates();
    for (const RateAssignment& assignment : assignments) {
        if (SlotHasList(assignment.slot)) {
            rates[assignment.slot] = assignment.rate;
        }
    }
    return rates;
}

bool ParseWaitSeconds(const char* text, int& milliseconds) {
    if (text == nullptr || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(seconds) || seconds < 0 || seconds > 60) {
        return false;
    }
    milliseconds = static_cast<int>(std::lround(seconds * 1000));
    return true;
}

} // namespace tavro::feltro
