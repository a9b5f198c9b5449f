#include "hub/engine/LogFileName.h"

#include <string.h>

namespace tavro {
namespace {

// Appends to a fixed buffer, remembering whether anything had to be left out.
class BoundedText {
public:
    BoundedText(char* buffer, size_t size) : buffer_(buffer), size_(size) {}

    void Append(const char* text, size_t length) {
        if (!fits_ || length > Room()) {
            fits_ = false;
            return;
        }
        memcpy(buffer_ + used_, text, length);
        used_ += length;
    }

    void Append(char c) { Append(&c, 1); }

    // `value` in decimal, with leading zeros up to `width` digits.
    void AppendNumber(uint32_t value, size_t width) {
        char digits[10];
        size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count < width && count < sizeof digits) {
            digits[count++] = '0';
        }
        while (count != 0) {
            Append(digits[--count]);
        }
    }

    // Terminates the text; false (and an empty text) when it did not fit.
    bool Finish() {
        if (size_ == 0) {
            return false;
        }
        if (!fits_ || used_ >= size_) {
            buffer_[0] = '\0';
            return false;
        }
        buffer_[used_] = '\0';
        return true;
    }

private:
    // Characters that can still be added, keeping one byte for the terminator.
    size_t Room() const { return size_ > used_ ? size_ - used_ - 1 : 0; }

    char* buffer_;
    size_t size_;
    size_t used_ = 0;
    bool fits_ = true;
};

} // namespace

bool IsPathSeparator(char c, platform::PathStyle style) {
    return c == '/' || (c == '\\' && style == platform::PathStyle::Windows);
}

size_t FindPathExtension(const char* path, size_t length, platform::PathStyle style) {
    size_t dot = length;
    bool onlyDots = true; // the level so far holds nothing but dots
    for (size_t i = 0; i < length; ++i) {
        const char c = path[i];
        if (IsPathSeparator(c, style)) {
            dot = length;
            onlyDots = true;
        } else if (c == ' ') {
            dot = length;
            onlyDots = false;
        } else if (c == '.') {
            if (!onlyDots || style == platform::PathStyle::Windows) {
                dot = i;
            }
        } else {
            onlyDots = false;
        }
    }
    return dot;
}

bool IsCreatableLevel(const char* level, size_t length, platform::PathStyle style) {
    // Nothing after the previous separator: the root, or a doubled separator.
    if (length == 0 || IsPathSeparator(level[length - 1], style)) {
        return false;
    }
    const bool drive = length == 2 && level[1] == ':';
    return !(drive && style == platform::PathStyle::Windows);
}

bool MakeLogFileName(char* name, size_t size, const char* logPath, size_t logPathLength,
                     const SystemTime& time, uint32_t sequence, platform::PathStyle style) {
    BoundedText text(name, size);
    const size_t extension = FindPathExtension(logPath, logPathLength, style);
    text.Append(logPath, extension);
    text.Append('.');
    text.AppendNumber(time.wYear, 1);
    text.Append('-');
    text.AppendNumber(time.wMonth, 2);
    text.Append('-');
    text.AppendNumber(time.wDay, 2);
    text.Append('.');
    text.AppendNumber(time.wHour, 2);
    text.Append('.');
    text.AppendNumber(time.wMinute, 2);
    if (sequence >= 2) {
        text.Append('-');
        text.AppendNumber(sequence, 1);
    }
    if (extension < logPathLength) {
        text.Append(logPath + extension, logPathLength - extension);
    } else {
        text.Append(defaultLogExtension, sizeof defaultLogExtension - 1);
    }
    return text.Finish();
}

} // namespace tavro
