// Presses Start on a running Quorvel panel, as a user would, so that scripts/run can show Quorvel
// at work where nobody sits at the display.
// Usage: panel_driver [seconds to wait for the panel [interval to type before Start | --wait]]
// Exits 0 once refreshing runs (Stop enabled), 1 when there is no panel, 2 when Start failed.
// With --wait it only waits for the panel: 0 once it is up.
#include "panel/panel_ids.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

BOOL CALLBACK FindPanel(HWND w, LPARAM found) {
    char name[64] = "", caption[64] = "";
    GetClassNameA(w, name, sizeof name);
    GetWindowTextA(w, caption, sizeof caption);
    // The panel and its error boxes share class and caption; only the panel has a Start button.
    if (std::strcmp(name, "#32770") == 0 && std::strcmp(caption, "Quorvel") == 0 &&
        GetDlgItem(w, IDC_START) && IsWindowVisible(w)) {
        *reinterpret_cast<HWND*>(found) = w;
        return FALSE;
    }
    return TRUE;
}

bool WaitFor(DWORD limitMs, HWND& panel) {
    const DWORD start = GetTickCount();
    do {
        panel = nullptr;
        EnumWindows(FindPanel, reinterpret_cast<LPARAM>(&panel));
        if (panel) {
            return true;
        }
        Sleep(100);
    } while (GetTickCount() - start < limitMs);
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const DWORD limitMs = static_cast<DWORD>((argc > 1 ? std::atoi(argv[1]) : 60) * 1000);
    HWND panel = nullptr;
    if (!WaitFor(limitMs, panel)) {
        return 1;
    }
    if (argc > 2 && std::strcmp(argv[2], "--wait") == 0) {
        return 0;
    }
    if (argc > 2) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(GetDlgItem(panel, IDC_INTERVAL), WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>(argv[2]), SMTO_BLOCK, 5000, &result);
    }
    PostMessageA(GetDlgItem(panel, IDC_START), BM_CLICK, 0, 0);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 10000) {
        if (IsWindowEnabled(GetDlgItem(panel, IDC_STOP))) {
            return 0;
        }
        Sleep(50);
    }
    return 2;
}
