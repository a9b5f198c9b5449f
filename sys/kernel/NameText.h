// Pure text rules behind the driver's names, kept free of kernel types so they can be checked
// on any platform: how two registry path parts are joined, and how a number becomes the digits
// of a device or link name.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro::kernel {

// Most digits a numbered name holds ("COM999", "TavroMon7"). The names are fixed-size in the
// driver; a number that needs more digits gives no name at all rather than a cut-off one, so
// COM numbers above 999 are refused at start instead of publishing a wrong port.
inline constexpr size_t numberedNameDigits = 3;

// Two path parts need a backslash between them unless the first ends with one or the second
// starts with one. An empty part needs none.
template <typename Char>
constexpr bool NeedsSeparator(const Char* first, size_t firstLength, const Char* second,
                              size_t secondLength) {
    if (firstLength == 0 || secondLength == 0) {
        return false;
    }
    return first[firstLength - 1] != Char('\\') && second[0] != Char('\\');
}

// Writes the digits of `value` in `base` (10 or 16, upper-case letters) to `out`, without a
// terminating zero. Returns the number of digits, or 0 when the base is not supported or the
// digits would not fit in `capacity`.
template <typename Char>
constexpr size_t FormatNumber(uint32_t value, uint32_t base, Char* out, size_t capacity) {
    if (base != 10 && base != 16) {
        return 0;
    }
    Char reversed[10] = {};
    size_t count = 0;
    do {
        const uint32_t digit = value % base;
        reversed[count++] = static_cast<Char>(digit < 10 ? '0' + digit : 'A' + (digit - 10));
        value /= base;
    } while (value != 0);
    if (count > capacity) {
        return 0;
    }
    for (size_t i = 0; i < count; ++i) {
        out[i] = reversed[count - 1 - i];
    }
    return count;
}

} // namespace tavro::kernel
