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
    // address field. `commas` marks the commas of the first `covered` bytes (bit i % 64 of
    // word i / 64 for byte i, as SentenceScan finds them); the text beyond is searched here.
    // The text itself is not changed, and a 32nd field ends at its own separator, leaving any
    // further text unread.
    void Split(const char* text, size_t length, const uint64_t* commas, size_t covered);

    // Field `index`; a field the sentence does not have reads as empty text.
    std::string_view operator[](int index) const {
        // count_ never exceeds capacity; the compiler is told so as well.
        return index >= 0 && index < count_ && index < capacity
                   ? std::string_view(text_ + starts_[index],
                                      starts_[index + 1] - 1 - starts_[index])
                   : std::string_view();
    }

    int Count() const { return count_; }

private:
    // Field i is text_[starts_[i]] up to the byte before starts_[i + 1] - 1, its separator.
    // Left unset until Split fills it: a frame is split for every sentence, and clearing the
    // slots first would cost more than the split.
    const char* text_ = nullptr;
    size_t starts_[capacity + 1];
    int count_ = 0;
};

} // namespace tavro
