#include "setup/win32/GdiSignalGraph.h"

#include "setup/SignalGraph.h"

namespace tavro::win32 {
namespace {

using namespace setup;

COLORREF Colour(const GraphColour& colour) {
    return RGB(colour.red, colour.green, colour.blue);
}

RECT Rect(const GraphRect& rect) {
    return RECT{rect.left, rect.top, rect.right, rect.bottom};
}

void DrawShape(HDC dc, const SignalGraphShape& shape) {
    const RECT background = Rect(shape.background);
    FillRect(dc, &background, GetSysColorBrush(COLOR_BTNFACE));

    HPEN pen = CreatePen(PS_SOLID, 1, Colour(graphBlack));
    HBRUSH grey = CreateSolidBrush(Colour(graphGrey));
    HBRUSH green = CreateSolidBrush(Colour(graphGreen));
    HGDIOBJ oldPen = SelectObject(dc, pen);

    POINT outline[5];
    for (int i = 0; i < 5; ++i) {
        outline[i] = POINT{shape.outline[i].x, shape.outline[i].y};
    }
    Polyline(dc, outline, 5);
    for (int k = 0; k < shape.columnCount; ++k) {
        const SignalColumn& column = shape.columns[k];
        const RECT top = Rect(column.grey);
        const RECT bar = Rect(column.green);
        FillRect(dc, &top, grey);
        FillRect(dc, &bar, green);
    }
    for (size_t i = 0; i < shape.tickCount; ++i) {
        MoveToEx(dc, shape.ticks[i].from.x, shape.ticks[i].from.y, nullptr);
        LineTo(dc, shape.ticks[i].to.x, shape.ticks[i].to.y);
    }

    SelectObject(dc, oldPen);
    DeleteObject(pen);
    DeleteObject(grey);
    DeleteObject(green);
}

} // namespace

void DrawSignalGraph(HDC dc, const RECT& client, const GpsSharedStatus& block) {
    SignalGraphShape shape;
    SignalGraph(GraphRect{client.left, client.top, client.right, client.bottom}, block, shape);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    HDC memory = width > 0 && height > 0 ? CreateCompatibleDC(dc) : nullptr;
    HBITMAP bitmap = memory != nullptr ? CreateCompatibleBitmap(dc, width, height) : nullptr;
    if (bitmap == nullptr) {
        // No memory for the off-screen copy: draw straight on the screen.
        if (memory != nullptr) {
            DeleteDC(memory);
        }
        DrawShape(dc, shape);
        return;
    }
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    DrawShape(memory, shape);
    BitBlt(dc, client.left, client.top, width, height, memory, client.left, client.top, SRCCOPY);
    SelectObject(memory, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

} // namespace tavro::win32
