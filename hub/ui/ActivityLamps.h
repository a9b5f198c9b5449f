// The nine activity lamps of the main window: lamp 0 beside the input port list, lamps 1 … 8
// beside the virtual port lists. Each is a disc whose colour tells the port's state, ringed by
// a blue and cyan dashed circle that turns as data moves through the port.
//
// This file decides colours, turns and geometry; a LampPainter puts them on the screen
// (Windows: GDI+ on the lamp's static control). Angles and the counts last seen live as long
// as the ActivityLamps object, which the hub keeps for its whole run, across openings of the
// main window.
#pragma once

#include "hub/engine/HubContext.h"

#include <stdint.h>

namespace tavro {

inline constexpr uint32_t lampCount = 9;
inline constexpr uint32_t inputLampIndex = 0;

// Lamp colours, as COLORREF values 0x00BBGGRR.
namespace lampColour {
inline constexpr uint32_t grey = 0x707070;      // ports disabled, or no COM number
inline constexpr uint32_t red = 0x0000FF;       // not open, or nobody uses the port
inline constexpr uint32_t green = 0x00FF00;     // in use (a virtual port adds 1 << clients)
inline constexpr uint32_t bluetooth = 0xF0F000; // input open on a port that opened slowly
} // namespace lampColour

// A COLORREF as an opaque GDI+ ARGB value 0xFFRRGGBB.
constexpr uint32_t OpaqueArgb(uint32_t colorRef) {
    return 0xFF000000u | (colorRef & 0xFF) << 16 | (colorRef & 0xFF00) | (colorRef >> 16 & 0xFF);
}

struct LampRect {
    int32_t x, y, width, height; // pixels, in the lamp control
};

// Everything one lamp's drawing needs, in the order of drawing: the disc filled with `fill`,
// then the ring twice with a dashed pen of `penWidth` (unit 0, the world unit) and dash lengths
// `dash` (in pen widths): blue at `firstRingOffset`, then cyan at `secondRingOffset`, so that
// the cyan dashes fill the blue ones' gaps. Smoothing and interpolation modes are GDI+'s
// (2 high quality, 7 high-quality bicubic).
struct LampDrawing {
    uint32_t fill = 0;  // ARGB
    float angle = 0.0f; // the lamp's angle after this tick's turn, in [0, 360)
    int32_t smoothingMode = 2;
    int32_t interpolationMode = 7;
    LampRect disc{2, 2, 9, 9};
    float penWidth = 2.0f;
    float dash[2] = {3.0f, 3.0f};
    LampRect ring{1, 1, 11, 11};
    uint32_t firstRingColour = 0xFF0000FF;  // ARGB, opaque blue
    float firstRingOffset = 3.0f;           // angle + 3
    uint32_t secondRingColour = 0xFF00FFFF; // ARGB, opaque cyan
    float secondRingOffset = 0.0f;          // angle
};

class LampPainter {
public:
    virtual ~LampPainter() = default;
    // Draws lamp `lamp` (0 … 8, control 1032 + lamp). Failures are not reported: a lamp whose
    // drawing fails shows less.
    virtual void Paint(uint32_t lamp, const LampDrawing& drawing) = 0;
};

class ActivityLamps {
public:
    // The lamp's angle turned by 0.2 × `step` degrees and brought back into [0, 360).
    static float TurnedAngle(float angle, int32_t step);

    // Turns lamp `lamp` by `step` and has it painted in `colour` (a COLORREF).
    void DrawLamp(LampPainter& painter, uint32_t lamp, uint32_t colour, int32_t step);

    // One tick of the main window: the eight virtual port lamps from the exchange record, then
    // the input lamp from the input port and sentenceCount.
    void Update(const HubContext& hub, LampPainter& painter);

    float Angle(uint32_t lamp) const { return lamp < lampCount ? angle_[lamp] : 0.0f; }

private:
    float angle_[lampCount] = {};
    uint32_t lastReadActivity_[virtualPortCount] = {};
    uint32_t lastSentenceCount_ = 0;
};

} // namespace tavro
