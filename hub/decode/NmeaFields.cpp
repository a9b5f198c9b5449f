#include "hub/decode/NmeaFields.h"

#include "hub/decode/ByteScan.h"

namespace tavro {

void NmeaFields::Split(const char* text, size_t length) {
    count_ = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    size_t begin = 0;
    size_t at = 0;
    // A field ends at each separator: eight bytes at a time, then the rest one by one.
    const auto separator = [&](size_t end) {
        fields_[count_++] = {text + begin, end - begin};
        begin = end + 1;
        return count_ == capacity;
    };
    for (; at + 8 <= length; at += 8) {
        const uint64_t word = LoadWord(bytes + at);
        for (uint64_t marks = BytesEqual(word, ','); marks != 0; marks &= marks - 1) {
            if (separator(at + FirstMarked(marks))) {
                return;
            }
        }
    }
    for (; at < length; ++at) {
        if (text[at] == ',' && separator(at)) {
            return;
        }
    }
    fields_[count_++] = {text + begin, length - begin};
}

} // namespace tavro
