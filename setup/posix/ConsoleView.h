// The setup tool's view on a terminal: it keeps what the dialog would show, and the verbs
// print it when they are done.
#pragma once

#include "setup/SetupTables.h"
#include "setup/SetupTool.h"
#include "setup/SetupView.h"
#include "setup/StatusText.h"

#include <array>
#include <string>

namespace tavro::feltro {

class ConsoleView final : public setup::SetupView {
public:
    ConsoleView() { sentenceSelections.fill(-1); }

    void ShowFixStatus(const char* text) override { fixStatus = text; }
    void ShowLineLoad(const char* text) override { lineLoad = text; }
    void SelectSpeed(int index) override { speedSelection = index; }
    void SelectFixRate(int index) override { fixRateSelection = index; }
    void SelectSentenceRate(size_t slot, int index) override {
        if (slot < sentenceSelections.size()) {
            sentenceSelections[slot] = index;
        }
    }
    void DrawSignalGraph(const GpsSharedStatus&) override { ++graphDrawings; }

    std::string fixStatus = setup::noConnectionText;
    std::string lineLoad;
    int speedSelection = -1;
    int fixRateSelection = -1;
    std::array<int, setup::sentenceSlotCount> sentenceSelections{};
    int graphDrawings = 0;
};

// "GLL=0 RMC=1 ... CHN=0": the listed slots and their rates.
std::string RatesText(const setup::SentenceRates& rates);

// The signal graph drawn with characters from the same geometry as the dialog's: one column
// per PRN 1-32 ('#' the bar, '.' the grey above it), a gap where the dialog draws its tick
// marks, the PRN numbers below in two rows (tens, units).
std::string TextSignalGraph(const GpsSharedStatus& block);

// What `feltro status` prints: the fix status, line speed, fix rate, sentence rates when the
// receiver reported them, the line-load text and the graph.
std::string StatusReport(const setup::SetupTool& tool, const ConsoleView& view);

} // namespace tavro::feltro
