// The work of a timer tick: a guest search at most once a second, and the repaint pass. Kept apart
// from the searches, so that a program that only reads windows links no call that repaints one.
#include "engine/refresh_engine.h"

void RefreshGuestWindows() {
    for (DWORD i = 0; i < Refresh.GuestCount; ++i) {
        HWND window = Refresh.GuestWindows[i];
        if (CheckRepaint(window) == REPAINT) {
            InvalidateRect(window, nullptr, TRUE);
            UpdateWindow(window);
        }
    }
}

void OnRefreshTick() {
    if (!Refresh.Running) {
        return;
    }
    DWORD now = GetTickCount();
    // Unsigned difference: the counter's wrap every 49.7 days does no harm.
    if (now - Refresh.LastScanTick > RESCAN_PERIOD_MS) {
        SearchGuestWindows();
        Refresh.LastScanTick = now;
    }
    RefreshGuestWindows();
}
