// The text rules behind the driver's device, link and registry names, checked natively.
#include "sys/kernel/NameText.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro::kernel {
namespace {

template <typename Char>
bool Separate(const std::basic_string<Char>& first, const std::basic_string<Char>& second) {
    return NeedsSeparator(first.data(), first.size(), second.data(), second.size());
}

TEST(NeedsSeparator, OneBackslashBetweenTwoPartsAndNeverTwo) {
    EXPECT_TRUE(Separate<wchar_t>(L"\\Registry\\Machine", L"SERIALCOMM"));
    EXPECT_FALSE(Separate<wchar_t>(L"\\Registry\\Machine\\", L"SERIALCOMM"));
    EXPECT_FALSE(Separate<wchar_t>(L"\\Registry\\Machine", L"\\SERIALCOMM"));
    EXPECT_FALSE(Separate<wchar_t>(L"\\Registry\\Machine\\", L"\\SERIALCOMM"));
}

TEST(NeedsSeparator, AnEmptyPartJoinsWithoutSeparator) {
    // Root 0 ("none") is empty: the relative name is the whole path.
    EXPECT_FALSE(Separate<wchar_t>(L"", L"\\Registry\\Machine\\Software"));
    EXPECT_FALSE(Separate<wchar_t>(L"\\Registry\\User", L""));
    EXPECT_FALSE(Separate<char16_t>(u"", u""));
}

template <typename Char = wchar_t>
std::basic_string<Char> Format(uint32_t value, uint32_t base, size_t capacity) {
    Char digits[16] = {};
    const size_t count = FormatNumber(value, base, digits, capacity);
    return std::basic_string<Char>(digits, count);
}

TEST(FormatNumber, DecimalWithoutLeadingZeros) {
    EXPECT_EQ(Format(0, 10, 3), L"0");
    EXPECT_EQ(Format(5, 10, 3), L"5");
    EXPECT_EQ(Format(10, 10, 3), L"10");
    EXPECT_EQ(Format(999, 10, 3), L"999");
}

TEST(FormatNumber, NumbersThatDoNotFitGiveNoDigitsRatherThanCutOnes) {
    // "COM1000" must not come out as "COM100" or "COM000".
    EXPECT_EQ(Format(1000, 10, numberedNameDigits), L"");
    EXPECT_EQ(Format(12345, 10, 4), L"");
    EXPECT_EQ(Format(1, 10, 0), L"");
    EXPECT_EQ(Format(4294967295u, 10, 10), L"4294967295");
}

TEST(FormatNumber, HexadecimalInCapitals) {
    EXPECT_EQ(Format(255, 16, 3), L"FF");
    EXPECT_EQ(Format(0xABC, 16, 3), L"ABC");
    EXPECT_EQ(Format(0x1000, 16, 3), L"");
    EXPECT_EQ(Format(0xFFFFFFFFu, 16, 10), L"FFFFFFFF");
}

TEST(FormatNumber, OtherBasesGiveNoDigits) {
    for (uint32_t base : {0u, 1u, 2u, 8u, 36u}) {
        EXPECT_EQ(Format(7, base, 10), L"") << "base " << base;
    }
}

} // namespace
} // namespace tavro::kernel
