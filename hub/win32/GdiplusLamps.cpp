#include "hub/win32/GdiplusLamps.h"

#include "hub/ui/MainWindowView.h"

// The few functions of the GDI+ flat interface the lamps use, declared here rather than
// through <gdiplus.h>, whose C++ wrapper classes the hub does not need. The objects are
// opaque; every function returns a GpStatus, 0 meaning success.
extern "C" {
struct GdiplusStartupInput {
    UINT32 GdiplusVersion;
    void* DebugEventCallback;
    BOOL SuppressBackgroundThread;
    BOOL SuppressExternalCodecs;
};
int WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, void* output);
void WINAPI GdiplusShutdown(ULONG_PTR token);
int WINAPI GdipCreateSolidFill(DWORD argb, void** brush);
int WINAPI GdipDeleteBrush(void* brush);
int WINAPI GdipCreateFromHWND(HWND window, void** graphics);
int WINAPI GdipDeleteGraphics(void* graphics);
int WINAPI GdipSetSmoothingMode(void* graphics, int mode);
int WINAPI GdipSetInterpolationMode(void* graphics, int mode);
int WINAPI GdipFillEllipseI(void* graphics, void* brush, INT x, INT y, INT width, INT height);
int WINAPI GdipDrawEllipseI(void* graphics, void* pen, INT x, INT y, INT width, INT height);
int WINAPI GdipCreatePen1(DWORD argb, float width, int unit, void** pen);
int WINAPI GdipDeletePen(void* pen);
int WINAPI GdipSetPenDashArray(void* pen, const float* dash, INT count);
int WINAPI GdipSetPenDashOffset(void* pen, float offset);
int WINAPI GdipSetPenColor(void* pen, DWORD argb);
}

namespace tavro::win32 {
namespace {

constexpr int unitWorld = 0;

} // namespace

GdiplusSession::GdiplusSession() {
    const GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
    started_ = GdiplusStartup(&token_, &input, nullptr) == 0;
}

GdiplusSession::~GdiplusSession() {
    if (started_) {
        GdiplusShutdown(token_);
    }
}

void GdiplusLampPainter::Paint(uint32_t lamp, const LampDrawing& drawing) {
    if (dialog_ == nullptr) {
        return;
    }
    HWND control = GetDlgItem(dialog_, static_cast<int>(control::inputLamp + lamp));
    if (control == nullptr) {
        return;
    }
    // A call that fails leaves its object null; the calls that need it then fail too, and the
    // lamp shows less. Whatever was made is deleted.
    void* brush = nullptr;
    void* graphics = nullptr;
    void* pen = nullptr;
    GdipCreateSolidFill(drawing.fill, &brush);
    GdipCreateFromHWND(control, &graphics);
    GdipSetSmoothingMode(graphics, drawing.smoothingMode);
    GdipSetInterpolationMode(graphics, drawing.interpolationMode);
    const LampRect& disc = drawing.disc;
    GdipFillEllipseI(graphics, brush, disc.x, disc.y, disc.width, disc.height);

    GdipCreatePen1(drawing.firstRingColour, drawing.penWidth, unitWorld, &pen);
    GdipSetPenDashArray(pen, drawing.dash, 2);
    const LampRect& ring = drawing.ring;
    GdipSetPenDashOffset(pen, drawing.firstRingOffset);
    GdipDrawEllipseI(graphics, pen, ring.x, ring.y, ring.width, ring.height);
    GdipSetPenDashOffset(pen, drawing.secondRingOffset);
    GdipSetPenColor(pen, drawing.secondRingColour);
    GdipDrawEllipseI(graphics, pen, ring.x, ring.y, ring.width, ring.height);

    if (pen != nullptr) {
        GdipDeletePen(pen);
    }
    if (graphics != nullptr) {
        GdipDeleteGraphics(graphics);
    }
    if (brush != nullptr) {
        GdipDeleteBrush(brush);
    }
}

} // namespace tavro::win32
