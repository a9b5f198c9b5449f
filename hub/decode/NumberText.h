// Field text to numbers, exactly as the C library's atoi/atol and atof read the same text in
// the C locale, but defined for every input and without needing a terminating zero.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string_view>

namespace tavro {

// The general case of TextToInt.
int32_t TextToIntSlow(std::string_view text);

// What glibc's atoi and atol give, stored in 32 bits: strtol(text, 10) with a 64-bit long
// (leading white space, an optional sign, decimal digits; saturating at -2^63 and 2^63 - 1),
// then the low 32 bits as a two's-complement value. Text without digits gives 0.
inline int32_t TextToInt(std::string_view text) {
    // What fields nearly always hold, inline and without a branch per digit: one to three
    // digits and nothing else. The reads are clamped to the field, so a short field checks
    // its last digit again rather than reading past its end.
    const size_t size = text.size();
    if (size - 1 < 3) {
        const size_t last = size - 1;
        const unsigned d0 = static_cast<unsigned>(text[0] - '0');
        const unsigned d1 = static_cast<unsigned>(text[last < 1 ? last : 1] - '0');
        const unsigned d2 = static_cast<unsigned>(text[last] - '0');
        if ((d0 | d1 | d2) <= 9) {
            const unsigned two = size >= 2 ? d0 * 10 + d1 : d0;
            return static_cast<int32_t>(size == 3 ? two * 10 + d2 : two);
        }
    }
    // Else: nothing, or up to nine digits (which cannot overflow) up to the end of the field
    // or any other character, where strtol stops too.
    if (size == 0) {
        return 0;
    }
    if (size <= 9 && static_cast<unsigned>(text[0] - '0') <= 9) {
        int32_t value = 0;
        for (const char c : text) {
            const unsigned digit = static_cast<unsigned>(c - '0');
            if (digit > 9) {
                break;
            }
            value = value * 10 + static_cast<int32_t>(digit);
        }
        return value;
    }
    return TextToIntSlow(text);
}

// What strtod (and so atof) gives for the text: the correctly rounded double, including
// signed zeros, exponents, hexadecimal forms, "inf" and "nan". Text that holds no number
// gives 0.0.
double TextToDouble(std::string_view text);

// atof stored as a 32-bit float: the double result of TextToDouble, rounded once to float.
inline float TextToFloat(std::string_view text) {
    return static_cast<float>(TextToDouble(text));
}

} // namespace tavro
