// The block-wise frame scan against a byte-by-byte reading of the same rules, for both block
// kinds (the 64-bit word one is what the 32-bit Windows build runs), and the field split that
// reads its comma marks.
#include "hub/decode/SentenceScan.h"
#include "hub/decode/NmeaFields.h"

#include <gtest/gtest.h>

#include <random>
#include <string.h>
#include <string>
#include <vector>

namespace tavro::testing {
namespace {

SentenceScan ByteByByte(const std::string& frame) {
    SentenceScan expected{};
    const auto length = static_cast<uint32_t>(frame.size());
    expected.stop = length;
    for (uint32_t i = 1; i < length; ++i) {
        if (frame[i] == '*' || frame[i] == '\0') {
            expected.stop = i;
            break;
        }
    }
    for (uint32_t i = 0; i < length; ++i) {
        const auto byte = static_cast<uint8_t>(frame[i]);
        expected.highBytes = expected.highBytes || byte >= 0x80;
        if (i >= 1 && i < expected.stop) {
            expected.sum = static_cast<uint8_t>(expected.sum ^ byte);
        }
        if (byte == ',' && i < expected.stop && i < SentenceScan::coveredBytes) {
            expected.commas[i / 64] |= uint64_t{1} << (i % 64);
        }
    }
    return expected;
}

template <typename Lanes>
void ExpectScanAgrees(const std::string& frame) {
    SentenceScan scan;
    memset(static_cast<void*>(&scan), 0xA5, sizeof scan); // nothing may be left from before
    scan::Scan<Lanes>(reinterpret_cast<const uint8_t*>(frame.data()),
                      static_cast<uint32_t>(frame.size()), scan);
    const SentenceScan expected = ByteByByte(frame);
    ASSERT_EQ(scan.stop, expected.stop) << Lanes::width << " lanes: " << frame;
    ASSERT_EQ(scan.sum, expected.sum) << Lanes::width << " lanes: " << frame;
    ASSERT_EQ(scan.highBytes, expected.highBytes) << Lanes::width << " lanes: " << frame;
    for (size_t w = 0; w < SentenceScan::coveredBytes / 64; ++w) {
        ASSERT_EQ(scan.commas[w], expected.commas[w]) << Lanes::width << " lanes, word " << w;
    }
}

void ExpectBothAgree(const std::string& frame) {
    ExpectScanAgrees<scan::WordLanes>(frame);
#if defined(__SSE2__)
    ExpectScanAgrees<scan::Sse2Lanes>(frame);
#endif
}

TEST(SentenceScan, AgreesWithAByteByByteReadingAtEveryLengthAndPosition) {
    // Handpicked: stops at the first byte, at block edges and in the overlapping last block.
    const std::string cases[] = {
        "",
        "$",
        "*",
        "**",
        "$*",
        std::string("\0,*", 3),
        "$GPGGA,1*",
        "$GPGSV,3,1,12,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45*75\r\n",
        "$GPTXT,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,",
        std::string("\xA0\xA2\x00\x02,*\x01\xB0\xB3", 9),
        "$GPRMC,0123456789ABCDE,*0\xFF",
    };
    for (const std::string& frame : cases) {
        ExpectBothAgree(frame);
    }
    // Random frames of every length up to 600 bytes (beyond the covered 512) from an alphabet
    // dense in the bytes the scan looks for.
    std::mt19937 random(20261208);
    const char alphabet[] = ",,,,**\0\x80\xA0\xA2$GP0123456789.";
    for (int round = 0; round < 4; ++round) {
        for (size_t length = 0; length <= 600; ++length) {
            std::string frame(length, ' ');
            for (char& c : frame) {
                c = alphabet[random() % (sizeof alphabet - 1)];
            }
            // Push the first stop back so that long stretches are scanned too.
            for (size_t i = 1; i + 1 < frame.size() && random() % 4 != 0; ++i) {
                if (frame[i] == '*' || frame[i] == '\0') {
                    frame[i] = ',';
                }
            }
            ExpectBothAgree(frame);
        }
    }
}

TEST(SentenceScan, FieldsSplitPastTheCoveredBytesAndStopAt32) {
    // A 600-byte sentence whose last commas lie beyond the scan's marks.
    std::string text = "$GPTXT," + std::string(540, 'x') + ",a,,b";
    SentenceScan scan;
    ScanSentence(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()),
                 scan);
    NmeaFields fields;
    fields.Split(text.data(), scan.stop, scan.commas, SentenceScan::coveredBytes);
    ASSERT_EQ(fields.Count(), 5);
    EXPECT_EQ(fields[0], "$GPTXT");
    EXPECT_EQ(fields[1].size(), 540u);
    EXPECT_EQ(fields[2], "a");
    EXPECT_EQ(fields[3], "");
    EXPECT_EQ(fields[4], "b");
    EXPECT_EQ(fields[5], "");

    // 40 commas: 32 fields, the last ending at its own comma, the rest unread.
    std::string many = "$GPXXX";
    for (int i = 1; i <= 40; ++i) {
        many += "," + std::to_string(i);
    }
    ScanSentence(reinterpret_cast<const uint8_t*>(many.data()), static_cast<uint32_t>(many.size()),
                 scan);
    fields.Split(many.data(), scan.stop, scan.commas, SentenceScan::coveredBytes);
    ASSERT_EQ(fields.Count(), NmeaFields::capacity);
    EXPECT_EQ(fields[31], "31");
    EXPECT_EQ(fields[32], "");
}

} // namespace
} // namespace tavro::testing
