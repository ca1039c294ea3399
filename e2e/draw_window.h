// What the runner and draw_window.dll share: a window's picture, drawn by the window's own thread
// into memory that both processes map.
#pragma once

#include <windows.h>

namespace e2e {

constexpr COLORREF UNDRAWN = RGB(255, 0, 255); // what a picture holds where nothing was drawn
constexpr int DRAWING_SIDE = 128;              // the largest window drawn this way, each way
// Posted to the window with the window in wParam and the runner's process id in lParam.
constexpr char DRAW_WINDOW_MESSAGE[] = "QuorvelE2EDrawWindow";
constexpr char DRAW_WINDOW_HOOK[] = "DrawWindowHook"; // the DLL's WH_GETMESSAGE procedure
// The runner's mapping; its process id follows.
constexpr char DRAWING_NAME_PREFIX[] = "QuorvelE2EDrawing_";

struct Drawing {
    volatile LONG Done; // 1 once drawn, 2 when it could not be
    LONG Width;
    LONG Height;
    LONG Reserved[13];                         // the pixels start on a 64-byte boundary
    DWORD Pixels[DRAWING_SIDE * DRAWING_SIDE]; // row by row from the top, 0x00RRGGBB
};

// Has draw(dc) paint into a 32-bit memory picture of this size, first filled with UNDRAWN, and
// copies its pixels (0x00RRGGBB, row by row from the top) to out, width * height of them. False
// when no picture could be made, or draw said it drew nothing.
template <typename Draw> bool DrawInMemory(LONG width, LONG height, DWORD* out, Draw draw) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = dc ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    bool drawn = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(dc, bitmap);
        HBRUSH marker = CreateSolidBrush(UNDRAWN);
        RECT all = {0, 0, width, height};
        FillRect(dc, &all, marker);
        DeleteObject(marker);
        if (draw(dc)) {
            GdiFlush();
            const DWORD* from = static_cast<const DWORD*>(bits);
            for (LONG i = 0; i < width * height; ++i) {
                out[i] = from[i] & 0xFFFFFF;
            }
            drawn = true;
        }
        SelectObject(dc, old);
        DeleteObject(bitmap);
    }
    if (dc) {
        DeleteDC(dc);
    }
    return drawn;
}

} // namespace e2e
