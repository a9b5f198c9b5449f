// Frame-level rules of the parser: gate, mode scan, checksum, relay, recovery, talkers.
#include "tests/decode/FakeParserHost.h"
#include "tests/decode/TestFrames.h"

#include <gtest/gtest.h>

#include <string.h>

namespace tavro::testing {
namespace {

constexpr uint8_t fixInvalid = static_cast<uint8_t>(FixState::Invalid);
const std::string gga = Sentence("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");

// With "Multi GNSS" off every frame is verified as GPS-only receivers' frames always were.
TEST(ParseFrameChecksum, AcceptsUpperCaseDigitsAndRejectsEverythingElse) {
    const std::string good = Sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1"); // *39
    ASSERT_NE(good.find("*39"), std::string::npos);
    struct Case {
        std::string frame;
        bool accepted;
    } cases[] = {
        {good, true},
        {"$GPGGA,,,,,,0,00,99.99,,,,,,*48\r\n", true},
        {"$GPXTE,A,A,0.67,L,N*6F\r\n", true},
        {"$GPXTE,A,A,0.67,L,N*6f\r\n", false},         // lower-case hex fails
        {"$GPXTE,A,A,0.67,L,N*6E\r\n", false},         // wrong value
        {"$GPXTE,A,A,0.67,L,N\r\n", false},            // no "*"
        {"$GPXTE,A,A,0.67,L,N*6", false},              // one character after "*"
        {"$GPXTE,A,A,0.67,L,N*", false},               // nothing after "*"
        {"$GPRMC,,V,,,,,,,,,,N*532\r\n", true},        // only two characters are read
        {"$GPTXT,hello\r*24", false},                  // bytes up to the "*" all count
        {"$GPBOD,,T,,M,,*\r\n", false},                // empty checksum
        {std::string("$GPGGA,\0,*48\r\n", 14), false}, // text ends at a zero byte
        {"", false},
        {"$", false},
    };
    for (const Case& c : cases) {
        FakeParserHost port;
        port.multiGnss = false;
        port.optionFlags = optionNmeaFilter;
        Parse(port, c.frame);
        EXPECT_EQ(port.relayed.size(), c.accepted ? 1u : 0u) << c.frame;
        EXPECT_EQ(port.checksumErrors, c.accepted ? 0 : 1) << c.frame;
        if (!c.accepted) {
            EXPECT_EQ(port.block.fixState, fixInvalid) << c.frame;
        }
    }
}

// With "Multi GNSS" on (today's receivers) a line is a frame only when it holds a sentence:
// text without one is neither decoded nor counted; noise and wrong checksums are.
TEST(ParseFrameLines, TextIsNoSentenceWhileNoiseAndWrongChecksumsCount) {
    const std::string xte = "$GPXTE,A,A,0.67,L,N*6F\r\n";
    struct Case {
        uint32_t tick;
        std::string frame;
        std::string relayed; // with "NMEA Filter" on; "" for nothing
        bool counted;
    } cases[] = {
        {0, "\r\n", "", false},
        {0, "\n", "", false},
        {0, "# a comment\r\n", "", false},
        {0, "PGRMZ,93,f,3\r\n", "", false},
        {0, "$GPRMC,123519,A,4807.0\r\n", "", false}, // cut off before its checksum
        {0, "$GPBOD,,T,,M,,*\r\n", "", false},
        {0, "$GPXTE,A,A,0.67,L,N*6\r\n", "", false},
        {0, "$$GPXTE,A,A,0.67,L,N*6F\r\n", xte, false},
        {0, "$GPXTE,A,A,0.67,L,N*6f\r\n", "$GPXTE,A,A,0.67,L,N*6f\r\n", false},
        {0, "1.5 m$GPXTE,A,A,0.67,L,N*6F\r\n", xte, false}, // text before the sentence
        {0, "$GPXTE,A,A,0.67,L,N*6E\r\n", "", true},
        {0, "$GPXTE,A,A,0.67,L,N*6G\r\n", "", true},
        {0, "$GPXTE,A,A,0.67\x01,L,N*6F\r\n", "", true},
        {0, "\x8f\x03\xfe\x7f\r\n", "", true},          // a receiver heard at another speed
        {0, "\xb5\x62\x01\x07\x5c\x00\x0a", "", false}, // a u-blox binary message
        {999, "\x11\x22\xfe\x0a", "", false},           // and its rest
        {2000, "\x11\x22\xfe\x0a", "", true},           // noise again
    };
    FakeParserHost port;
    port.optionFlags = optionNmeaFilter;
    for (const Case& c : cases) {
        port.tick = c.tick;
        port.relayed.clear();
        port.checksumErrors = 0;
        port.block.fixState = 3;
        Parse(port, c.frame);
        EXPECT_EQ(port.relayed.empty() ? "" : port.relayed[0], c.relayed) << c.frame;
        EXPECT_EQ(port.checksumErrors, c.counted ? 1 : 0) << c.frame;
        EXPECT_EQ(port.block.fixState, c.counted ? fixInvalid : 3) << c.frame;
    }
    // Only bad frames count towards the recovery re-open.
    for (int i = 0; i < 10; ++i) {
        Parse(port, "\r\n");
    }
    EXPECT_EQ(port.recoveries, 0);
}

TEST(ParseFrameChecksum, ColonToQuestionMarkReadAsTenToFifteen) {
    // The digit rule is arithmetic: ':' gives 10 like 'A'. XOR of "GPXTE,A,A,0.67,L,N" is 0x6F.
    FakeParserHost port;
    port.multiGnss = false;
    port.optionFlags = optionNmeaFilter;
    Parse(port, "$GPXTE,A,A,0.67,L,N*6?\r\n");
    EXPECT_EQ(port.relayed.size(), 1u);
}

TEST(ParseFrameChecksum, ErrorsCountUpAndAGoodFrameResetsThem) {
    FakeParserHost port;
    port.block.fixState = 3;
    GpsSharedStatus expected = port.block;
    expected.fixState = fixInvalid; // the only field a bad sentence changes
    for (int i = 0; i < 3; ++i) {
        Parse(port, "$GPGGA,,,,,,1,07,,,,,,,*00\r\n");
    }
    EXPECT_EQ(memcmp(&expected, &port.block, sizeof expected), 0);
    EXPECT_EQ(port.checksumErrors, 3);
    Parse(port, gga);
    EXPECT_EQ(port.checksumErrors, 0);
    EXPECT_EQ(port.block.fixState, 3) << "the GGA decoded after the failures";
}

TEST(ParseFrameChecksum, CounterStopsAt255WithoutTheFilter) {
    FakeParserHost port;
    for (int i = 0; i < 300; ++i) {
        Parse(port, "$GPGGA,1*00\r\n");
    }
    EXPECT_EQ(port.checksumErrors, 255);
    EXPECT_EQ(port.recoveries, 0);
}

TEST(ParseFrameRelay, FollowsFilterInjectionAndHold) {
    struct Case {
        uint32_t options;
        bool injected;
        uint8_t held;
        bool relayed;
        bool decoded;
    } cases[] = {
        {0, false, 0, false, true},                 // Poll relays raw bytes itself
        {optionNmeaFilter, false, 0, true, true},   // filter: only verified frames
        {0, true, 0, true, true},                   // injected frames are always relayed
        {optionNmeaFilter, false, 1, false, false}, // held: receiver frames ignored
        {0, true, 1, false, true},                  // held: injected decoded, not relayed
    };
    for (const Case& c : cases) {
        FakeParserHost port;
        port.optionFlags = c.options;
        port.relayHeld = c.held;
        port.block.fixValid = 1;
        Parse(port, gga, c.injected);
        ASSERT_EQ(port.relayed.size(), c.relayed ? 1u : 0u);
        if (c.relayed) {
            EXPECT_EQ(port.relayed[0], gga) << "the whole frame, CR LF included";
        }
        EXPECT_EQ(port.block.satsUsed, c.decoded ? 8 : 0);
    }
}

TEST(ParseFrameRelay, HeldReceiverFramesLeaveEverythingAlone) {
    FakeParserHost port;
    port.relayHeld = 1;
    port.requestedBaud = 9600;
    port.checksumErrors = 9;
    port.optionFlags = optionNmeaFilter;
    const GpsSharedStatus before = port.block;
    Parse(port, "$GPGGA,1*00\r\n");
    Parse(port, SirfFrame({41}));
    EXPECT_EQ(memcmp(&before, &port.block, sizeof before), 0);
    EXPECT_EQ(port.checksumErrors, 9);
    EXPECT_EQ(port.sirfMode, 0);
    EXPECT_EQ(port.reopenRequests + port.recoveries, 0);
}

TEST(ParseFrameTalkers, NinePrefixesDecodeOthersAreOnlyRelayed) {
    const char* accepted[] = {"GP", "PG", "PM", "PS", "SD", "HC", "VW", "II"};
    for (const char* talker : accepted) {
        FakeParserHost port;
        Parse(port, Sentence(std::string(talker) + "GGA,,,,,,1,07,,,,,,,"));
        EXPECT_EQ(port.block.satsUsed, 7) << talker;
    }
    FakeParserHost ais;
    Parse(ais, Sentence("AIGGA,,,,,,1,07,,,,,,,", '!'));
    EXPECT_EQ(ais.block.satsUsed, 7);

    // "Multi GNSS" adds the talkers of today's receivers; off, they are only relayed.
    const std::pair<const char*, bool> others[] = {
        {"GN", true}, {"GL", true},  {"GA", true},  {"GB", true}, {"BD", true},
        {"GQ", true}, {"QZ", true},  {"GI", true},  {"PQ", true}, {"IN", true},
        {"EC", true}, {"IM", false}, {"WI", false}, {"gp", false}};
    for (const bool multiGnss : {false, true}) {
        for (const auto& [talker, multiTalker] : others) {
            FakeParserHost port;
            port.multiGnss = multiGnss;
            port.optionFlags = optionNmeaFilter;
            Parse(port, Sentence(std::string(talker) + "GGA,,,,,,1,07,,,,,,,"));
            EXPECT_EQ(port.block.satsUsed, multiGnss && multiTalker ? 7 : 0)
                << talker << (multiGnss ? " with" : " without") << " Multi GNSS";
            EXPECT_EQ(port.relayed.size(), 1u) << talker << " is relayed";
            EXPECT_EQ(port.checksumErrors, 0);
        }
    }
}

TEST(ParseFrameFields, MoreThan32FieldsAndMissingFieldsAreSafe) {
    // 19 rates expected but 40 values sent: fields beyond 32 are not split off at all.
    std::string body = "PMTK514";
    for (int i = 1; i <= 40; ++i) {
        body += "," + std::to_string(i);
    }
    FakeParserHost port;
    Parse(port, Sentence(body));
    for (int i = 0; i < 19; ++i) {
        EXPECT_EQ(port.block.nmeaRates[i], i + 1);
    }
    // A GSV cut short after its header: all four entries of message 2 read as empty. Read
    // the way of today's receivers, it lists no satellite, so none is counted in view.
    for (const bool multiGnss : {false, true}) {
        port.multiGnss = multiGnss;
        port.block.satellites[4] = {5, 6, 7, 8};
        port.block.satsInView = 0;
        Parse(port, Sentence("GPGSV,3,2,11"));
        EXPECT_EQ(port.block.satellites[4].prn, 0);
        EXPECT_EQ(port.block.satsInView, multiGnss ? 0 : 11);
    }
}

TEST(ParseFrameFields, FrameBytesAreNeverChanged) {
    std::string frame = Sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,,");
    std::vector<uint8_t> bytes(frame.begin(), frame.end());
    bytes.push_back(0);
    const std::vector<uint8_t> before = bytes;
    FakeParserHost port;
    ParseFrame(port, bytes.data(), static_cast<uint32_t>(frame.size()), false);
    EXPECT_EQ(bytes, before);
    EXPECT_EQ(port.block.rmcCount, 1);
}

TEST(ParseFrameModeScan, SirfPairSwitchesModeAndTalkerSwitchesBack) {
    FakeParserHost port;
    // An NMEA frame that carries the pair inside is still NMEA: the talker test runs later.
    Parse(port, Sentence("GPTXT,\xA0\xA2"));
    EXPECT_EQ(port.sirfMode, 0);
    Parse(port, SirfFrame({2}), true);
    EXPECT_EQ(port.sirfMode, 1);
    EXPECT_EQ(port.checksumErrors, 0);
    // In SiRF mode, text without the pair still goes to the SiRF decoder, which ignores it.
    Parse(port, "garbage\n");
    EXPECT_EQ(port.sirfMode, 1);
    EXPECT_EQ(port.checksumErrors, 0);
    Parse(port, gga);
    EXPECT_EQ(port.sirfMode, 0);
    EXPECT_EQ(port.block.fixState, 3);
}

TEST(ParseFrameModeScan, RequestedSpeedWaitsForAFrameWithoutQuestionMark) {
    FakeParserHost port;
    port.block.fixState = 3;
    Parse(port, gga);
    EXPECT_EQ(port.reopenRequests, 0) << "no speed requested";

    port.requestedBaud = 38400;
    Parse(port, Sentence("PMTK001,251,3?"));
    Parse(port, SirfFrame({41}));
    EXPECT_EQ(port.reopenRequests, 0) << "a '?' or a SiRF pair holds the re-open back";
    // A '?' as the very last byte is outside the scanned positions.
    Parse(port, "$GPTXT,x*00?");
    EXPECT_EQ(port.reopenRequests, 1);
    Parse(port, Sentence("GPGSA,A,3,,,,,,,,,,,,,,,"));
    EXPECT_EQ(port.reopenRequests, 2);
    EXPECT_EQ(port.block.fixState, 3) << "the GSA decoded after the request set NoData";
    Parse(port, "$GPGGA*00\r\n");
    EXPECT_EQ(port.block.fixState, fixInvalid);
}

TEST(ParseFrameRecovery, SixFailuresWithTheFilterReopenAtTheRequestedSpeed) {
    FakeParserHost port;
    port.optionFlags = optionNmeaFilter;
    port.block.fixValid = 1;
    port.block.comPort = 3;
    port.block.baudRate = 4800;
    for (int i = 0; i < 6; ++i) {
        Parse(port, "$GPGGA,1*00\r\n");
    }
    EXPECT_EQ(port.recoveries, 0);
    port.requestedBaud = 115200;
    port.block.satsUsed = 1;
    Parse(port, gga); // the seventh frame is not decoded but triggers the re-open
    EXPECT_EQ(port.recoveries, 1);
    EXPECT_EQ(port.block.satsUsed, 1);
    EXPECT_TRUE(port.relayed.empty());
    EXPECT_EQ(port.checksumErrors, 0);
    EXPECT_EQ(port.block.streamState, static_cast<uint8_t>(StreamState::PortOpen));
    EXPECT_EQ(port.block.comPort, 3);
    EXPECT_EQ(port.block.baudRate, 115200u);
    EXPECT_EQ(port.block.fixState, 0);
    EXPECT_EQ(port.block.fixValid, 0);
    EXPECT_EQ(port.requestedBaud, 0u);
    Parse(port, gga);
    EXPECT_EQ(port.block.satsUsed, 8);
}

TEST(ParseFrameRecovery, FailedReopenLeavesThePortClosedInTheBlock) {
    FakeParserHost port;
    port.optionFlags = optionNmeaFilter;
    port.reopenSucceeds = false;
    port.checksumErrors = 6;
    port.block.comPort = 3;
    Parse(port, SirfFrame({41})); // SiRF frames are subject to the recovery as well
    EXPECT_EQ(port.recoveries, 1);
    EXPECT_EQ(port.block.streamState, static_cast<uint8_t>(StreamState::PortClosed));
    EXPECT_EQ(port.block.comPort, 0);
}

TEST(ParseFrameRecovery, NoRecoveryWithoutTheFilter) {
    FakeParserHost port;
    port.checksumErrors = 200;
    Parse(port, gga);
    EXPECT_EQ(port.recoveries, 0);
    EXPECT_EQ(port.checksumErrors, 0);
}

} // namespace
} // namespace tavro::testing
