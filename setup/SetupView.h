// What the setup tool's logic asks of its front end (dialog 101 on Windows, the terminal on
// POSIX). The front end fills the lists from SetupTables itself.
#pragma once

#include "common/GpsSharedStatus.h"

#include <stddef.h>

namespace tavro::setup {

class SetupView {
public:
    virtual ~SetupView() = default;

    // Control 1005.
    virtual void ShowFixStatus(const char* text) = 0;
    // Control 1004: the line-load estimate or the "not supported" notice.
    virtual void ShowLineLoad(const char* text) = 0;

    // Selections of the lists; -1 selects nothing.
    virtual void SelectSpeed(int index) = 0;
    virtual void SelectFixRate(int index) = 0;
    virtual void SelectSentenceRate(size_t slot, int index) = 0;

    // Redraws the signal graph (SignalGraph) from the block.
    virtual void DrawSignalGraph(const GpsSharedStatus& block) = 0;
};

} // namespace tavro::setup
