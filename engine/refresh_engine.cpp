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

static BOOL CALLBACK CollectGuestWindow(HWND window, LPARAM) {
    char className[CLASS_NAME_MAX];
    // A class name that cannot be read (the window died mid-walk) matches nothing, not even
    // an empty GuestClass.
    if (GetClassNameA(window, className, CLASS_NAME_MAX) == 0 ||
        lstrcmpA(className, Refresh.GuestClass) != 0) {
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

void RefreshGuestWindows() {
    for (DWORD i = 0; i < Refresh.GuestCount; ++i) {
        HWND window = Refresh.GuestWindows[i];
        RECT rect = {0, 0, 0, 0}; // left empty when the window is gone
        GetWindowRect(window, &rect);
        if (rect.bottom == rect.top || rect.left == rect.right) {
            continue;
        }
        if (!IsWindowVisible(window)) {
            continue;
        }
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
    }
}

void OnRefreshTick() {
    if (!Refresh.Running) {
        return;
    }
    DWORD now = GetTickCount();
    // Unsigned difference: the counter's wrap every 49.7 days does no harm.
    if (now - Refresh.LastScanTick > RESCAN_PERIOD_MS) {
        HWND root = Refresh.ScanRoot ? Refresh.ScanRoot : Refresh.TargetWindow;
        Refresh.GuestCount = 0;
        ScanGuestWindows(root);
        Refresh.LastScanTick = now;
    }
    RefreshGuestWindows();
}
