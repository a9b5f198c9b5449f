#include "setup/posix/ConsoleView.h"

#include "setup/SignalGraph.h"
#include "setup/StatusText.h"

#include <cstdio>

namespace tavro::feltro {
namespace {

using namespace setup;

// Pixel geometry that gives every column a bar one pixel wide (pitch 3) and eight pixels of
// height, which become one character and eight rows.
constexpr GraphRect textGraphClient = {0, 0, 3 * signalGraphColumns + 1, 10};

bool Covers(const GraphRect& rect, int y) {
    return rect.right > rect.left && y >= rect.top && y < rect.bottom;
}

} // namespace

std::string RatesText(const SentenceRates& rates) {
    std::string text;
    for (const size_t slot : listedSlots) {
        if (!text.empty()) {
            text += ' ';
        }
        text += sentenceSlots[slot].label;
        text += '=';
        text += std::to_string(rates[slot]);
    }
    return text;
}

std::string TextSignalGraph(const GpsSharedStatus& block) {
    SignalGraphShape shape;
    SignalGraph(textGraphClient, block, shape);
    const int top = textGraphClient.top + 1;
    const int bottom = textGraphClient.bottom - 1;
    // A column per PRN 1-32 is one character; a column per satellites entry (a fix of several
    // constellations) is three, for ids up to 520.
    const bool entries = shape.columnCount == signalGraphEntryColumns;
    std::string text;
    const auto row = [&](auto cell) {
        text += "  ";
        for (int k = 0; k < shape.columnCount; ++k) {
            if (entries) {
                text += std::string(3, cell(shape.columns[k])) + ' ';
                continue;
            }
            if (k != 0 && k % 5 == 0) {
                text += ' ';
            }
            text += cell(shape.columns[k]);
        }
        text += '\n';
    };
    for (int y = top; y < bottom; ++y) {
        row([&](const SignalColumn& column) {
            return Covers(column.green, y) ? '#' : Covers(column.grey, y) ? '.' : ' ';
        });
    }
    if (entries) {
        text += "  ";
        for (int k = 0; k < shape.columnCount; ++k) {
            char label[8];
            const int prn = shape.columns[k].prn;
            std::snprintf(label, sizeof label, prn > 0 && prn < 1000 ? "%3d " : "    ", prn);
            text += label;
        }
        text += '\n';
    } else {
        row([](const SignalColumn& column) {
            return column.prn >= 10 ? static_cast<char>('0' + column.prn / 10) : ' ';
        });
        row([](const SignalColumn& column) { return static_cast<char>('0' + column.prn % 10); });
    }
    text += "  (SNR of the satellites used in the fix; a full bar is " +
            std::to_string(shape.scale) + " dB-Hz)\n";
    return text;
}

std::string StatusReport(const SetupTool& tool, const ConsoleView& view) {
    const GpsSharedStatus& block = tool.Block();
    std::string text = view.fixStatus + "\n";
    text += "Line speed: ";
    text += tool.SelectedSpeed() != 0 ? std::to_string(tool.SelectedSpeed())
            : block.baudRate != 0     ? std::to_string(block.baudRate) + " (not an MTK speed)"
                                      : std::string("unknown");
    text += "\nFix rate: ";
    if (view.fixRateSelection >= 0) {
        char label[fixRateLabelCapacity];
        FixRateLabel(static_cast<size_t>(view.fixRateSelection), label);
        text += label;
        if (block.fixInterval != fixIntervals[view.fixRateSelection]) {
            text += " (the receiver reports " + std::to_string(block.fixInterval) + " ms)";
        }
    } else {
        text += "not reported";
    }
    text += "\nSentence rates: ";
    text += tool.RatesLoaded() ? RatesText(tool.Rates()) : std::string("not reported");
    text += "\n";
    if (!view.lineLoad.empty()) {
        text += view.lineLoad + "\n";
    }
    text += TextSignalGraph(block);
    return text;
}

} // namespace tavro::feltro
