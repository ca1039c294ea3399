#include "engine/refresh_engine.h"

#include "engine/title_template.h"

RefreshState Refresh;

void ResetRefreshState() {
    Refresh.ScanRoot = nullptr;
    Refresh.TargetWindow = nullptr;
    Refresh.LastScanTick = 0;
    Refresh.GuestCount = 0;
}

static BOOL CALLBACK MatchTopLevelWindow(HWND window, LPARAM titleTemplate) {
    char title[TITLE_TEXT_MAX];
    title[0] = 0; // a window that vanished mid-walk reads as an empty title
    GetWindowTextA(window, title, TITLE_TEXT_MAX);
    if (MatchTitleTemplate((const char*)titleTemplate, title)) {
        Refresh.TargetWindow = window;
    }
    return Refresh.TargetWindow == nullptr;
}

bool FindTargetWindow(const char* titleTemplate) {
    EnumWindows(MatchTopLevelWindow, (LPARAM)titleTemplate);
    return Refresh.TargetWindow != nullptr;
}

bool HasGuestClass(HWND window) {
    char className[CLASS_NAME_MAX];
    // A class name that cannot be read (the window died mid-walk) matches nothing, not even
    // an empty GuestClass.
    return GetClassNameA(window, className, CLASS_NAME_MAX) != 0 &&
           lstrcmpA(className, Refresh.GuestClass) == 0;
}

static BOOL CALLBACK CollectGuestWindow(HWND window, LPARAM) {
    if (!HasGuestClass(window)) {
        return TRUE;
    }
    if (!Refresh.ScanRoot) {
        Refresh.ScanRoot = GetParent(window);
    }
    if (Refresh.GuestCount < MAX_GUEST_WINDOWS) {
        Refresh.GuestWindows[Refresh.GuestCount++] = window;
    }
    return TRUE;
}

void ScanGuestWindows(HWND root) {
    // A null root would make the walk cover every top-level window on the desktop.
    if (root) {
        EnumChildWindows(root, CollectGuestWindow, 0);
    }
}

RepaintCheck CheckRepaint(HWND window) {
    RECT rect = {0, 0, 0, 0}; // left empty when the window is gone
    GetWindowRect(window, &rect);
    if (rect.bottom == rect.top || rect.left == rect.right) {
        return SKIP_NO_SIZE;
    }
    if (!IsWindowVisible(window)) {
        return SKIP_HIDDEN;
    }
    return REPAINT;
}

void SearchGuestWindows() {
    HWND root = Refresh.ScanRoot ? Refresh.ScanRoot : Refresh.TargetWindow;
    Refresh.GuestCount = 0;
    ScanGuestWindows(root);
}
