#include "sys/kernel/CountedString.h"

#include "sys/kernel/NameText.h"
#include "sys/kernel/Pool.h"
#include "sys/kernel/Sections.h"

namespace tavro::kernel {
namespace {

constexpr size_t maxCountedBytes = 0xFFFE;

size_t TextLength(const wchar_t* text) {
    size_t length = 0;
    while (text[length] != L'\0') {
        ++length;
    }
    return length;
}

} // namespace

TAVRO_PAGED_CODE UNICODE_STRING TextView(const wchar_t* text) {
    UNICODE_STRING view{};
    if (text != nullptr) {
        const size_t bytes = TextLength(text) * sizeof(wchar_t);
        if (bytes < maxCountedBytes) {
            view.Buffer = const_cast<wchar_t*>(text);
            view.Length = static_cast<USHORT>(bytes);
            view.MaximumLength = static_cast<USHORT>(bytes + sizeof(wchar_t));
        }
    }
    return view;
}

TAVRO_PAGED_CODE CountedString::~CountedString() {
    Release();
}

TAVRO_PAGED_CODE void CountedString::Release() {
    PoolFree(text.Buffer);
    text = UNICODE_STRING{};
}

// The new text is built in a new buffer before the old one is released, so a part may be this
// string itself.
TAVRO_PAGED_CODE bool CountedString::Assign(const UNICODE_STRING& first, const wchar_t* separator,
                                            const UNICODE_STRING* second) {
    const UNICODE_STRING separatorView = TextView(separator);
    const size_t bytes =
        size_t{first.Length} + separatorView.Length + (second != nullptr ? second->Length : 0);
    wchar_t* buffer = nullptr;
    if (bytes + sizeof(wchar_t) <= maxCountedBytes) {
        buffer = static_cast<wchar_t*>(PoolAllocate(bytes + sizeof(wchar_t), PoolKind::Paged));
    }
    if (buffer == nullptr) {
        Release();
        return false;
    }
    UNICODE_STRING built{0, static_cast<USHORT>(bytes + sizeof(wchar_t)), buffer};
    RtlCopyUnicodeString(&built, &first);
    RtlAppendUnicodeStringToString(&built, &separatorView);
    if (second != nullptr) {
        RtlAppendUnicodeStringToString(&built, second);
    }
    buffer[built.Length / sizeof(wchar_t)] = L'\0';
    Release();
    text = built;
    return true;
}

TAVRO_PAGED_CODE bool CountedString::Assign(const wchar_t* text) {
    const UNICODE_STRING view = TextView(text);
    return Assign(view);
}

TAVRO_PAGED_CODE NumberedName::NumberedName(const wchar_t* prefix, uint32_t number, uint32_t base) {
    wchar_t digits[numberedNameDigits + 1] = {};
    const size_t count = FormatNumber(number, base, digits, numberedNameDigits);
    if (count == 0) {
        return;
    }
    const UNICODE_STRING digitsView = TextView(digits);
    Assign(TextView(prefix), nullptr, &digitsView);
}

} // namespace tavro::kernel
