#include "hub/decode/NumberText.h"

#include <stdlib.h>
#include <string.h>

namespace tavro {
namespace {

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// isspace() of the C locale.
constexpr bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Powers of ten that are exact doubles.
constexpr double exactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int maxExactPower = 22;
constexpr uint64_t maxExactMantissa = uint64_t{1} << 53;

#if defined(__MINGW32__)
// On Windows the general case goes to the system C library's strtod, which is what atof gives
// a Windows program; the toolchain's own C99 copy would add some 19 KB to a hub that has to
// fit the package layout.
#define TAVRO_LABEL_TEXT(x) #x
#define TAVRO_LABEL(x) TAVRO_LABEL_TEXT(x)
extern "C" double SystemStrtod(const char* text,
                               char** end) __asm__(TAVRO_LABEL(__USER_LABEL_PREFIX__) "strtod");
#else
double SystemStrtod(const char* text, char** end) {
    return strtod(text, end);
}
#endif

// The general case: the C library itself, on a zero-terminated copy. Fields come from frames
// of at most 510 bytes, so the copy never cuts a real field short.
double LibraryStrtod(std::string_view text) {
    char copy[512];
    const size_t length = text.size() < sizeof copy - 1 ? text.size() : sizeof copy - 1;
    memcpy(copy, text.data(), length);
    copy[length] = '\0';
    return SystemStrtod(copy, nullptr);
}

} // namespace

int32_t TextToIntSlow(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end && IsSpace(*p)) {
        ++p;
    }
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // strtol's range with a 64-bit long; beyond it the result sticks at the limit.
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    uint64_t magnitude = 0;
    for (; p != end && IsDigit(*p); ++p) {
        const unsigned digit = static_cast<unsigned>(*p - '0');
        if (magnitude > (limit - digit) / 10) {
            magnitude = limit;
            while (p != end && IsDigit(*p)) {
                ++p;
            }
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    const uint64_t value = negative ? uint64_t{0} - magnitude : magnitude;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

double TextToDouble(std::string_view text) {
    // Fast path for what receivers send: [sign] digits [. digits] with at most 19 significant
    // digits. When the digits form an integer below 2^53 and at most 22 of them follow the
    // point, one IEEE division of two exact doubles is the correctly rounded result, which
    // is what strtod returns. Everything else goes to strtod itself.
    const char* p = text.data();
    const char* const end = p + text.size();
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* const numberStart = p;
    uint64_t mantissa = 0;
    int significantDigits = 0;
    int fractionDigits = 0;
    bool anyDigit = false;
    // Leading zeros are not significant; 19 significant digits always fit in 64 bits.
    auto takeDigit = [&](char c) {
        const unsigned digit = static_cast<unsigned>(c - '0');
        if ((mantissa != 0 || digit != 0) && ++significantDigits > 19) {
            return false;
        }
        mantissa = mantissa * 10 + digit;
        anyDigit = true;
        return true;
    };
    for (; p != end && IsDigit(*p); ++p) {
        if (!takeDigit(*p)) {
            return LibraryStrtod(text);
        }
    }
    if (p != end && *p == '.') {
        ++p;
        for (; p != end && IsDigit(*p); ++p) {
            if (!takeDigit(*p)) {
                return LibraryStrtod(text);
            }
            ++fractionDigits;
        }
    }
    if (!anyDigit) {
        // White space, "inf", "nan" and the like are strtod's business; anything else holds
        // no number at all.
        if (numberStart != end &&
            (IsSpace(*numberStart) || *numberStart == 'i' || *numberStart == 'I' ||
             *numberStart == 'n' || *numberStart == 'N') &&
            p == numberStart) {
            return LibraryStrtod(text);
        }
        return 0.0;
    }
    // An exponent, or "0x" starting a hexadecimal number.
    if (p != end && (*p == 'e' || *p == 'E' ||
                     ((*p == 'x' || *p == 'X') && p - numberStart == 1 && *numberStart == '0'))) {
        return LibraryStrtod(text);
    }
    if (mantissa > maxExactMantissa || fractionDigits > maxExactPower) {
        return LibraryStrtod(text);
    }
    const double value = static_cast<double>(mantissa) / exactPowersOfTen[fractionDigits];
    return negative ? -value : value;
}

} // namespace tavro
