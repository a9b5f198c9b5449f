// Field numbers must be exactly what atoi/atol and atof make of the same text.
#include "hub/decode/NumberText.h"

#include <gtest/gtest.h>

#include <math.h>
#include <random>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace tavro {
namespace {

int32_t LibraryInt(const std::string& text) {
    return static_cast<int32_t>(strtol(text.c_str(), nullptr, 10)); // glibc's atoi and atol
}

uint64_t Bits(double value) {
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

void ExpectLikeTheLibrary(const std::string& text) {
    ASSERT_EQ(TextToInt(text), LibraryInt(text)) << '"' << text << '"';
    ASSERT_EQ(Bits(TextToDouble(text)), Bits(strtod(text.c_str(), nullptr))) << '"' << text << '"';
    const float single = static_cast<float>(strtod(text.c_str(), nullptr));
    const float ours = TextToFloat(text);
    ASSERT_EQ(memcmp(&single, &ours, sizeof ours), 0) << '"' << text << '"';
}

TEST(NumberText, ChosenTextsMatchTheLibrary) {
    // Separated by '|', starting with the empty text: signs, zeros, points, exponents,
    // hexadecimal, inf/nan, white space, the edges of 32 and 64 bits, the limits of exact
    // doubles and of the fast path, receiver values.
    const std::string texts =
        "|0|-0|+0|-|+|.|-.|5.|.5|007|4807.038|01131.000|-31.442|123519.250|1e5|1E-3|1e|1e+|"
        "2.5e-400|1e400|-1e400|0x1A|0X1p-2|0x|00x5|inf|-INF|infinity|nan|-nan|NaN(123)| 42|"
        "\t-7|\r\n8|+-5|- 5|12abc|1,5|2147483647|2147483648|-2147483648|-2147483649|4294967296|"
        "9223372036854775807|9223372036854775808|-9223372036854775808|-9223372036854775809|"
        "99999999999999999999999|0.1|0.30000000000000004|9007199254740993|9007199254740992.5|"
        "1234567890123456789|12345678901234567890|0.0000000000000000000001|"
        "0.00000000000000000000001|123456789012345678.9|1.7976931348623157e308|4.9e-324|"
        "3.4028235677973366e38|3.4028236e38|1.401298464324817e-45|"
        "0.000000000000000000000000000000000000000000000000001|46.49820514|-121.314191667";
    size_t begin = 0;
    for (size_t end; (end = texts.find('|', begin)) != std::string::npos; begin = end + 1) {
        ExpectLikeTheLibrary(texts.substr(begin, end - begin));
    }
    ExpectLikeTheLibrary(texts.substr(begin));
}

TEST(NumberText, RandomFieldTextMatchesTheLibrary) {
    // Texts built from what fields hold, what corruption adds and what strtod treats
    // in its own way, in every arrangement up to 30 characters.
    const std::string alphabet = "0123456789012345678901234567890123456789.+-eExXpPaAfFinINty \t";
    std::mt19937 random(20240607);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 30);
    for (int i = 0; i < 300000; ++i) {
        std::string text;
        for (int n = length(random); n > 0; --n) {
            text += alphabet[pick(random)];
        }
        ExpectLikeTheLibrary(text);
    }
}

TEST(NumberText, RandomDecimalsMatchTheLibrary) {
    // The fast path's territory: sign, digits, point, digits, of every size.
    std::mt19937_64 random(60);
    for (int i = 0; i < 300000; ++i) {
        std::string text = random() % 4 == 0 ? "-" : "";
        const int whole = static_cast<int>(random() % 12);
        const int fraction = static_cast<int>(random() % 14);
        for (int n = 0; n < whole; ++n) {
            text += static_cast<char>('0' + random() % 10);
        }
        if (fraction > 0 || random() % 2 == 0) {
            text += '.';
        }
        for (int n = 0; n < fraction; ++n) {
            text += static_cast<char>('0' + random() % 10);
        }
        ExpectLikeTheLibrary(text);
    }
}

TEST(NumberText, ReadsOnlyItsOwnView) {
    const char text[] = "12345,678";
    EXPECT_EQ(TextToInt(std::string_view(text, 3)), 123);
    EXPECT_EQ(TextToInt(std::string_view(text + 6, 1)), 6);
    EXPECT_EQ(TextToInt(std::string_view(text + 6, 2)), 67);
    EXPECT_EQ(TextToDouble(std::string_view(text, 2)), 12.0);
    EXPECT_EQ(TextToDouble(std::string_view("1.5e3", 3)), 1.5) << "the exponent is not in view";
    const std::string longField(600, '1'); // longer than any frame: still defined
    EXPECT_EQ(TextToInt(longField), -1);
    EXPECT_TRUE(isinf(TextToDouble(longField)));
}

} // namespace
} // namespace tavro
