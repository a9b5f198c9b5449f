// The signal graph's geometry: what both front ends draw.
#include "setup/SignalGraph.h"

#include <gtest/gtest.h>

namespace tavro::setup {
namespace {

// A control whose inner area is 50 pixels high and 160 wide: column pitch 5, bars 3 wide.
constexpr GraphRect client = {0, 0, 162, 52};
constexpr int innerTop = 1;
constexpr int innerBottom = 51;

int Left(int prn) {
    return 1 + 5 * (prn - 1);
}

int BarHeight(const SignalColumn& column) {
    return column.green.bottom - column.green.top;
}

void Use(GpsSharedStatus& block, int slot, int prn, int snr, int entry) {
    block.usedPrns[slot] = static_cast<uint8_t>(prn);
    block.satellites[entry] = {static_cast<int16_t>(prn), 45, 120, static_cast<int16_t>(snr)};
}

TEST(SignalGraphTest, OutlineLeavesEightPixelsOnTheRight) {
    SignalGraphShape shape;
    SignalGraph(client, GpsSharedStatus{}, shape);
    const GraphPoint expected[5] = {{0, 0}, {154, 0}, {154, 51}, {0, 51}, {0, 0}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(shape.outline[i].x, expected[i].x) << i;
        EXPECT_EQ(shape.outline[i].y, expected[i].y) << i;
    }
    EXPECT_EQ(shape.background.right, 162);
    EXPECT_EQ(shape.scale, 50);
}

TEST(SignalGraphTest, AUsedSatelliteWithoutSignalGetsATwoPixelBar) {
    GpsSharedStatus block{};
    Use(block, 0, 7, 0, 3);
    block.usedPrns[1] = 9; // used, but not among the satellites in view
    SignalGraphShape shape;
    SignalGraph(client, block, shape);
    for (const int prn : {7, 9}) {
        const SignalColumn& column = shape.columns[prn - 1];
        EXPECT_EQ(column.prn, prn);
        EXPECT_EQ(column.value, 2);
        EXPECT_EQ(BarHeight(column), 2) << prn;
        EXPECT_EQ(column.green.top, 49);
        EXPECT_EQ(column.grey.top, innerTop);
        EXPECT_EQ(column.grey.bottom, 49);
        EXPECT_EQ(column.green.left, Left(prn));
        EXPECT_EQ(column.green.right, Left(prn) + 3);
    }
}

TEST(SignalGraphTest, SatellitesInViewButNotUsedShowNoBar) {
    GpsSharedStatus block{};
    block.satellites[0] = {12, 60, 30, 44};
    block.usedPrns[5] = 0; // empty slots name no PRN
    SignalGraphShape shape;
    SignalGraph(client, block, shape);
    for (const SignalColumn& column : shape.columns) {
        EXPECT_EQ(column.value, 0);
        EXPECT_EQ(BarHeight(column), 0) << column.prn;
        EXPECT_EQ(column.grey.bottom, innerBottom);
    }
}

TEST(SignalGraphTest, BarsScaleWithSnrAndGarbageShowsAsNoSignal) {
    GpsSharedStatus block{};
    Use(block, 0, 1, 25, 0);
    Use(block, 1, 32, 50, 1);
    Use(block, 2, 20, -7, 2);
    SignalGraphShape shape;
    SignalGraph(client, block, shape);
    EXPECT_EQ(BarHeight(shape.columns[0]), 25);
    EXPECT_EQ(BarHeight(shape.columns[31]), 50);
    EXPECT_EQ(shape.columns[31].green.top, innerTop);
    EXPECT_EQ(BarHeight(shape.columns[19]), 2) << "a negative SNR is no signal";
    EXPECT_EQ(shape.columns[31].green.left, 156);
}

TEST(SignalGraphTest, AStrongSatelliteRaisesTheScaleForEveryBar) {
    GpsSharedStatus block{};
    Use(block, 0, 2, 40, 0);  // before the strong one
    Use(block, 1, 10, 80, 1); // above the scale of 50
    Use(block, 2, 30, 40, 2); // after it
    SignalGraphShape shape;
    SignalGraph(client, block, shape);
    EXPECT_EQ(shape.scale, 80);
    EXPECT_EQ(BarHeight(shape.columns[9]), 50) << "the strongest fills the graph";
    EXPECT_EQ(BarHeight(shape.columns[1]), 25);
    EXPECT_EQ(BarHeight(shape.columns[29]), 25) << "equal signals, equal bars";
    block.satellites[1].snr = INT16_MAX;
    SignalGraph(client, block, shape);
    EXPECT_EQ(BarHeight(shape.columns[9]), 50);
    EXPECT_EQ(BarHeight(shape.columns[1]), 0);
}

TEST(SignalGraphTest, TickMarksStandBeforeEveryFifthPrnOnTopOfItsBar) {
    GpsSharedStatus block{};
    Use(block, 0, 11, 30, 0);
    SignalGraphShape shape;
    SignalGraph(client, block, shape);
    ASSERT_EQ(shape.tickCount, 12u);
    const int prns[6] = {6, 11, 16, 21, 26, 31};
    for (size_t t = 0; t < 6; ++t) {
        const int left = Left(prns[t]);
        const int top = prns[t] == 11 ? 21 : innerBottom;
        for (size_t line = 0; line < 2; ++line) {
            const GraphLine& tick = shape.ticks[2 * t + line];
            EXPECT_EQ(tick.from.x, left - 1 - static_cast<int>(line)) << prns[t];
            EXPECT_EQ(tick.to.x, tick.from.x);
            EXPECT_EQ(tick.to.y, top) << prns[t];
            EXPECT_EQ(tick.from.y, top - 10);
        }
    }
}

TEST(SignalGraphTest, ASeveralConstellationFixHasAColumnPerSatellitesEntry) {
    GpsSharedStatus block{};
    block.satellites[0] = {5, 40, 100, 45};
    block.satellites[1] = {305, 40, 100, 40};
    block.satellites[2] = {412, 40, 100, 0};
    block.satellites[3] = {70, 40, 100, 44}; // in view, not used
    block.usedPrns[0] = 70;                  // usedEntries decides, not usedPrns
    block.usedEntries = 0x7;
    SignalGraphShape shape;
    SignalGraph(client, block, shape);
    ASSERT_EQ(shape.columnCount, 12);
    EXPECT_EQ(shape.tickCount, 0u);
    const int prns[] = {5, 305, 412, 70};
    const int bars[] = {45, 40, 2, 0};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(shape.columns[k].prn, prns[k]);
        EXPECT_EQ(BarHeight(shape.columns[k]), bars[k]) << prns[k];
        EXPECT_EQ(shape.columns[k].green.left, 1 + 13 * k) << "160 pixels for 12 columns";
    }
}

TEST(SignalGraphTest, TinyControlsGetEmptyButWellFormedShapes) {
    GpsSharedStatus block{};
    Use(block, 0, 1, 40, 0);
    for (const GraphRect rect : {GraphRect{0, 0, 0, 0}, GraphRect{0, 0, 40, 2},
                                 GraphRect{0, 0, 3, 300}, GraphRect{0, 0, -20, -20}}) {
        SignalGraphShape shape;
        SignalGraph(rect, block, shape);
        for (const SignalColumn& column : shape.columns) {
            EXPECT_LE(column.green.left, column.green.right);
            EXPECT_LE(column.green.top, column.green.bottom);
            EXPECT_LE(column.grey.top, column.grey.bottom);
            EXPECT_EQ(column.grey.bottom, column.green.top);
        }
    }
}

} // namespace
} // namespace tavro::setup
