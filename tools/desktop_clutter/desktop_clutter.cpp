// Crowds the desktop as a user's or a hosted runner's is crowded: a maximized window of another
// program in the foreground, an always-on-top window over the middle of the screen, where every
// window without an owner is centred (the panel, its error boxes), and an always-on-top strip
// along the bottom, where a taskbar sits. Each is a window a window manager manages (a caption,
// or a window of its own on the taskbar), so that it is the window manager that keeps them above.
// The topmost windows put themselves back on top of the others every quarter second, as a program
// that insists on being seen does.
//   desktop_clutter [--ready FILE] [--lifetime SECONDS]
// With --ready, FILE gets the screen's size and each window's place once all are up. It ends by
// itself after the lifetime (default 600 s), so that it never outlives a test that forgot it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

const char CLASS_NAME[] = "QuorvelDesktopClutter";
constexpr UINT_PTR KEEP_ON_TOP_TIMER = 1;
constexpr UINT_PTR LIFETIME_TIMER = 2;
constexpr int STRIP_HEIGHT = 40;

struct Shown {
    const char* Title;
    COLORREF Colour;
    HWND Window;
};

Shown Windows[] = {
    {"Provisioner console", RGB(12, 36, 86), nullptr},
    {"Always on top", RGB(200, 120, 20), nullptr},
    {"Taskbar", RGB(30, 30, 30), nullptr},
};
enum { MAXIMIZED, CENTRE, STRIP };

LRESULT CALLBACK Procedure(HWND w, UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        RECT r;
        GetClientRect(w, &r);
        const Shown* shown = reinterpret_cast<const Shown*>(GetWindowLongPtrA(w, GWLP_USERDATA));
        HBRUSH brush = CreateSolidBrush(shown ? shown->Colour : RGB(0, 0, 0));
        FillRect(dc, &r, brush);
        DeleteObject(brush);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        if (shown) {
            DrawTextA(dc, shown->Title, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        }
        EndPaint(w, &ps);
        return 0;
    }
    case WM_TIMER:
        if (wp == LIFETIME_TIMER) {
            PostQuitMessage(0);
        } else {
            for (int i : {CENTRE, STRIP}) {
                SetWindowPos(Windows[i].Window, HWND_TOPMOST, 0, 0, 0, 0,
                             SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            }
        }
        return 0;
    case WM_CLOSE:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(w, message, wp, lp);
}

HWND Make(Shown& shown, DWORD style, DWORD extended, int x, int y, int width, int height) {
    shown.Window = CreateWindowExA(extended, CLASS_NAME, shown.Title, style, x, y, width, height,
                                   nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (shown.Window) {
        SetWindowLongPtrA(shown.Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&shown));
    }
    return shown.Window;
}

// Unix paths, as a test script has them, become Wine's Z: paths.
bool WriteReady(const char* path, int width, int height) {
    char windows[MAX_PATH];
    std::snprintf(windows, sizeof windows, "%s%s", path[0] == '/' ? "Z:" : "", path);
    for (char* c = windows; *c; ++c) {
        *c = *c == '/' ? '\\' : *c;
    }
    FILE* f = std::fopen(windows, "w");
    if (!f) {
        return false;
    }
    std::fprintf(f, "screen %dx%d\n", width, height);
    for (const Shown& shown : Windows) {
        RECT r;
        GetWindowRect(shown.Window, &r);
        std::fprintf(f, "%s: %ld,%ld %ldx%ld%s\n", shown.Title, r.left, r.top, r.right - r.left,
                     r.bottom - r.top,
                     (GetWindowLongA(shown.Window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? " topmost" : "");
    }
    return std::fclose(f) == 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const char* ready = nullptr;
    long lifetime = 600;
    for (int i = 1; i + 1 < __argc; i += 2) {
        if (std::strcmp(__argv[i], "--ready") == 0) {
            ready = __argv[i + 1];
        } else if (std::strcmp(__argv[i], "--lifetime") == 0) {
            lifetime = std::strtol(__argv[i + 1], nullptr, 10);
        } else {
            return 2;
        }
    }
    WNDCLASSA c = {};
    c.lpfnWndProc = Procedure;
    c.hInstance = instance;
    c.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    c.lpszClassName = CLASS_NAME;
    if (!RegisterClassA(&c)) {
        return 1;
    }
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    if (!Make(Windows[MAXIMIZED], WS_OVERLAPPEDWINDOW, 0, 0, 0, width / 2, height / 2) ||
        !Make(Windows[CENTRE], WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_TOPMOST, width / 4,
              height / 4, width / 2, height / 2) ||
        !Make(Windows[STRIP], WS_POPUP, WS_EX_TOPMOST | WS_EX_APPWINDOW, 0, height - STRIP_HEIGHT,
              width, STRIP_HEIGHT)) {
        return 1;
    }
    // The foreground window last, so that a window manager that focuses what it maps ends there.
    ShowWindow(Windows[CENTRE].Window, SW_SHOWNOACTIVATE);
    ShowWindow(Windows[STRIP].Window, SW_SHOWNOACTIVATE);
    ShowWindow(Windows[MAXIMIZED].Window, SW_SHOWMAXIMIZED);
    SetForegroundWindow(Windows[MAXIMIZED].Window);
    for (const Shown& shown : Windows) {
        UpdateWindow(shown.Window);
    }
    SetTimer(Windows[CENTRE].Window, KEEP_ON_TOP_TIMER, 250, nullptr);
    SetTimer(Windows[CENTRE].Window, LIFETIME_TIMER, static_cast<UINT>(lifetime * 1000), nullptr);
    if (ready && !WriteReady(ready, width, height)) {
        return 1;
    }
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return 0;
}
