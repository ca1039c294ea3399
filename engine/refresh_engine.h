// The refresh engine: finds the console window, collects its guest-display windows and has
// each visible one repainted at once on every tick of the panel's timer.
#pragma once

#include "platform/platform.h"

enum : unsigned {
    MAX_GUEST_WINDOWS = 10,
    RESCAN_PERIOD_MS = 1000,
    GUEST_CLASS_MAX = 50,
    TITLE_TEXT_MAX = 256,
    CLASS_NAME_MAX = 256,
    REFRESH_TIMER_ID = 1,
    MIN_INTERVAL_MS = 50,
};

// Static and zero at load: no constructor runs. None of the windows held here is owned; any
// handle may go stale and is used only through calls that tolerate that.
struct RefreshState {
    BYTE Running;
    char GuestClass[GUEST_CLASS_MAX];
    DWORD LastScanTick;
    HWND TargetWindow;
    HWND GuestWindows[MAX_GUEST_WINDOWS];
    DWORD GuestCount; // entries at and beyond it are never read
    HWND ScanRoot;    // fixed by the first guest window found until the next reset
};

extern RefreshState Refresh;

// What the repaint pass does with one guest window: a window without width or height, or one
// that is hidden itself or below a hidden window, is left alone.
enum RepaintCheck : BYTE { REPAINT, SKIP_NO_SIZE, SKIP_HIDDEN };

void ResetRefreshState();
bool FindTargetWindow(const char* titleTemplate);
// Whether the window's class is exactly GuestClass.
bool HasGuestClass(HWND window);
void ScanGuestWindows(HWND root);
// A tick's guest search: empties the table and fills it from below ScanRoot, or before any guest
// window was found, from below TargetWindow.
void SearchGuestWindows();
RepaintCheck CheckRepaint(HWND window);
void RefreshGuestWindows();
void OnRefreshTick();
