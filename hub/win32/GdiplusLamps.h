// The activity lamps drawn with the GDI+ flat interface straight onto each lamp's static
// control (not in WM_PAINT: the next tick draws them again), and the GDI+ start-up the
// process entry makes before the message loop.
#pragma once

#include "hub/ui/ActivityLamps.h"

#include <windows.h>

namespace tavro::win32 {

// GdiplusStartup (version 1) for the life of the object; GdiplusShutdown at its end.
class GdiplusSession {
public:
    GdiplusSession();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

private:
    ULONG_PTR token_ = 0;
    bool started_ = false;
};

class GdiplusLampPainter final : public LampPainter {
public:
    // `dialog` is where the main window keeps its handle (null while it is closed).
    explicit GdiplusLampPainter(const HWND& dialog) : dialog_(dialog) {}

    void Paint(uint32_t lamp, const LampDrawing& drawing) override;

private:
    const HWND& dialog_;
};

} // namespace tavro::win32
