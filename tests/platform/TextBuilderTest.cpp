// Names and messages built without printf: numbers as "%d" and "%u" write them, and texts cut
// at the buffer's end, always terminated.
#include "platform/TextBuilder.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro::platform {
namespace {

TEST(TextBuilder, AppendsTextsAndNumbers) {
    char buffer[32];
    TextBuilder text(buffer, sizeof buffer);
    text.Append("\\\\.\\COM").AppendUnsigned(7);
    EXPECT_STREQ(buffer, "\\\\.\\COM7");
    EXPECT_TRUE(text.Fits());
    EXPECT_EQ(text.Length(), 8u);

    TextBuilder numbers(buffer, sizeof buffer);
    numbers.AppendDecimal(0).Append(" ").AppendDecimal(-42).Append(" ").AppendUnsigned(4294967295u);
    EXPECT_STREQ(buffer, "0 -42 4294967295");
}

TEST(TextBuilder, CutsAtTheEndAndSaysSo) {
    char buffer[6] = "xxxxx";
    TextBuilder text(buffer, sizeof buffer);
    text.Append("Port").AppendUnsigned(123);
    EXPECT_STREQ(buffer, "Port1");
    EXPECT_FALSE(text.Fits());
    EXPECT_EQ(text.Length(), 5u);

    // Nothing to write into: nothing is written, and nothing fits.
    TextBuilder none(nullptr, 10);
    none.Append("a");
    EXPECT_FALSE(none.Fits());
    EXPECT_STREQ(none.Text(), "");
    char one[1] = {'x'};
    TextBuilder empty(one, 1);
    EXPECT_TRUE(empty.Fits());
    empty.Append("a");
    EXPECT_FALSE(empty.Fits());
    EXPECT_EQ(one[0], '\0');

    // A null text is empty.
    TextBuilder(buffer, sizeof buffer).Append(nullptr).AppendUnsigned(1);
    EXPECT_STREQ(buffer, "1");
}

TEST(FormatNumber, ReplacesTheFirstPercentDLikePrintf) {
    char buffer[64];
    EXPECT_TRUE(FormatNumber(buffer, sizeof buffer, "Can't create service %d", 1073));
    EXPECT_STREQ(buffer, "Can't create service 1073");
    EXPECT_TRUE(FormatNumber(buffer, sizeof buffer, "Error.\nWindows Error Code %d", -5));
    EXPECT_STREQ(buffer, "Error.\nWindows Error Code -5");
    // A code above 2^31 prints as "%d" prints it.
    EXPECT_TRUE(FormatNumber(buffer, sizeof buffer, "%d", static_cast<int32_t>(0xFFFFFFFFu)));
    EXPECT_STREQ(buffer, "-1");
    // Only the first; a lone '%' stays.
    EXPECT_TRUE(FormatNumber(buffer, sizeof buffer, "%d%% %d", 1));
    EXPECT_STREQ(buffer, "1%% %d");
    EXPECT_TRUE(FormatNumber(buffer, sizeof buffer, "no number", 1));
    EXPECT_STREQ(buffer, "no number");
    EXPECT_TRUE(FormatNumber(buffer, sizeof buffer, "100%", 1));
    EXPECT_STREQ(buffer, "100%");
}

} // namespace
} // namespace tavro::platform
