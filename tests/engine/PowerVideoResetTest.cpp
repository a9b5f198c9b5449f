// The video countdown after start and resume: when the display goes off and on with each
// "VSyncDelay", that the display always comes back (a long delay, "Video Reset" unticked while
// it is dark, the hub ending while it is dark), a resume during the countdown, and the delayed
// device restart with and without "Video Reset".
#include "tests/engine/PowerFixture.h"

#include <gtest/gtest.h>

namespace tavro::testing {
namespace {

using platform::DisplayState;
using Switches = std::vector<std::pair<uint32_t, DisplayState>>;
using Changes = std::vector<std::string>;

class VideoReset : public PowerFixture {
protected:
    VideoReset() { StoreOptions(OptionFlags::videoReset); }
};

TEST_F(VideoReset, TheDisplayGoesOffAfterFifteenTicksAndComesBackTwoHundredMillisecondsLater) {
    Start();
    EXPECT_EQ(TickAndWatchDisplay(200),
              (Switches{{15, DisplayState::Off}, {19, DisplayState::On}}));
    EXPECT_FALSE(engine_.Power().DisplayOff());
}

TEST_F(VideoReset, AZeroDelaySendsOffAndOnInTheSameTickInThatOrder) {
    StoreNumber("VSyncDelay", 0);
    Start();
    EXPECT_EQ(TickAndWatchDisplay(100),
              (Switches{{15, DisplayState::Off}, {15, DisplayState::On}}));
}

// The longest delay ends just before the countdown. Anything longer would put the on message
// past the countdown's end: it comes at that latest time instead, so the user is never left in
// front of a dark screen.
class LongVSyncDelay : public VideoReset, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(LongVSyncDelay, StillSwitchesTheDisplayBackOn) {
    StoreNumber("VSyncDelay", GetParam());
    Start();
    EXPECT_EQ(TickAndWatchDisplay(200),
              (Switches{{15, DisplayState::Off}, {99, DisplayState::On}}));
    EXPECT_EQ(Hub().settings.vSyncDelay, GetParam()) << "the stored value is kept";
}

// 43 is the first value past the end; 0x80000000 doubles to 0 in 32 bits.
INSTANTIATE_TEST_SUITE_P(UpToTheCountdownAndPast, LongVSyncDelay,
                         ::testing::Values(maxVSyncDelay, 43u, 1000u, 0x80000000u, 0xFFFFFFFFu));

TEST_F(VideoReset, UntickingVideoResetWhileTheDisplayIsOffStillSwitchesItOn) {
    StoreNumber("VSyncDelay", 10);
    Start();
    Tick(15);
    ASSERT_TRUE(engine_.Power().DisplayOff());
    Hub().settings.optionFlags = WithOption(Hub().settings.optionFlags, OptionFlags::videoReset,
                                            false); // the main window's box
    EXPECT_EQ(TickAndWatchDisplay(100), (Switches{{20, DisplayState::On}}));
}

TEST_F(VideoReset, TheHubEndingWhileTheDisplayIsOffSwitchesItOnFirst) {
    PlugIn(12);
    StoreDevice(0, 12);
    StoreNumber("VSyncDelay", 20);
    Start();
    Tick(16);
    display_.Clear();
    usb_.ClearChanges();
    engine_.Destroy();
    EXPECT_EQ(display_.Calls(), std::vector<DisplayState>{DisplayState::On});
    EXPECT_EQ(usb_.Changes(), (Changes{"Stop 12"}));
}

TEST_F(VideoReset, AResumeDuringTheCountdownStartsItAgain) {
    Start();
    Tick(50);
    display_.Clear();
    Power(resumeSuspend);
    EXPECT_EQ(TickAndWatchDisplay(200),
              (Switches{{15, DisplayState::Off}, {19, DisplayState::On}}));
}

using DelayedRestart = PowerFixture;

TEST_F(DelayedRestart, WithoutVideoResetNoBroadcastButTheDelayedRestartStillComes) {
    PlugIn(12);
    StoreDevice(0, 12);
    StartAndSettle();
    EXPECT_TRUE(display_.Calls().empty());

    Power(suspend);
    usb_.Refuse(12, platform::DeviceStateChange::Start);
    Power(resumeSuspend);
    usb_.Refuse(12, platform::DeviceStateChange::Start, false);
    usb_.ClearChanges();
    EXPECT_TRUE(TickAndWatchDisplay(99).empty());
    EXPECT_TRUE(usb_.Changes().empty());
    Tick();
    EXPECT_TRUE(display_.Calls().empty());
    EXPECT_EQ(usb_.Changes(), (Changes{"Enable 12", "Start 12"}));
    EXPECT_TRUE(usb_.Running(12));
    EXPECT_EQ(Hub().loop.videoCountdown, 0u);
    Tick(200);
    EXPECT_EQ(usb_.Changes().size(), 2u) << "once per countdown";
}

} // namespace
} // namespace tavro::testing
