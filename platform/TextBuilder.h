// Short texts built into a fixed buffer: names such as "Port3" or "\\.\COM7", and messages
// with one number. Without the printf family, whose formatting code is larger than most of
// the Windows hub and which the hub's texts do not need. The text is always terminated; what
// does not fit is cut, and Fits() says so.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tavro::platform {

class TextBuilder {
public:
    // `size` is the buffer's size in bytes, terminator included; a null or empty buffer takes
    // nothing and never fits.
    TextBuilder(char* buffer, size_t size) : buffer_(buffer), size_(size) {
        if (buffer_ != nullptr && size_ != 0) {
            buffer_[0] = '\0';
        } else {
            size_ = 0;
            fits_ = false;
        }
    }

    TextBuilder& Append(const char* text) {
        for (; text != nullptr && *text != '\0'; ++text) {
            Put(*text);
        }
        return *this;
    }

    TextBuilder& Append(const char* text, size_t length) {
        for (size_t i = 0; text != nullptr && i < length; ++i) {
            Put(text[i]);
        }
        return *this;
    }

    // Decimal digits, with '-' in front of a negative number (as "%d" and "%u" write them).
    TextBuilder& AppendDecimal(int64_t value) {
        if (value < 0) {
            Put('-');
            return AppendUnsigned(uint64_t{0} - static_cast<uint64_t>(value));
        }
        return AppendUnsigned(static_cast<uint64_t>(value));
    }

    TextBuilder& AppendUnsigned(uint64_t value) {
        char digits[20];
        size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count != 0) {
            Put(digits[--count]);
        }
        return *this;
    }

    // Everything appended is in the buffer.
    bool Fits() const { return fits_; }
    size_t Length() const { return length_; }
    const char* Text() const { return size_ != 0 ? buffer_ : ""; }

private:
    void Put(char c) {
        if (size_ - length_ > 1) { // room for the character and the terminator
            buffer_[length_++] = c;
            buffer_[length_] = '\0';
        } else {
            fits_ = false;
        }
    }

    char* buffer_;
    size_t size_;
    size_t length_ = 0;
    bool fits_ = true;
};

// `pattern` with its first "%d" replaced by `value` as a signed 32-bit number, as the
// printf form of the hub's messages writes it ("Can't create service %d"). A pattern without
// "%d" is copied unchanged. Returns false when the text was cut to fit.
inline bool FormatNumber(char* buffer, size_t size, const char* pattern, int32_t value) {
    TextBuilder text(buffer, size);
    const char* p = pattern != nullptr ? pattern : "";
    for (; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 'd') {
            text.AppendDecimal(value).Append(p + 2);
            return text.Fits();
        }
        text.Append(p, 1);
    }
    return text.Fits();
}

} // namespace tavro::platform
