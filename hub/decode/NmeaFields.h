// The comma-separated fields of one NMEA sentence, as views into the frame.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string_view>

namespace tavro {

class NmeaFields {
public:
    static constexpr int capacity = 32;

    // Splits `text` (a sentence up to its checksum "*", which holds no "*") into at most 32
    // fields. Each field ends at the next "," or at the end of the text; field 0 is the
    // address field.
    // The text itself is not changed, and a 32nd field ends at its own separator, leaving any
    // further text unread.
    void Split(const char* text, size_t length);

    // Field `index`; a field the sentence does not have reads as empty text.
    std::string_view operator[](int index) const {
        return index >= 0 && index < count_
                   ? std::string_view(fields_[index].text, fields_[index].size)
                   : std::string_view();
    }

    int Count() const { return count_; }

private:
    // Plain data, left unset until Split fills it: a frame is split for every sentence, and
    // clearing 32 slots first would cost more than the split.
    struct Field {
        const char* text;
        size_t size;
    };
    Field fields_[capacity];
    int count_ = 0;
};

} // namespace tavro
