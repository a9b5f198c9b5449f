// The bitmap of taken COM numbers and the scan of the serial port map that fills it.
#include "hub/engine/ComNumbering.h"
#include "hub/engine/HubContext.h"
#include "platform/ErrorCodes.h"
#include "platform/testing/FakeSerialPorts.h"

#include <gtest/gtest.h>

namespace tavro::testing {
namespace {

TEST(ComDbBitmap, ComNumberNIsBitNMinusOneLeastSignificantFirst) {
    ComDbBitmap bitmap;
    bitmap.SetComBit(1, true);
    bitmap.SetComBit(8, true);
    bitmap.SetComBit(9, true);
    bitmap.SetComBit(255, true);
    EXPECT_EQ(bitmap.bytes[0], 0x81);
    EXPECT_EQ(bitmap.bytes[1], 0x01);
    EXPECT_EQ(bitmap.bytes[31], 0x40);
    for (uint32_t i = 2; i < 31; ++i) {
        EXPECT_EQ(bitmap.bytes[i], 0) << "byte " << i;
    }
    EXPECT_TRUE(bitmap.IsTaken(8));
    EXPECT_FALSE(bitmap.IsTaken(7));

    bitmap.SetComBit(8, false);
    EXPECT_EQ(bitmap.bytes[0], 0x01) << "only that bit cleared";
    bitmap.Clear();
    for (uint8_t byte : bitmap.bytes) {
        EXPECT_EQ(byte, 0);
    }
}

TEST(ComDbBitmap, NumbersOutsideOneTo255ChangeNothing) {
    ComDbBitmap bitmap;
    bitmap.SetComBit(0, true);
    bitmap.SetComBit(256, true);
    bitmap.SetComBit(0xFFFFFFFF, true);
    for (uint8_t byte : bitmap.bytes) {
        EXPECT_EQ(byte, 0);
    }
    EXPECT_FALSE(bitmap.IsTaken(0));
    EXPECT_FALSE(bitmap.IsTaken(256));
}

TEST(ScanSerialPorts, MarksThePortsOfTheMapAsTakenAndPresentAndOnlyAdds) {
    platform::testing::FakeSerialPortMap map;
    map.Set({3, 1, 0, 256, -1, 255, 3});
    ComDbBitmap bitmap;
    bitmap.SetComBit(20, true);
    SearchValues values;
    values.portScanState[21].store(6);

    ASSERT_TRUE(ScanSerialPorts(map, bitmap, values));
    for (uint32_t n = 0; n < SearchValues::comSlots; ++n) {
        const bool listed = n == 1 || n == 3 || n == 255;
        EXPECT_EQ(bitmap.IsTaken(n), listed || n == 20) << "COM" << n;
        EXPECT_EQ(values.portScanState[n].load(), listed ? 1 : n == 21 ? 6 : 0) << "COM" << n;
    }
}

TEST(ScanSerialPorts, AMapThatCannotBeOpenedChangesNothing) {
    platform::testing::FakeSerialPortMap map;
    map.Set({1, 2}, error::fileNotFound);
    ComDbBitmap bitmap;
    SearchValues values;
    EXPECT_FALSE(ScanSerialPorts(map, bitmap, values));
    EXPECT_FALSE(bitmap.IsTaken(1));
    EXPECT_EQ(values.portScanState[1].load(), 0);
}

} // namespace
} // namespace tavro::testing
