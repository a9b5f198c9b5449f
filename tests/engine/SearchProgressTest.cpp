// The main window's progress line during a search.
#include "hub/engine/SearchProgress.h"

#include <gtest/gtest.h>

#include <string.h>

namespace tavro::testing {
namespace {

class SearchProgress : public ::testing::Test {
protected:
    std::string Text() {
        char text[searchProgressSize];
        memset(text, 'x', sizeof text);
        FormatSearchProgress(values_, text);
        return text;
    }
    void Set(uint32_t com, uint8_t state) { values_.portScanState[com].store(state); }

    SearchValues values_;
};

TEST_F(SearchProgress, ShowsEachKnownPortWithTheSpeedItsThreadTries) {
    EXPECT_EQ(Text(), "") << "nothing known";
    Set(1, 1);   // present, not tried yet
    Set(2, 0);   // absent or given up: not shown
    Set(3, 2);   // 4800
    Set(12, 8);  // stopped at 187500
    Set(255, 5); // 38400
    EXPECT_EQ(Text(), "1 ?, 3 4800, 12 187500, 255 38400, ");
    values_.PublishFound(12, 187500);
    EXPECT_EQ(Text(), "1 ?, 3 4800, [12 187500], 255 38400, ");
}

TEST_F(SearchProgress, AStateBeyondTheSpeedsIsNotReadPastTheTable) {
    Set(4, 9);
    Set(5, 255);
    EXPECT_EQ(Text(), "4 ?, 5 ?, ");
}

TEST_F(SearchProgress, EntriesStopOnceTheTextHas98Characters) {
    for (uint32_t com = 1; com <= 9; ++com) {
        Set(com, 2); // "n 4800, ": 9 x 8 = 72
    }
    Set(10, 1); // "10 ?, ": 78
    Set(11, 2); // "11 4800, ": 87
    Set(12, 2); // "[12 4800], ": 98
    values_.PublishFound(12, 4800);
    Set(13, 1); // not added
    const std::string text = Text();
    EXPECT_EQ(text.size(), 98u);
    EXPECT_EQ(text.substr(72), "10 ?, 11 4800, [12 4800], ");
}

TEST_F(SearchProgress, AnEntryThatWouldRunPast99CharactersIsCutThere) {
    for (uint32_t com = 1; com <= 9; ++com) {
        Set(com, 2); // 72
    }
    for (uint32_t com = 10; com <= 13; ++com) {
        Set(com, 1); // "1n ?, ": 96
    }
    Set(14, 8); // "[14 187500], " cut to "[14"
    values_.PublishFound(14, 187500);
    Set(15, 1);
    const std::string text = Text();
    EXPECT_EQ(text.size(), 99u);
    EXPECT_EQ(text.substr(72), "10 ?, 11 ?, 12 ?, 13 ?, [14");
}

} // namespace
} // namespace tavro::testing
