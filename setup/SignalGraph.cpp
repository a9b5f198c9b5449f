#include "setup/SignalGraph.h"

#include "common/SatelliteIds.h"

namespace tavro::setup {
namespace {

// The SNR of PRN `prn` if it is used in the fix: 0 when it is not used, at least the floor
// when it is (no entry in view, or a garbage negative SNR, counts as no signal).
int UsedValue(const GpsSharedStatus& block, int prn) {
    bool used = false;
    for (const uint8_t usedPrn : block.usedPrns) {
        used = used || usedPrn == prn;
    }
    if (!used) {
        return 0;
    }
    int snr = 0;
    for (const SatelliteEntry& satellite : block.satellites) {
        if (satellite.prn == prn) {
            snr = satellite.snr;
            break;
        }
    }
    return snr > 0 ? snr : signalGraphUsedFloor;
}

// Satellites entry `index` of a several-constellation fix: its SNR when it is used.
int EntryValue(const GpsSharedStatus& block, int index) {
    if (!EntryUsed(block.usedEntries, index)) {
        return 0;
    }
    const int snr = block.satellites[index].snr;
    return snr > 0 ? snr : signalGraphUsedFloor;
}

} // namespace

void SignalGraph(const GraphRect& client, const GpsSharedStatus& block, SignalGraphShape& shape) {
    shape = SignalGraphShape{};
    shape.background = client;
    const int right = client.right - 8;
    const int bottom = client.bottom - 1;
    shape.outline[0] = {0, 0};
    shape.outline[1] = {right, 0};
    shape.outline[2] = {right, bottom};
    shape.outline[3] = {0, bottom};
    shape.outline[4] = {0, 0};

    GraphRect inner = {client.left + 1, client.top + 1, client.right - 1, client.bottom - 1};
    // A control too small for its frame gets empty bars, never inverted ones.
    inner.right = inner.right > inner.left ? inner.right : inner.left;
    inner.bottom = inner.bottom > inner.top ? inner.bottom : inner.top;
    const bool entries = block.usedEntries != 0;
    shape.columnCount = entries ? signalGraphEntryColumns : signalGraphColumns;
    const int pitch = inner.right / shape.columnCount;
    const int width = pitch > 2 ? pitch - 2 : 0;
    const int64_t height = inner.bottom - inner.top;

    int values[signalGraphColumns];
    // One scale for every column, found first: bars of equal SNR must be of equal height.
    shape.scale = signalGraphMinimumScale;
    for (int k = 0; k < shape.columnCount; ++k) {
        values[k] = entries ? EntryValue(block, k) : UsedValue(block, k + 1);
        if (values[k] > shape.scale) {
            shape.scale = values[k];
        }
    }

    int left = inner.left;
    for (int k = 0; k < shape.columnCount; ++k, left += pitch) {
        const int prn = entries ? block.satellites[k].prn : k + 1;
        const int y = inner.bottom - static_cast<int>(values[k] * height / shape.scale);
        SignalColumn& column = shape.columns[k];
        column.prn = prn;
        column.value = values[k];
        column.grey = {left, inner.top, left + width, y};
        column.green = {left, y, left + width, inner.bottom};
        if (!entries && k != 0 && k % 5 == 0 && shape.tickCount + 2 <= tickMarkLines) {
            shape.ticks[shape.tickCount++] = {{left - 1, y - tickMarkHeight}, {left - 1, y}};
            shape.ticks[shape.tickCount++] = {{left - 2, y - tickMarkHeight}, {left - 2, y}};
        }
    }
}

} // namespace tavro::setup
