#include "e2e/harness.h"
#include "e2e/draw_window.h"
#include "panel/panel_ids.h"
#include "tools/demo_console/guest_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

namespace e2e {

namespace {

// Every message to another process goes through SendMessageTimeout: a hung peer must fail a
// test, not hang it.
constexpr UINT SEND_LIMIT_MS = 3000;

std::mutex ChildrenLock;
std::set<HANDLE>& Children() {
    static std::set<HANDLE> children;
    return children;
}

LRESULT SendWithin(HWND w, UINT message, WPARAM wp, LPARAM lp, bool* answered = nullptr) {
    DWORD_PTR result = 0;
    const bool ok = SendMessageTimeoutA(w, message, wp, lp, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                        SEND_LIMIT_MS, &result) != 0;
    if (answered) {
        *answered = ok;
    }
    return static_cast<LRESULT>(result);
}

int Counter() {
    static int n = 0;
    return ++n;
}

} // namespace

Programs& Paths() {
    static Programs programs;
    return programs;
}

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return path;
    }
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

bool WaitUntil(const std::function<bool()>& condition, milliseconds limit, milliseconds step) {
    const auto deadline = Clock::now() + limit * Paths().TimeScale;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(step);
    }
}

std::string ClassOf(HWND w) {
    char name[256] = "";
    GetClassNameA(w, name, sizeof name);
    return name;
}

std::string WindowText(HWND w) {
    char text[512] = "";
    bool answered = false;
    SendWithin(w, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), &answered);
    return answered ? text : "<no answer>";
}

// ---- Process

Process::~Process() {
    Kill();
    if (handle_) {
        std::lock_guard<std::mutex> hold(ChildrenLock);
        Children().erase(handle_);
        CloseHandle(handle_);
    }
}

bool Process::Start(const std::string& commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        std::fprintf(stderr, "CreateProcess failed (%lu): %s\n", GetLastError(), line.c_str());
        return false;
    }
    CloseHandle(info.hThread);
    handle_ = info.hProcess;
    id_ = info.dwProcessId;
    std::lock_guard<std::mutex> hold(ChildrenLock);
    Children().insert(handle_);
    return true;
}

bool Process::Running() const {
    return handle_ && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT;
}

bool Process::WaitExit(milliseconds limit, DWORD& code) const {
    if (!handle_ ||
        WaitForSingleObject(handle_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
        return false;
    }
    return GetExitCodeProcess(handle_, &code) != FALSE;
}

void Process::Kill() {
    if (Running()) {
        TerminateProcess(handle_, 250);
        WaitForSingleObject(handle_, 5000);
    }
}

void KillAllChildren() {
    std::lock_guard<std::mutex> hold(ChildrenLock);
    for (HANDLE child : Children()) {
        TerminateProcess(child, 250);
    }
}

// ---- DemoConsole

DemoConsole::~DemoConsole() {
    process_.Kill();
    if (stats_) {
        UnmapViewOfFile(stats_);
    }
    if (mapping_) {
        CloseHandle(mapping_);
    }
}

bool DemoConsole::Start(const std::string& options) {
    // The mapping is made here first, so the counters outlive the console and no two runs share.
    char name[96];
    std::snprintf(name, sizeof name, "QuorvelE2EStats_%lu_%d", GetCurrentProcessId(), Counter());
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  sizeof(demo::Stats), name);
    if (!mapping_) {
        return false;
    }
    stats_ = static_cast<demo::Stats*>(
        MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(demo::Stats)));
    if (!stats_) {
        return false;
    }
    const std::string line =
        "\"" + WindowsPath(Paths().DemoConsole) + "\" --stats " + name + " --controls 1 " + options;
    if (!process_.Start(line)) {
        return false;
    }
    return WaitUntil([this] { return stats_->Magic == demo::STATS_MAGIC || !process_.Running(); },
                     milliseconds(30000)) &&
           stats_->Magic == demo::STATS_MAGIC;
}

bool DemoConsole::Close(DWORD& exitCode) {
    PostMessageA(MainWindow(), WM_CLOSE, 0, 0);
    return process_.WaitExit(milliseconds(10000), exitCode);
}

HWND DemoConsole::MainWindow() const {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(stats_->MainWindow));
}

int32_t DemoConsole::GuestFrameNow() const {
    return demo::GuestFrameAt(*stats_, demo::NowUs());
}

Counts DemoConsole::Snapshot() const {
    const bool taken = WaitUntil(
        [this] {
            bool answered = false;
            return SendWithin(MainWindow(), demo::DEMO_SNAPSHOT, 0, 0, &answered) == 1 && answered;
        },
        milliseconds(5000), milliseconds(5));
    Counts counts;
    if (!taken) {
        ADD_FAILURE() << "the demo console had something left to paint for 5 s: no snapshot";
        return Counts(static_cast<size_t>(stats_->Slots), Count{});
    }
    for (int i = 0; i < stats_->SnapshotSlots; ++i) {
        const demo::SlotSnapshot& s = stats_->Snapshot[i];
        counts.push_back(
            Count{{s.Guest.Erase, s.Guest.Paint}, {s.Control.Erase, s.Control.Paint}, s.Frame});
    }
    return counts;
}

Repaints QuorvelRepaints(const Counts& before, const Counts& after, int slot) {
    const Count none{};
    const Count& a = static_cast<size_t>(slot) < before.size() ? before[slot] : none;
    const Count& b = after.at(static_cast<size_t>(slot));
    return Repaints{(b.Guest.Erase - a.Guest.Erase) - (b.Control.Erase - a.Control.Erase),
                    (b.Guest.Paint - a.Guest.Paint) - (b.Control.Paint - a.Control.Paint)};
}

bool DemoConsole::Stall(milliseconds length) {
    return PostMessageA(MainWindow(), demo::DEMO_STALL, static_cast<WPARAM>(length.count()), 0) !=
           FALSE;
}

int DemoConsole::ReplaceGuest(int slot) {
    bool answered = false;
    const LRESULT fresh =
        SendWithin(MainWindow(), demo::DEMO_REPLACE_GUEST, static_cast<WPARAM>(slot), 0, &answered);
    return answered ? static_cast<int>(fresh) : -1;
}

// ---- Panel

namespace {

struct Search {
    DWORD ProcessId;
    bool WantPanel;
    HWND Found;
};

BOOL CALLBACK FindQuorvelDialog(HWND w, LPARAM lp) {
    Search& search = *reinterpret_cast<Search*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner != search.ProcessId || ClassOf(w) != "#32770" || !IsWindowVisible(w)) {
        return TRUE;
    }
    char caption[64] = "";
    GetWindowTextA(w, caption, sizeof caption);
    if (std::string(caption) != "Quorvel") {
        return TRUE;
    }
    // Both are dialogs with the same caption; only the panel has a Start button.
    const bool isPanel = GetDlgItem(w, IDC_START) != nullptr;
    if (isPanel == search.WantPanel) {
        search.Found = w;
        return FALSE;
    }
    return TRUE;
}

HWND FindDialog(DWORD processId, bool panel, milliseconds limit) {
    Search search{processId, panel, nullptr};
    WaitUntil(
        [&] {
            search.Found = nullptr;
            EnumWindows(FindQuorvelDialog, reinterpret_cast<LPARAM>(&search));
            return search.Found != nullptr;
        },
        limit);
    return search.Found;
}

} // namespace

bool Panel::Find(milliseconds limit) {
    window_ = FindDialog(processId_, true, limit);
    return window_ != nullptr;
}

std::string Panel::Text(int id) const {
    return WindowText(Item(id));
}

bool Panel::SetText(int id, const std::string& text) const {
    bool answered = false;
    SendWithin(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &answered);
    return answered;
}

bool Panel::Click(int id) const {
    return PostMessageA(Item(id), BM_CLICK, 0, 0) != FALSE;
}

bool Panel::Settle(milliseconds limit) const {
    // Posted messages are handled in order; a marker posted last shows that the rest are done.
    // EM_SETSEL on the class field is harmless and readable from here.
    HWND field = Item(IDC_GUEST_CLASS);
    static int marker = 0;
    marker = (marker % 7) + 1;
    const int wanted = marker;
    PostMessageA(field, EM_SETSEL, static_cast<WPARAM>(wanted), wanted);
    return WaitUntil(
        [&] {
            bool answered = false;
            const LRESULT selection = SendWithin(field, EM_GETSEL, 0, 0, &answered);
            return answered && LOWORD(selection) == wanted;
        },
        limit);
}

bool Panel::Responsive(milliseconds limit) const {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL,
                               static_cast<UINT>(limit.count()), &result) != 0;
}

void Panel::PressCloseBox() const {
    PostMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageA(window_, WM_CLOSE, 0, 0);
}

void Panel::PressEscape() const {
    // The dialog's own loop turns Escape on any of its windows into IDCANCEL.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = window_;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &info) && info.hwndFocus) {
        target = info.hwndFocus;
    }
    PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(target, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
}

HWND Panel::FindErrorBox(milliseconds limit) const {
    return FindDialog(processId_, false, limit);
}

namespace {

BOOL CALLBACK FindIconControl(HWND w, LPARAM lp) {
    if (ClassOf(w) == "Static" &&
        (GetWindowLongA(w, GWL_STYLE) & SS_TYPEMASK) == static_cast<LONG>(SS_ICON)) {
        *reinterpret_cast<HWND*>(lp) = w;
        return FALSE;
    }
    return TRUE;
}

} // namespace

ErrorBox ReadErrorBox(HWND box) {
    ErrorBox read;
    read.Window = box;
    char caption[128] = "";
    GetWindowTextA(box, caption, sizeof caption);
    read.Caption = caption;
    // The message box's text is the static control with id 0xFFFF.
    read.Text = WindowText(GetDlgItem(box, 0xFFFF));
    EnumChildWindows(box, FindIconControl, reinterpret_cast<LPARAM>(&read.Icon));
    return read;
}

bool PressOk(HWND box) {
    HWND ok = GetDlgItem(box, IDOK);
    if (ok) {
        return PostMessageA(ok, BM_CLICK, 0, 0) != FALSE;
    }
    return PostMessageA(box, WM_COMMAND, IDOK, 0) != FALSE;
}

// ---- What a window draws

namespace {

// Pixels as COLORREF, from a 32-bit top-down DIB's 0x00RRGGBB.
COLORREF FromDib(DWORD pixel) {
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

// PrintWindow into our memory: the window's own thread draws it there. Windows does this for
// another process's window; Wine draws nothing into a device context of another process.
Picture Printed(HWND window, int width, int height) {
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    if (!DrawInMemory(width, height, pixels.data(),
                      [&](HDC dc) { return PrintWindow(window, dc, 0) != FALSE; })) {
        return Picture{};
    }
    Picture picture{width, height, {}, "PrintWindow"};
    for (DWORD pixel : pixels) {
        picture.Pixels.push_back(FromDib(pixel));
    }
    return picture;
}

// draw_window.dll, which the runner carries as a resource: written, the first time it is needed,
// to a folder of the runner's own, where a hooked process loads it from; removed when the runner
// ends, unless a process still holds it.
class DrawWindowLibrary {
  public:
    static HMODULE Get() {
        static DrawWindowLibrary written;
        return written.library_;
    }
    DrawWindowLibrary(const DrawWindowLibrary&) = delete;
    DrawWindowLibrary& operator=(const DrawWindowLibrary&) = delete;

  private:
    DrawWindowLibrary() {
        HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10));
        HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
        const void* bytes = loaded ? LockResource(loaded) : nullptr;
        char temp[MAX_PATH];
        if (!bytes || !GetTempPathA(MAX_PATH, temp)) {
            return;
        }
        folder_ = std::string(temp) + "quorvel-e2e-" + std::to_string(GetCurrentProcessId());
        path_ = folder_ + "\\draw_window.dll";
        CreateDirectoryA(folder_.c_str(), nullptr);
        HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        const DWORD size = SizeofResource(nullptr, found);
        const bool whole = file != INVALID_HANDLE_VALUE &&
                           WriteFile(file, bytes, size, &written, nullptr) && written == size;
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
        library_ = whole ? LoadLibraryA(path_.c_str()) : nullptr;
    }
    ~DrawWindowLibrary() {
        if (library_) {
            FreeLibrary(library_);
        }
        if (!path_.empty()) {
            DeleteFileA(path_.c_str());
            RemoveDirectoryA(folder_.c_str());
        }
    }
    HMODULE library_ = nullptr;
    std::string folder_;
    std::string path_;
};

// WM_PRINT sent by the window's own thread, from a hook that draw_window.dll serves there.
Picture DrawnByItsThread(HWND window) {
    Picture picture;
    HMODULE library = DrawWindowLibrary::Get();
    const auto hook = library ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(
                                    GetProcAddress(library, DRAW_WINDOW_HOOK)))
                              : nullptr;
    const std::string name = DRAWING_NAME_PREFIX + std::to_string(GetCurrentProcessId());
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(Drawing), name.c_str());
    auto* drawing = mapping ? static_cast<Drawing*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0,
                                                                  0, sizeof(Drawing)))
                            : nullptr;
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    HHOOK hooked = hook && drawing && thread
                       ? SetWindowsHookExA(WH_GETMESSAGE, hook, library, thread)
                       : nullptr;
    if (hooked) {
        drawing->Done = 0;
        PostMessageA(window, RegisterWindowMessageA(DRAW_WINDOW_MESSAGE),
                     reinterpret_cast<WPARAM>(window), static_cast<LPARAM>(GetCurrentProcessId()));
        WaitUntil([&] { return drawing->Done != 0; }, milliseconds(3000), milliseconds(5));
        UnhookWindowsHookEx(hooked);
        if (drawing->Done == 1) {
            picture = Picture{drawing->Width, drawing->Height, {}, "WM_PRINT in its own thread"};
            for (LONG i = 0; i < drawing->Width * drawing->Height; ++i) {
                picture.Pixels.push_back(FromDib(drawing->Pixels[i]));
            }
        }
    }
    if (drawing) {
        UnmapViewOfFile(drawing);
    }
    if (mapping) {
        CloseHandle(mapping);
    }
    return picture;
}

bool Untouched(const Picture& picture) {
    return std::all_of(picture.Pixels.begin(), picture.Pixels.end(),
                       [](COLORREF pixel) { return pixel == UNDRAWN; });
}

} // namespace

Picture DrawnBy(HWND window) {
    RECT r;
    if (!GetWindowRect(window, &r) || r.right <= r.left || r.bottom <= r.top) {
        return Picture{};
    }
    Picture picture = Printed(window, r.right - r.left, r.bottom - r.top);
    if (picture.Pixels.empty() || Untouched(picture)) {
        picture = DrawnByItsThread(window);
    }
    return Untouched(picture) ? Picture{} : picture;
}

double IconLikeness(const Picture& drawn, LPCSTR systemIcon) {
    HICON icon = LoadIconA(nullptr, systemIcon);
    const int size = GetSystemMetrics(SM_CXICON);
    if (!icon || drawn.Width < size || drawn.Height < size) {
        return 0;
    }
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info)) {
        return 0;
    }
    HDC drawnHere = CreateCompatibleDC(nullptr);
    HDC mask = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr); // only for the format of the bitmap drawn here
    HBITMAP drawnBits = CreateCompatibleBitmap(screen, size, size);
    ReleaseDC(nullptr, screen);
    SelectObject(drawnHere, drawnBits);
    SelectObject(mask, info.hbmMask);
    // Drawn on the control's own background (an icon's corner is transparent), so that partly
    // transparent edges blend alike.
    RECT all = {0, 0, size, size};
    HBRUSH background = CreateSolidBrush(drawn.At(0, 0));
    FillRect(drawnHere, &all, background);
    DeleteObject(background);
    DrawIconEx(drawnHere, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);

    int opaque = 0, same = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (GetPixel(mask, x, y) != RGB(0, 0, 0)) {
                continue; // transparent: shows the control's background
            }
            ++opaque;
            same += drawn.At(x, y) == GetPixel(drawnHere, x, y);
        }
    }
    DeleteDC(drawnHere);
    DeleteDC(mask);
    DeleteObject(drawnBits);
    DeleteObject(info.hbmMask);
    if (info.hbmColor) {
        DeleteObject(info.hbmColor);
    }
    return opaque ? static_cast<double>(same) / opaque : 0;
}

// ---- Inspector

std::vector<std::string> Inspection::Lines() const {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < Output.size()) {
        size_t end = Output.find('\n', at);
        if (end == std::string::npos) {
            end = Output.size();
        }
        std::string line = Output.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

bool RunInspector(const std::string& arguments, Inspection& result) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info = {};
    std::string line = "\"" + WindowsPath(Paths().Inspector) + "\" " + arguments;
    const bool started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        nullptr, nullptr, &startup, &info) != 0;
    CloseHandle(writeEnd);
    if (!started) {
        std::fprintf(stderr, "CreateProcess failed (%lu): %s\n", GetLastError(), line.c_str());
        CloseHandle(readEnd);
        return false;
    }
    {
        std::lock_guard<std::mutex> hold(ChildrenLock);
        Children().insert(info.hProcess);
    }
    // Read to the end: the pipe breaks when the inspector ends. One that hangs is the watchdog's.
    result.Output.clear();
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        result.Output.append(buffer, read);
    }
    CloseHandle(readEnd);
    const bool ended =
        WaitForSingleObject(info.hProcess, static_cast<DWORD>(10000 * Paths().TimeScale)) ==
            WAIT_OBJECT_0 &&
        GetExitCodeProcess(info.hProcess, &result.ExitCode);
    {
        std::lock_guard<std::mutex> hold(ChildrenLock);
        Children().erase(info.hProcess);
    }
    if (!ended) {
        TerminateProcess(info.hProcess, 250);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return ended;
}

// ---- Quorvel

bool Quorvel::Start(const std::string& commandLine) {
    // Quoted: the kit may be unpacked into a folder whose path has blanks.
    const std::string line =
        commandLine.empty() ? "\"" + WindowsPath(Paths().Quorvel) + "\"" : commandLine;
    if (!Proc.Start(line)) {
        return false;
    }
    Ui = Panel(Proc.Id());
    return Ui.Find(milliseconds(30000));
}

bool Quorvel::CloseAndWait(DWORD& exitCode) {
    PostMessageA(Ui.Window(), WM_CLOSE, 0, 0);
    return Proc.WaitExit(milliseconds(10000), exitCode);
}

} // namespace e2e
