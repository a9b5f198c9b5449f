#include "hub/decode/NmeaFields.h"

namespace tavro {

void NmeaFields::Split(const char* text, size_t length) {
    count_ = 0;
    size_t begin = 0;
    for (;;) {
        size_t end = begin;
        while (end < length && text[end] != ',' && text[end] != '*') {
            ++end;
        }
        fields_[count_++] = std::string_view(text + begin, end - begin);
        if (end >= length || count_ == capacity) {
            return;
        }
        begin = end + 1;
    }
}

} // namespace tavro
