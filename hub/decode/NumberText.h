// Field text to numbers, exactly as the C library's atoi/atol and atof read the same text in
// the C locale, but defined for every input and without needing a terminating zero.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string_view>

namespace tavro {

// What glibc's atoi and atol give, stored in 32 bits: strtol(text, 10) with a 64-bit long
// (leading white space, an optional sign, decimal digits; saturating at -2^63 and 2^63 - 1),
// then the low 32 bits as a two's-complement value. Text without digits gives 0.
int32_t TextToInt(std::string_view text);

// What strtod (and so atof) gives for the text: the correctly rounded double, including
// signed zeros, exponents, hexadecimal forms, "inf" and "nan". Text that holds no number
// gives 0.0.
double TextToDouble(std::string_view text);

// atof stored as a 32-bit float: the double result of TextToDouble, rounded once to float.
inline float TextToFloat(std::string_view text) {
    return static_cast<float>(TextToDouble(text));
}

} // namespace tavro
