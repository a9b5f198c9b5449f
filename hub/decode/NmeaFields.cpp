#include "hub/decode/NmeaFields.h"

namespace tavro {

void NmeaFields::Split(const char* text, size_t length, const uint64_t* commas, size_t covered) {
    text_ = text;
    starts_[0] = 0;
    count_ = 0;
    // Field count_ ends at `separator`; false once the fields are full.
    const auto separator = [&](size_t at) {
        starts_[++count_] = at + 1;
        return count_ < capacity;
    };
    const size_t marked = length < covered ? length : covered;
    for (size_t word = 0; word * 64 < marked; ++word) {
        uint64_t marks = commas[word];
        if (marked - word * 64 < 64) {
            marks &= (uint64_t{1} << (marked - word * 64)) - 1;
        }
        for (; marks != 0; marks &= marks - 1) {
            if (!separator(word * 64 + static_cast<size_t>(__builtin_ctzll(marks)))) {
                return;
            }
        }
    }
    for (size_t at = marked; at < length; ++at) {
        if (text[at] == ',' && !separator(at)) {
            return;
        }
    }
    starts_[++count_] = length + 1;
}

} // namespace tavro
