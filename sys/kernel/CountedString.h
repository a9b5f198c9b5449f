// A counted wide string that owns its buffer (paged pool, always zero-terminated), and the
// numbered names the driver builds from a prefix and a number.
#pragma once

#include "sys/kernel/KernelHeaders.h"

#include <stdint.h>

namespace tavro::kernel {

class CountedString {
public:
    CountedString() = default;
    ~CountedString();
    CountedString(const CountedString&) = delete;
    CountedString& operator=(const CountedString&) = delete;

    // Replaces the text with first + separator + second (separator and second may be null).
    // On failure (pool exhausted, text too long for a counted string) the string is empty.
    bool Assign(const UNICODE_STRING& first, const wchar_t* separator = nullptr,
                const UNICODE_STRING* second = nullptr);
    bool Assign(const wchar_t* text);

    void Release();

    bool IsEmpty() const { return text.Buffer == nullptr; }
    const UNICODE_STRING& Get() const { return text; }
    UNICODE_STRING* Mutable() { return &text; }

private:
    UNICODE_STRING text{};
};

// prefix + number in base 10 or 16, e.g. "COM" + 5 = "COM5". Empty when the base is another
// one, when the number needs more digits than the name holds, or when the pool is exhausted.
class NumberedName : public CountedString {
public:
    NumberedName(const wchar_t* prefix, uint32_t number, uint32_t base = 10);
};

// A counted view of a literal, not owning anything.
UNICODE_STRING TextView(const wchar_t* text);

} // namespace tavro::kernel
