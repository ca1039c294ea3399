// A stand-in for a virtual machine's console: a top-level window whose guest-display children have
// the class a real console uses. Each guest window shows a guest screen: a clock and a moving block
// that a simulated guest advances every 10 ms without telling the window manager, as a guest
// writing straight to video memory does. A window shows the guest as it is only when it paints, so
// without Quorvel the picture stays where it was. The border takes a new colour on every erase.
// Erases, paints, paint times and the frame last shown go into a named file mapping, so that the
// end-to-end tests and the freshness benchmark can see what another process made it do.
//
// The window manager erases and repaints windows by itself too: when the console is shown or
// activated, when the theme changes, and Wine does more of it in some versions than in others.
// With --controls every guest window has a control window beside it in the same parent, of the
// same size and visibility and drawn the same way, whose class Quorvel is not told to serve:
// what the control window receives is the window manager's, and what the guest window receives
// beyond that is Quorvel's.
#include "tools/demo_console/guest_clock.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char MAIN_CLASS[] = "QuorvelDemoConsole";
const char BRANCH_CLASS[] = "QuorvelDemoBranch";
const char GUEST_CLASS[] = "VMWare.GuestWindow";
const char CLUTTER_CLASS[] = "QuorvelDemoClutter";
// Close to the guest class, so that a guest search that matches too loosely serves the control
// windows too and shows in the counts.
const char CONTROL_CLASS[] = "VMWare.GuestWindowControl";

constexpr int GUEST_WIDTH = 150;
constexpr int GUEST_HEIGHT = 96;
constexpr int BORDER = 3;
constexpr int MAX_CLUTTER = 10000;
// The block crosses the guest screen and back in this many guest frames.
constexpr int BOUNCE_FRAMES = 200;
constexpr int GAP = 8;
constexpr int COLUMNS_PER_BRANCH = 2;
// With control windows, a branch has at most this many rows before it takes a second column.
constexpr int ROWS_WITH_CONTROLS = 6;
// In GWLP_USERDATA beside the slot number: the window is the slot's control window.
constexpr LONG_PTR CONTROL_TAG = 0x10000;
constexpr int MAX_BRANCHES = 8;
constexpr UINT_PTR STALL_TIMER_ID = 1;

struct Options {
    std::string Title = "Demo - VMware Workstation";
    std::string StatsName = "QuorvelDemoStats";
    int Guests = 4;
    int Branches = 2;
    unsigned long long Hidden = 0;
    unsigned long long ZeroWidth = 0;
    unsigned long long ZeroHeight = 0;
    unsigned long long HiddenBranches = 0;
    int StallAfterMs = -1;
    int StallForMs = 0;
    int Clutter = 0;
    int Controls = 0;
};

Options Settings;
demo::Stats* SharedStats = nullptr;
HWND MainWindow = nullptr;
HWND Branches[MAX_BRANCHES] = {};
HFONT ClockFont = nullptr;
// Where the guest windows go in a branch: cells of a guest window, and its control window to its
// right when there is one.
int CellsPerRow = COLUMNS_PER_BRANCH;
int CellWidth = GUEST_WIDTH;

void Usage() {
    MessageBoxA(nullptr,
                "demo_console [--title TEXT] [--guests N] [--branches N] [--hidden LIST]\n"
                "  [--zero-width LIST] [--zero-height LIST] [--hidden-branch LIST]\n"
                "  [--stall-after SECONDS --stall-for SECONDS] [--stats NAME] [--clutter N]\n"
                "  [--controls 0|1]\n\n"
                "LIST: guest (or branch) numbers from 0, separated by commas.\n"
                "--clutter: N hidden plain windows beside the guests of branch 0.\n"
                "--controls 1: a control window beside each guest window, never refreshed.",
                "Demo console", MB_ICONINFORMATION);
}

// "1,3,7" -> bits 1, 3 and 7.
bool ParseList(const char* text, unsigned long long& bits) {
    bits = 0;
    while (*text) {
        char* end = nullptr;
        const long n = std::strtol(text, &end, 10);
        if (end == text || n < 0 || n >= 64) {
            return false;
        }
        bits |= 1ull << n;
        text = *end == ',' ? end + 1 : end;
        if (*end && *end != ',') {
            return false;
        }
    }
    return true;
}

bool ParseInt(const char* text, int low, int high, int& value) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end || n < low || n > high) {
        return false;
    }
    value = static_cast<int>(n);
    return true;
}

bool ParseSeconds(const char* text, int& ms) {
    char* end = nullptr;
    const double s = std::strtod(text, &end);
    if (end == text || *end || s < 0 || s > 3600) {
        return false;
    }
    ms = static_cast<int>(s * 1000);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        bool ok = true;
        if (name == "--title") {
            o.Title = value;
        } else if (name == "--stats") {
            o.StatsName = value;
        } else if (name == "--guests") {
            ok = ParseInt(value, 0, demo::MAX_GUESTS, o.Guests);
        } else if (name == "--branches") {
            ok = ParseInt(value, 1, MAX_BRANCHES, o.Branches);
        } else if (name == "--hidden") {
            ok = ParseList(value, o.Hidden);
        } else if (name == "--zero-width") {
            ok = ParseList(value, o.ZeroWidth);
        } else if (name == "--zero-height") {
            ok = ParseList(value, o.ZeroHeight);
        } else if (name == "--hidden-branch") {
            ok = ParseList(value, o.HiddenBranches);
        } else if (name == "--stall-after") {
            ok = ParseSeconds(value, o.StallAfterMs);
        } else if (name == "--stall-for") {
            ok = ParseSeconds(value, o.StallForMs);
        } else if (name == "--clutter") {
            ok = ParseInt(value, 0, MAX_CLUTTER, o.Clutter);
        } else if (name == "--controls") {
            ok = ParseInt(value, 0, 1, o.Controls);
        } else {
            ok = false;
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

COLORREF PaintColour(int paints) {
    // Walk round the colour wheel in big steps so that consecutive paints look clearly different.
    const int hue = (paints * 47) % 360;
    const int x = 255 * (60 - std::abs(hue % 120 - 60)) / 60;
    const int light = 64;
    const int strong = light + (255 - light) * x / 255;
    switch (hue / 60) {
    case 0:
        return RGB(255, strong, light);
    case 1:
        return RGB(strong, 255, light);
    case 2:
        return RGB(light, 255, strong);
    case 3:
        return RGB(light, strong, 255);
    case 4:
        return RGB(strong, light, 255);
    default:
        return RGB(255, light, strong);
    }
}

int SlotOf(HWND w) {
    return static_cast<int>(GetWindowLongPtrA(w, GWLP_USERDATA) & (CONTROL_TAG - 1));
}

bool IsControl(HWND w) {
    return (GetWindowLongPtrA(w, GWLP_USERDATA) & CONTROL_TAG) != 0;
}

// What the guest shows at this frame: its clock (minutes, seconds, hundredths, so the last digits
// are the frame number) above a block that crosses the screen and back, and the window's counters.
void DrawGuestScreen(HWND w, HDC dc, int32_t frame, int paints, int erases) {
    RECT r;
    GetClientRect(w, &r);
    InflateRect(&r, -BORDER, -BORDER);
    HBRUSH screen = CreateSolidBrush(RGB(16, 24, 40));
    FillRect(dc, &r, screen);
    DeleteObject(screen);

    const int hundredths = frame * demo::GUEST_FRAME_MS / 10;
    char text[96];
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(150, 200, 255));
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    RECT line = {r.left + 4, r.top + 2, r.right - 4, r.bottom};
    std::snprintf(text, sizeof text, "%s %d", IsControl(w) ? "control" : "guest", SlotOf(w));
    DrawTextA(dc, text, -1, &line, DT_LEFT | DT_TOP | DT_SINGLELINE);
    std::snprintf(text, sizeof text, "paints %d  erases %d", paints, erases);
    RECT bottom = {r.left + 4, r.top, r.right - 4, r.bottom - 2};
    DrawTextA(dc, text, -1, &bottom, DT_LEFT | DT_BOTTOM | DT_SINGLELINE);

    SelectObject(dc, ClockFont ? ClockFont : GetStockObject(SYSTEM_FONT));
    SetTextColor(dc, RGB(255, 255, 255));
    std::snprintf(text, sizeof text, "%02d:%02d.%02d", hundredths / 6000 % 60,
                  hundredths / 100 % 60, hundredths % 100);
    RECT clock = {r.left, r.top + 16, r.right, r.top + 44};
    DrawTextA(dc, text, -1, &clock, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, oldFont);

    // The block's track, and the block where the guest has moved it by this frame.
    const int track = r.right - r.left - 8;
    const int block = 16;
    const int phase = frame % BOUNCE_FRAMES;
    const int half = BOUNCE_FRAMES / 2;
    const int x = (phase < half ? phase : BOUNCE_FRAMES - phase) * (track - block) / half;
    RECT rail = {r.left + 4, r.top + 50, r.right - 4, r.top + 62};
    HBRUSH railBrush = CreateSolidBrush(RGB(40, 56, 84));
    FillRect(dc, &rail, railBrush);
    DeleteObject(railBrush);
    RECT mover = {rail.left + x, rail.top, rail.left + x + block, rail.bottom};
    HBRUSH moverBrush = CreateSolidBrush(RGB(255, 200, 40));
    FillRect(dc, &mover, moverBrush);
    DeleteObject(moverBrush);
}

demo::GuestStats& GuestOf(HWND w) {
    return SharedStats->Guests[SlotOf(w)];
}

// Guest and control windows share this procedure, so that the window manager meets the same
// answers from both; only the counters differ.
LRESULT CALLBACK GuestProc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
    const bool control = IsControl(w);
    switch (message) {
    case WM_ERASEBKGND: {
        demo::GuestStats& g = GuestOf(w);
        volatile int32_t& erase = control ? g.Control.Erase : g.Erase;
        ++erase;
        RECT r;
        GetClientRect(w, &r);
        HBRUSH brush = CreateSolidBrush(PaintColour(control ? g.Control.Paint : g.Paint));
        FillRect(reinterpret_cast<HDC>(wp), &r, brush);
        DeleteObject(brush);
        return 1;
    }
    case WM_PAINT: {
        demo::GuestStats& g = GuestOf(w);
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        // A WM_PAINT can come with nothing left to paint: Wine sends one for UpdateWindow from
        // another process even when this process's own loop has just painted the same update.
        if (IsRectEmpty(&ps.rcPaint)) {
            EndPaint(w, &ps);
            return 0;
        }
        const int64_t now = demo::NowUs();
        const int32_t frame = demo::GuestFrameAt(*SharedStats, now);
        if (control) {
            const int paints = g.Control.Paint + 1;
            DrawGuestScreen(w, dc, frame, paints, g.Control.Erase);
            EndPaint(w, &ps);
            g.Control.Paint = paints;
            return 0;
        }
        const int paints = g.Paint + 1;
        DrawGuestScreen(w, dc, frame, paints, g.Erase);
        EndPaint(w, &ps);
        // Time and frame first: a reader that sees the new count sees what goes with it.
        g.PaintUs[(paints - 1) % demo::PAINT_RING] = now;
        g.Frame = frame;
        MemoryBarrier();
        g.Paint = paints;
        return 0;
    }
    case WM_NCDESTROY:
        (control ? GuestOf(w).ControlWindow : GuestOf(w).Window) = 0;
        break;
    }
    return DefWindowProcA(w, message, wp, lp);
}

// The guest window's place in its branch; its control window goes GUEST_WIDTH + GAP to the right.
POINT GuestPlace(int indexInBranch) {
    const int column = indexInBranch % CellsPerRow;
    const int row = indexInBranch / CellsPerRow;
    return POINT{GAP + column * (CellWidth + GAP), GAP + row * (GUEST_HEIGHT + GAP)};
}

// Makes the guest or control window of a slot whose flags and branch are already set.
HWND CreateSlotWindow(int slot, POINT at, bool control) {
    demo::GuestStats& g = SharedStats->Guests[slot];
    const int width = (g.Flags & demo::GUEST_ZERO_WIDTH) ? 0 : GUEST_WIDTH;
    const int height = (g.Flags & demo::GUEST_ZERO_HEIGHT) ? 0 : GUEST_HEIGHT;
    const DWORD style =
        WS_CHILD | WS_CLIPSIBLINGS | ((g.Flags & demo::GUEST_HIDDEN) ? 0 : WS_VISIBLE);
    HWND w = CreateWindowExA(0, control ? CONTROL_CLASS : GUEST_CLASS, "", style, at.x, at.y, width,
                             height, Branches[g.Branch],
                             reinterpret_cast<HMENU>(INT_PTR((control ? 200 : 100) + slot)),
                             GetModuleHandleA(nullptr), nullptr);
    if (w) {
        SetWindowLongPtrA(w, GWLP_USERDATA, slot | (control ? CONTROL_TAG : 0));
        (control ? g.ControlWindow : g.Window) = reinterpret_cast<uintptr_t>(w);
        InvalidateRect(w, nullptr, TRUE);
    }
    return w;
}

// Creates the guest window for a new slot at this place, and its control window beside it.
bool CreateGuest(int slot, POINT at) {
    if (!CreateSlotWindow(slot, at, false)) {
        return false;
    }
    return !Settings.Controls ||
           CreateSlotWindow(slot, POINT{at.x + GUEST_WIDTH + GAP, at.y}, true) != nullptr;
}

int ReplaceGuest(int slot) {
    if (slot < 0 || slot >= SharedStats->Slots || SharedStats->Slots >= demo::MAX_GUESTS) {
        return -1;
    }
    demo::GuestStats& old = SharedStats->Guests[slot];
    HWND oldWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(old.Window));
    if (!oldWindow) {
        return -1;
    }
    // The new windows take the old ones' place in the layout.
    RECT r;
    GetWindowRect(oldWindow, &r);
    MapWindowPoints(nullptr, Branches[old.Branch], reinterpret_cast<POINT*>(&r), 2);
    DestroyWindow(oldWindow);
    if (HWND oldControl = reinterpret_cast<HWND>(static_cast<uintptr_t>(old.ControlWindow))) {
        DestroyWindow(oldControl);
    }

    const int fresh = SharedStats->Slots;
    demo::GuestStats& g = SharedStats->Guests[fresh];
    g = demo::GuestStats{};
    g.Branch = old.Branch;
    SharedStats->Slots = fresh + 1;
    return CreateGuest(fresh, POINT{r.left, r.top}) ? fresh : -1;
}

// Copies the counters only while nothing waits to be painted or handled: the window manager's
// repaints of a guest window and of its control window are then both done or both to come.
// Input is left out, so that a mouse moving over the console does not hold a snapshot off.
LRESULT TakeSnapshot() {
    if (HIWORD(GetQueueStatus(QS_PAINT | QS_POSTMESSAGE | QS_SENDMESSAGE | QS_TIMER)) != 0) {
        return 0;
    }
    const int slots = SharedStats->Slots;
    for (int i = 0; i < slots; ++i) {
        const demo::GuestStats& g = SharedStats->Guests[i];
        demo::SlotSnapshot& s = SharedStats->Snapshot[i];
        s.Guest.Erase = g.Erase;
        s.Guest.Paint = g.Paint;
        s.Control.Erase = g.Control.Erase;
        s.Control.Paint = g.Control.Paint;
        s.Frame = g.Frame;
    }
    SharedStats->SnapshotSlots = slots;
    return 1;
}

void Stall(int ms) {
    SharedStats->Stalled = 1;
    Sleep(static_cast<DWORD>(ms));
    SharedStats->Stalled = 0;
}

LRESULT CALLBACK MainProc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
    case WM_TIMER:
        if (wp == STALL_TIMER_ID) {
            KillTimer(w, STALL_TIMER_ID);
            Stall(Settings.StallForMs);
        }
        return 0;
    case demo::DEMO_STALL:
        Stall(static_cast<int>(wp));
        return 0;
    case demo::DEMO_REPLACE_GUEST:
        return ReplaceGuest(static_cast<int>(wp));
    case demo::DEMO_SNAPSHOT:
        return TakeSnapshot();
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(w, message, wp, lp);
}

bool RegisterClasses(HINSTANCE instance) {
    WNDCLASSA c = {};
    c.hInstance = instance;
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);

    c.lpfnWndProc = MainProc;
    c.hbrBackground = GetSysColorBrush(COLOR_APPWORKSPACE);
    c.lpszClassName = MAIN_CLASS;
    if (!RegisterClassA(&c)) {
        return false;
    }
    c.lpfnWndProc = DefWindowProcA;
    c.hbrBackground = GetSysColorBrush(COLOR_3DSHADOW);
    c.lpszClassName = BRANCH_CLASS;
    if (!RegisterClassA(&c)) {
        return false;
    }
    c.lpfnWndProc = DefWindowProcA;
    c.hbrBackground = nullptr;
    c.lpszClassName = CLUTTER_CLASS;
    if (!RegisterClassA(&c)) {
        return false;
    }
    // No class brush: the guest erases its own background, and counts it.
    c.style = CS_HREDRAW | CS_VREDRAW;
    c.lpfnWndProc = GuestProc;
    c.hbrBackground = nullptr;
    c.lpszClassName = GUEST_CLASS;
    if (!RegisterClassA(&c)) {
        return false;
    }
    c.lpszClassName = CONTROL_CLASS;
    return RegisterClassA(&c) != 0;
}

bool OpenStats() {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(demo::Stats), Settings.StatsName.c_str());
    if (!mapping) {
        return false;
    }
    SharedStats = static_cast<demo::Stats*>(
        MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(demo::Stats)));
    if (!SharedStats) {
        return false;
    }
    SharedStats->GuestEpochUs = demo::NowUs();
    return true;
}

bool CreateConsole(HINSTANCE instance) {
    const Options& o = Settings;
    const int perBranch = (o.Guests + o.Branches - 1) / o.Branches;
    if (o.Controls) {
        // Twice the windows: one cell a row keeps the console narrow, a second column keeps it
        // within a small screen's height.
        CellWidth = 2 * GUEST_WIDTH + GAP;
        CellsPerRow = (perBranch + ROWS_WITH_CONTROLS - 1) / ROWS_WITH_CONTROLS;
        CellsPerRow = CellsPerRow > 1 ? CellsPerRow : 1;
    }
    const int rows = (perBranch + CellsPerRow - 1) / CellsPerRow;
    const int branchWidth = GAP + CellsPerRow * (CellWidth + GAP);
    const int branchHeight = GAP + (rows > 0 ? rows : 1) * (GUEST_HEIGHT + GAP);

    RECT frame = {0, 0, GAP + o.Branches * (branchWidth + GAP), 2 * GAP + branchHeight};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    MainWindow = CreateWindowExA(
        0, MAIN_CLASS, o.Title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 20, 20,
        frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!MainWindow) {
        return false;
    }
    for (int b = 0; b < o.Branches; ++b) {
        const bool hidden = (o.HiddenBranches >> b) & 1;
        Branches[b] = CreateWindowExA(0, BRANCH_CLASS, "",
                                      WS_CHILD | WS_CLIPCHILDREN | (hidden ? 0 : WS_VISIBLE),
                                      GAP + b * (branchWidth + GAP), GAP, branchWidth, branchHeight,
                                      MainWindow, nullptr, instance, nullptr);
        if (!Branches[b]) {
            return false;
        }
    }
    // Hidden, so that they cover no guest; a search for the guests walks them all the same.
    for (int i = 0; i < o.Clutter; ++i) {
        if (!CreateWindowExA(0, CLUTTER_CLASS, "", WS_CHILD, 0, 0, 1, 1, Branches[0], nullptr,
                             instance, nullptr)) {
            return false;
        }
    }
    // Guests go round the branches, so guest i is in branch i % branches.
    for (int i = 0; i < o.Guests; ++i) {
        demo::GuestStats& g = SharedStats->Guests[i];
        g = demo::GuestStats{};
        g.Branch = i % o.Branches;
        g.Flags = (((o.Hidden >> i) & 1) ? demo::GUEST_HIDDEN : 0) |
                  (((o.ZeroWidth >> i) & 1) ? demo::GUEST_ZERO_WIDTH : 0) |
                  (((o.ZeroHeight >> i) & 1) ? demo::GUEST_ZERO_HEIGHT : 0) |
                  (((o.HiddenBranches >> g.Branch) & 1) ? demo::GUEST_IN_HIDDEN_BRANCH : 0);
        SharedStats->Slots = i + 1;
        if (!CreateGuest(i, GuestPlace(i / o.Branches))) {
            return false;
        }
    }
    SharedStats->MainWindow = reinterpret_cast<uintptr_t>(MainWindow);
    ShowWindow(MainWindow, SW_SHOWNOACTIVATE);
    UpdateWindow(MainWindow);
    return true;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (!ParseOptions(__argc, __argv, Settings)) {
        Usage();
        return 2;
    }
    ClockFont =
        CreateFontA(-22, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");
    if (!OpenStats() || !RegisterClasses(instance) || !CreateConsole(instance)) {
        return 1;
    }
    if (Settings.StallAfterMs >= 0) {
        SetTimer(MainWindow, STALL_TIMER_ID, static_cast<UINT>(Settings.StallAfterMs), nullptr);
    }
    // Written last: a reader that sees the magic sees every window in place.
    MemoryBarrier();
    SharedStats->Magic = demo::STATS_MAGIC;

    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    SharedStats->MainWindow = 0;
    return 0;
}
