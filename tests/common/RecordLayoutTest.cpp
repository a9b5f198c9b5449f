// The records cross process and architecture boundaries as raw bytes; check the bytes, not the
// compiler's idea of the fields.
#include "common/DriverExchangeBlock.h"
#include "common/GpsSharedStatus.h"
#include "common/HubReportBlock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tavro {
namespace {

std::vector<uint8_t> Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(p, p + size);
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

uint16_t U16At(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

constexpr uint32_t CtlCode(uint32_t deviceType, uint32_t function, uint32_t method,
                           uint32_t access) {
    return deviceType << 16 | access << 14 | function << 2 | method;
}

TEST(GpsSharedStatusLayout, EveryFieldLandsAtItsLittleEndianOffset) {
    GpsSharedStatus block{};
    block.streamState = 0x01;
    block.fixValid = 0x02;
    block.comPort = 0x03;
    block.relayHeld = 0x04;
    block.refCount = 0x05;
    block.replyFlags = 0x06;
    block.fixInterval = 0x0708;
    block.rmcCount = 0x090A0B0C;
    block.baudRate = 0x11121314;
    block.utcTime = {0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008};
    block.latitude = 1.5f;   // 0x3FC00000
    block.longitude = -2.0f; // 0xC0000000
    block.fixQuality = 0x31323334;
    block.altitude = 0.25f;       // 0x3E800000
    block.geoidSeparation = 4.0f; // 0x40800000
    block.dgpsAge = 8.0f;         // 0x41000000
    block.dgpsStation = 0x41424344;
    block.pdop = 1.0f; // 0x3F800000
    block.hdop = 2.0f; // 0x40000000
    block.vdop = 3.0f; // 0x40400000
    block.satsUsed = 0x4C;
    block.selectionMode = 0x4D;
    block.fixState = 0x4E;
    block.satsInView = 0x4F;
    for (int i = 0; i < 12; ++i) {
        block.usedPrns[i] = static_cast<uint8_t>(0x50 + i);
        block.satellites[i] = {static_cast<int16_t>(0x100 + i), static_cast<int16_t>(0x200 + i),
                               static_cast<int16_t>(0x300 + i), static_cast<int16_t>(0x400 + i)};
    }
    block.speedKnots = 5.0f;  // 0x40A00000
    block.course = 6.0f;      // 0x40C00000
    block.depthFeet = 7.0f;   // 0x40E00000
    block.depthMetres = 9.0f; // 0x41100000
    for (int i = 0; i < 19; ++i) {
        block.nmeaRates[i] = static_cast<uint8_t>(0xA0 + i);
    }
    for (int i = 0; i < 9; ++i) {
        block.epoStatus[i] = 0x60000000 + i;
    }

    const auto b = Bytes(&block, sizeof block);
    ASSERT_EQ(b.size(), 268u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(b[i], i + 1) << "byte " << i;
    }
    EXPECT_EQ(U16At(b, 6), 0x0708);
    EXPECT_EQ(U32At(b, 8), 0x090A0B0Cu);
    EXPECT_EQ(U32At(b, 12), 0u);
    EXPECT_EQ(U32At(b, 16), 0x11121314u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(U16At(b, 20 + 2 * i), 0x2001 + i) << "utcTime word " << i;
    }
    EXPECT_EQ(U32At(b, 36), 0x3FC00000u);
    EXPECT_EQ(U32At(b, 40), 0xC0000000u);
    EXPECT_EQ(U32At(b, 44), 0x31323334u);
    EXPECT_EQ(U32At(b, 48), 0x3E800000u);
    EXPECT_EQ(U32At(b, 52), 0x40800000u);
    EXPECT_EQ(U32At(b, 56), 0x41000000u);
    EXPECT_EQ(U32At(b, 60), 0x41424344u);
    EXPECT_EQ(U32At(b, 64), 0x3F800000u);
    EXPECT_EQ(U32At(b, 68), 0x40000000u);
    EXPECT_EQ(U32At(b, 72), 0x40400000u);
    EXPECT_EQ(b[76], 0x4C);
    EXPECT_EQ(b[77], 0x4D);
    EXPECT_EQ(b[78], 0x4E);
    EXPECT_EQ(b[79], 0x4F);
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(b[80 + i], 0x50 + i);
        EXPECT_EQ(U16At(b, 92 + 8 * i), 0x100 + i);
        EXPECT_EQ(U16At(b, 94 + 8 * i), 0x200 + i);
        EXPECT_EQ(U16At(b, 96 + 8 * i), 0x300 + i);
        EXPECT_EQ(U16At(b, 98 + 8 * i), 0x400 + i);
    }
    EXPECT_EQ(U32At(b, 188), 0x40A00000u);
    EXPECT_EQ(U32At(b, 192), 0x40C00000u);
    EXPECT_EQ(U32At(b, 196), 0x40E00000u);
    EXPECT_EQ(U32At(b, 200), 0x41100000u);
    for (size_t i = 204; i < 212; ++i) {
        EXPECT_EQ(b[i], 0) << "reserved byte " << i;
    }
    for (size_t i = 0; i < 19; ++i) {
        EXPECT_EQ(b[212 + i], 0xA0 + i);
    }
    EXPECT_EQ(b[231], 0);
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(U32At(b, 232 + 4 * i), 0x60000000u + i);
    }
}

TEST(GpsSharedStatusLayout, SignatureSharesBytesWithRatesFourToSeven) {
    GpsSharedStatus block{};
    std::memcpy(reinterpret_cast<uint8_t*>(&block) + signatureOffset, statusSignature, 4);
    EXPECT_EQ(block.nmeaRates[4], 'T');
    EXPECT_EQ(block.nmeaRates[7], 'O');
}

TEST(DriverExchangeBlockLayout, EveryFieldLandsAtItsLittleEndianOffset) {
    DriverExchangeBlock block{};
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        block.comNumber[i] = 0x01000000 + i;
        block.openCount[i] = 0x02000000 + i;
        block.activity[i] = 0x03000000 + i;
        block.rxAvailable[i] = 0x04000000 + i;
        block.pending[i] = {0x05000000 + i, 0x06000000 + i};
    }
    for (uint32_t i = 0; i < exchangeDataCapacity; ++i) {
        block.clientData[i] = static_cast<uint8_t>(i * 7);
    }
    block.clientDataLength = 0x0A0B0C0D;
    block.readOnly = 0x0E0F1011;
    block.version = driverInterfaceVersion;

    const auto b = Bytes(&block, sizeof block);
    ASSERT_EQ(b.size(), 1228u);
    for (uint32_t i = 0; i < virtualPortCount; ++i) {
        EXPECT_EQ(U32At(b, 0 + 4 * i), 0x01000000u + i);
        EXPECT_EQ(U32At(b, 32 + 4 * i), 0x02000000u + i);
        EXPECT_EQ(U32At(b, 1100 + 4 * i), 0x03000000u + i);
        EXPECT_EQ(U32At(b, 1132 + 4 * i), 0x04000000u + i);
        EXPECT_EQ(U32At(b, 1164 + 8 * i), 0x05000000u + i) << "pendingWaits " << i;
        EXPECT_EQ(U32At(b, 1168 + 8 * i), 0x06000000u + i) << "pendingReads " << i;
    }
    for (uint32_t i = 0; i < exchangeDataCapacity; ++i) {
        ASSERT_EQ(b[64 + i], static_cast<uint8_t>(i * 7));
    }
    EXPECT_EQ(U32At(b, 1088), 0x0A0B0C0Du);
    EXPECT_EQ(U32At(b, 1092), 0x0E0F1011u);
    EXPECT_EQ(U32At(b, 1096), 257u);
}

TEST(ControlCodes, AreBufferedAnyAccessCodesOfAnUnknownDevice) {
    constexpr uint32_t fileDeviceUnknown = 0x22;
    EXPECT_EQ(IOCTL_TAVRO_EXCHANGE, CtlCode(fileDeviceUnknown, 0x802, 0, 0));
    EXPECT_EQ(IOCTL_TAVRO_BROADCAST, CtlCode(fileDeviceUnknown, 0x803, 0, 0));
    EXPECT_EQ(IOCTL_TAVRO_TRAFFIC, CtlCode(fileDeviceUnknown, 0x804, 0, 0));
}

TEST(HubReportBlockLayout, TheSignatureReadsTvrpInMemory) {
    HubReportBlock block{};
    block.signature = hubReportSignature;
    EXPECT_EQ(std::memcmp(&block, "TVRP", 4), 0);
}

} // namespace
} // namespace tavro
