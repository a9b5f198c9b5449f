// The signal bar graph of the satellites used in the fix, as geometry: one column per PRN 1-32,
// a grey part above a green bar whose height is the satellite's SNR, an outline and tick marks
// every five PRNs. Both front ends draw exactly these primitives.
//
// A receiver that uses several constellations (the hub marks the used table entries in
// usedEntries) has satellites beyond PRN 32: then the graph has one column per satellites
// entry instead, twelve, labelled with the entries' ids (used ones first, as the hub orders
// them), a bar for each one used, and no tick marks.
#pragma once

#include "common/GpsSharedStatus.h"

#include <stddef.h>
#include <stdint.h>

namespace tavro::setup {

// Rectangles as Win32 RECTs: right and bottom lie outside.
struct GraphRect {
    int left;
    int top;
    int right;
    int bottom;
};

struct GraphPoint {
    int x;
    int y;
};

struct GraphColour {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

inline constexpr GraphColour graphBlack = {0, 0, 0};
inline constexpr GraphColour graphGrey = {176, 176, 176};
inline constexpr GraphColour graphGreen = {0, 255, 0};

inline constexpr int signalGraphColumns = 32;
inline constexpr int signalGraphEntryColumns = 12; // one per satellites entry
inline constexpr int signalGraphMinimumScale = 50;
// A used satellite without a signal still shows as a sliver of this value.
inline constexpr int signalGraphUsedFloor = 2;
inline constexpr int tickMarkHeight = 10;
inline constexpr size_t tickMarkLines = 2 * 6; // two lines before PRNs 6, 11, 16, 21, 26, 31

struct SignalColumn {
    int prn;
    int value;       // 0 when not used in the fix
    GraphRect grey;  // above the bar
    GraphRect green; // the bar, empty when the value is 0
};

struct GraphLine {
    GraphPoint from;
    GraphPoint to;
};

struct SignalGraphShape {
    GraphRect background;  // the whole control, cleared before the rest is drawn
    GraphPoint outline[5]; // one polyline with the black pen
    int scale;             // SNR of a full-height bar
    int columnCount;       // 32, or 12 for a fix of several constellations
    SignalColumn columns[signalGraphColumns];
    GraphLine ticks[tickMarkLines]; // black, vertical
    size_t tickCount;
};

// The shape for the control's client rectangle `client` and the block's usedPrns (or
// usedEntries) and satellites. Any rectangle and any block content give a well-formed shape (empty
// rectangles where there is no room).
void SignalGraph(const GraphRect& client, const GpsSharedStatus& block, SignalGraphShape& shape);

} // namespace tavro::setup
