// "Source" texts: what each kind takes, and the reason for what it does not.
#include "hub/settings/SourceAddress.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro::testing {
namespace {

TEST(SourceAddress, EachKindParsesToHostPortAndDevice) {
    struct Case {
        const char* text;
        SourceKind kind;
        const char* host;
        uint16_t port;
        const char* device;
    };
    const Case cases[] = {
        {"", SourceKind::Serial, "", 0, ""},
        {"tcp://gpsbox.local:10110", SourceKind::Tcp, "gpsbox.local", 10110, ""},
        {"tcp://[fe80::1]:2000", SourceKind::Tcp, "fe80::1", 2000, ""},
        {"udp://:10110", SourceKind::Udp, "", 10110, ""},
        {"udp://239.1.2.3:5000", SourceKind::Udp, "239.1.2.3", 5000, ""},
        {"gpsd://127.0.0.1", SourceKind::Gpsd, "127.0.0.1", 2947, ""},
        {"gpsd://host:3000/dev/ttyUSB0", SourceKind::Gpsd, "host", 3000, "/dev/ttyUSB0"},
        {"gpsd://host/dev/ttyACM1", SourceKind::Gpsd, "host", 2947, "/dev/ttyACM1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SourceAddress address;
        const char* reason = nullptr;
        ASSERT_TRUE(ParseSource(c.text, address, reason)) << reason;
        EXPECT_EQ(address.kind, c.kind);
        EXPECT_STREQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
        EXPECT_STREQ(address.device, c.device);
    }
}

TEST(SourceAddress, WhatNamesNoSourceIsRefusedWithItsReason) {
    const std::string longHost = "tcp://" + std::string(256, 'h') + ":1";
    const std::string longDevice = "gpsd://h/" + std::string(96, 'd');
    struct Case {
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
        {"/dev/ttyUSB0", "begins with none"},
        {"http://host:80", "begins with none"},
        {"tcp://host", "needs a port"},
        {"tcp://host:0", "needs a port"},
        {"tcp://host:65536", "needs a port"},
        {"tcp://host:12x", "needs a port"},
        {"tcp://:10110", "names no host"},
        {"tcp://[::1:10110", "closing ]"},
        {"tcp://a b:1", "character"},
        {"tcp://user@host:1", "character"},
        {longHost.c_str(), "longer than 255"},
        {"udp://", "needs a port"},
        {"gpsd://", "names no host"},
        {"gpsd://host/", "names no device"},
        {"gpsd://host/dev/\"x", "character gpsd"},
        {longDevice.c_str(), "longer than 95"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SourceAddress address;
        const char* reason = nullptr;
        EXPECT_FALSE(ParseSource(c.text, address, reason));
        ASSERT_NE(reason, nullptr);
        EXPECT_NE(std::string(reason).find(c.reason), std::string::npos) << reason;
    }
}

} // namespace
} // namespace tavro::testing
