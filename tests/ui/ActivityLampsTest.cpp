// The activity lamps: how a lamp turns and wraps, its drawing, and the colours and turns the
// ports' states and counts give.
#include "MainWindowFixture.h"

#include "hub/ui/ActivityLamps.h"

namespace tavro::testing {
namespace {

TEST(LampAngle, AFullTurnOfStepsLeavesTheAngleWhereItWas) {
    EXPECT_FLOAT_EQ(ActivityLamps::TurnedAngle(0.0f, -1800), 0.0f);
    EXPECT_FLOAT_EQ(ActivityLamps::TurnedAngle(123.5f, -1800), 123.5f);
    EXPECT_FLOAT_EQ(ActivityLamps::TurnedAngle(123.5f, 1800), 123.5f);
}

TEST(LampAngle, WrapsAtBothEnds) {
    EXPECT_NEAR(ActivityLamps::TurnedAngle(359.9f, -1), 359.7f, 1e-3);
    EXPECT_NEAR(ActivityLamps::TurnedAngle(359.9f, 1), 0.1f, 1e-3);
    EXPECT_NEAR(ActivityLamps::TurnedAngle(0.1f, -1), 359.9f, 1e-3);
    EXPECT_FLOAT_EQ(ActivityLamps::TurnedAngle(0.0f, 0), 0.0f);
}

TEST(LampAngle, StepsOfManyTurnsStayInRange) {
    // The first tick after the window was closed for an hour, and counts that jumped back.
    for (int32_t step : {-72000, 72000, -65535, 65535, INT32_MIN, INT32_MAX}) {
        const float angle = ActivityLamps::TurnedAngle(10.0f, step);
        EXPECT_GE(angle, 0.0f) << step;
        EXPECT_LT(angle, 360.0f) << step;
    }
    EXPECT_NEAR(ActivityLamps::TurnedAngle(10.0f, -72001), 9.8f, 1e-2);
}

TEST(LampDrawing, CarriesTheGeometryColoursAndRingOffsets) {
    ActivityLamps lamps;
    RecordingLampPainter painter;
    lamps.DrawLamp(painter, 4, 0x0000FF, -50); // red, turned by -10 degrees
    ASSERT_EQ(painter.painted.size(), 1u);
    EXPECT_EQ(painter.painted[0].first, 4u);
    const LampDrawing& drawing = painter.painted[0].second;
    EXPECT_EQ(drawing.fill, 0xFFFF0000u); // COLORREF red as opaque ARGB
    EXPECT_FLOAT_EQ(drawing.angle, 350.0f);
    EXPECT_EQ(drawing.smoothingMode, 2);
    EXPECT_EQ(drawing.interpolationMode, 7);
    EXPECT_EQ((std::array{drawing.disc.x, drawing.disc.y, drawing.disc.width, drawing.disc.height}),
              (std::array{2, 2, 9, 9}));
    EXPECT_EQ((std::array{drawing.ring.x, drawing.ring.y, drawing.ring.width, drawing.ring.height}),
              (std::array{1, 1, 11, 11}));
    EXPECT_FLOAT_EQ(drawing.penWidth, 2.0f);
    EXPECT_FLOAT_EQ(drawing.dash[0], 3.0f);
    EXPECT_FLOAT_EQ(drawing.dash[1], 3.0f);
    EXPECT_EQ(drawing.firstRingColour, 0xFF0000FFu);
    EXPECT_FLOAT_EQ(drawing.firstRingOffset, 353.0f);
    EXPECT_EQ(drawing.secondRingColour, 0xFF00FFFFu);
    EXPECT_FLOAT_EQ(drawing.secondRingOffset, 350.0f);
    EXPECT_FLOAT_EQ(lamps.Angle(4), 350.0f);
    EXPECT_FLOAT_EQ(lamps.Angle(3), 0.0f);

    lamps.DrawLamp(painter, lampCount, 0x0000FF, 10); // no such lamp
    EXPECT_EQ(painter.painted.size(), 1u);
}

TEST(LampDrawing, ColoursBecomeOpaqueArgb) {
    EXPECT_EQ(OpaqueArgb(0x707070), 0xFF707070u);
    EXPECT_EQ(OpaqueArgb(0x00FF02), 0xFF02FF00u);
    EXPECT_EQ(OpaqueArgb(0xF0F000), 0xFF00F0F0u);
}

// The lamps on a hub whose ports are enabled: COM5 and COM6 for virtual ports 1 and 2.
class LampsOnAHub : public MainWindowFixture {
protected:
    void SetUp() override {
        StoreUsualSettings();
        StoreSetting("Port0", 5);
        StoreSetting("Port1", 6);
        ports_.Add(3);
        Start(true);
        ASSERT_TRUE(engine_.EnablePorts());
        ASSERT_TRUE(Hub().exchange.DeviceOpen());
    }

    // One tick of the lamps; returns the fill of each lamp, indexed by lamp.
    std::array<uint32_t, lampCount> Update() {
        painter_.painted.clear();
        lamps_.Update(Hub(), painter_);
        std::array<uint32_t, lampCount> fills{};
        for (const auto& [lamp, drawing] : painter_.painted) {
            fills[lamp] = drawing.fill;
        }
        return fills;
    }

    DriverExchangeBlock& Block() { return Hub().exchange.block; }

    ActivityLamps lamps_;
};

TEST_F(LampsOnAHub, ANumberedPortWithoutClientIsRedAndStill) {
    const auto fills = Update();
    EXPECT_EQ(fills[1], OpaqueArgb(lampColour::red));
    EXPECT_EQ(fills[2], OpaqueArgb(lampColour::red));
    for (uint32_t lamp = 3; lamp < lampCount; ++lamp) {
        EXPECT_EQ(fills[lamp], OpaqueArgb(lampColour::grey)) << lamp;
    }
    Update();
    EXPECT_FLOAT_EQ(lamps_.Angle(1), 0.0f);
}

TEST_F(LampsOnAHub, ClientsTurnTheLampGreenWithABitPerClientCount) {
    Block().openCount[0] = 1;
    Block().openCount[1] = 3;
    auto fills = Update();
    EXPECT_EQ(fills[1], OpaqueArgb(0x00FF02));
    EXPECT_EQ(fills[2], OpaqueArgb(0x00FF08));
    // A count beyond the colour's bits leaves plain green rather than shifting past them.
    Block().openCount[0] = 40;
    fills = Update();
    EXPECT_EQ(fills[1], OpaqueArgb(lampColour::green));
}

TEST_F(LampsOnAHub, GrowingReadActivityTurnsTheRingBackwards) {
    Block().openCount[0] = 1;
    // The upper half of the activity word counts reads; the lower half is not used.
    Block().activity[0] = 100u << 16 | 0x1234;
    Update();
    EXPECT_FLOAT_EQ(lamps_.Angle(1), 340.0f); // step -100
    Block().activity[0] = 100u << 16 | 0x9999;
    Update();
    EXPECT_FLOAT_EQ(lamps_.Angle(1), 340.0f);
    Block().activity[0] = 1900u << 16;
    Update();
    EXPECT_FLOAT_EQ(lamps_.Angle(1), 340.0f); // step -1800: a whole turn
}

TEST_F(LampsOnAHub, TheInputLampTurnsWithSentencesOnlyWhileThePortIsOpen) {
    Hub().loop.sentenceCount = 25;
    auto fills = Update();
    EXPECT_EQ(fills[inputLampIndex], OpaqueArgb(lampColour::red)); // closed
    EXPECT_FLOAT_EQ(lamps_.Angle(inputLampIndex), 0.0f);

    EngineTicks(ticksToFirstOpen);
    ASSERT_TRUE(Hub().InputPortOpen());
    Hub().loop.sentenceCount = 25;
    fills = Update();
    EXPECT_EQ(fills[inputLampIndex], OpaqueArgb(lampColour::green));
    EXPECT_FLOAT_EQ(lamps_.Angle(inputLampIndex), 355.0f); // step 0 - 25
    Hub().loop.sentenceCount = 30;
    Update();
    EXPECT_FLOAT_EQ(lamps_.Angle(inputLampIndex), 354.0f);
}

} // namespace
} // namespace tavro::testing
