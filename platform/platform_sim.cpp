// Simulated window manager and kernel for the Linux build. Single-threaded, like the program.
#include "platform/sim_control.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

struct SimWindow {
    bool Alive = true;
    HWND Parent = nullptr;
    std::string Title;
    std::string ClassName;
    RECT Rect{};
    bool Visible = true;
    bool Enabled = true;
    int Id = 0;
    bool UpdatePending = false;
    unsigned Invalidations = 0;
    unsigned ErasingInvalidations = 0;
    unsigned Paints = 0;
    std::vector<std::string> Items;
    int Selection = -1;
};

struct World {
    std::vector<SimWindow> Windows;
    DWORD Tick = 0;
    bool Recording = false;
    std::vector<Sim::Call> Calls;
    std::function<void(HWND)> Driver;
    HWND Dialog = nullptr;
    DLGPROC DialogProc = nullptr;
    unsigned DialogRuns = 0;
    bool DialogEnded = false;
    INT_PTR DialogResult = 0;
    std::vector<Sim::Timer> Timers;
    std::vector<Sim::Box> Boxes;
    std::function<void(const Sim::Box&)> BoxHook;
    std::map<int, std::vector<Sim::DialogControl>> Templates;
    std::string CommandLine = "quorvel.exe";
    unsigned FailAllocations = 0;
    std::map<void*, size_t> Allocations;
};

World& TheWorld() {
    static World world;
    return world;
}

HWND HandleOf(size_t index) {
    return (HWND)(uintptr_t)((index + 1) << 4);
}

// Any handle value may come in, stale or invented: only real ones map to a window.
SimWindow* Find(HWND window) {
    uintptr_t value = (uintptr_t)window;
    if (value == 0 || (value & 0xf) != 0) {
        return nullptr;
    }
    size_t index = (value >> 4) - 1;
    World& world = TheWorld();
    return index < world.Windows.size() ? &world.Windows[index] : nullptr;
}

SimWindow* FindAlive(HWND window) {
    SimWindow* found = Find(window);
    return found && found->Alive ? found : nullptr;
}

void Record(Sim::Op op, HWND window, uintptr_t arg = 0) {
    World& world = TheWorld();
    if (world.Recording) {
        world.Calls.push_back({op, window, arg});
    }
}

int CopyText(const std::string& text, LPSTR out, int max) {
    if (max <= 0) {
        return 0;
    }
    int length = (int)text.size() < max - 1 ? (int)text.size() : max - 1;
    memcpy(out, text.data(), (size_t)length);
    out[length] = 0;
    return length;
}

// Pre-order, as Windows enumerates a window tree; a child created during the walk is not met.
// Without `deep`, only the direct children are met (EnumWindows' top-level walk).
bool EnumChildrenOf(HWND parent, WNDENUMPROC proc, LPARAM param, bool deep) {
    World& world = TheWorld();
    size_t count = world.Windows.size();
    for (size_t i = 0; i < count; ++i) {
        if (!world.Windows[i].Alive || world.Windows[i].Parent != parent) {
            continue;
        }
        HWND child = HandleOf(i);
        if (!proc(child, param)) {
            return false;
        }
        if (deep && !EnumChildrenOf(child, proc, param, true)) {
            return false;
        }
    }
    return true;
}

constexpr DWORD SIM_PROCESS_ID = 0x2A0;

unsigned char Upper1252(unsigned char ch) {
    if (ch >= 'a' && ch <= 'z') {
        return (unsigned char)(ch - 0x20);
    }
    if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) {
        return (unsigned char)(ch - 0x20);
    }
    switch (ch) {
    case 0x9A:
        return 0x8A;
    case 0x9C:
        return 0x8C;
    case 0x9E:
        return 0x8E;
    case 0xFF:
        return 0x9F;
    default:
        return ch;
    }
}

} // namespace

namespace Sim {

std::string Describe(const Call& call) {
    static const char* const names[] = {
        "EnumWindows",   "EnumChildWindows", "GetWindowText",  "GetClassName", "GetParent",
        "GetWindowRect", "IsWindowVisible",  "InvalidateRect", "UpdateWindow", "CharUpper",
        "GetTickCount",  "SetWindowText",    "EnableWindow",   "ShowWindow",   "SetTimer",
        "KillTimer",     "MessageBox",       "EndDialog",
    };
    char text[128];
    snprintf(text, sizeof text, "%s(%#lx, %lu)", names[(int)call.Operation],
             (unsigned long)(uintptr_t)call.Window, (unsigned long)call.Arg);
    return text;
}

void Reset() {
    for (auto& block : TheWorld().Allocations) {
        free(block.first);
    }
    TheWorld() = World();
}

HWND CreateWindow(HWND parent, const char* title, const char* className, RECT rect, bool visible) {
    World& world = TheWorld();
    SimWindow window;
    window.Parent = parent;
    window.Title = title ? title : "";
    window.ClassName = className ? className : "";
    window.Rect = rect;
    window.Visible = visible;
    world.Windows.push_back(window);
    return HandleOf(world.Windows.size() - 1);
}

void DestroyWindow(HWND window) {
    SimWindow* found = FindAlive(window);
    if (!found) {
        return;
    }
    found->Alive = false;
    World& world = TheWorld();
    for (size_t i = 0; i < world.Windows.size(); ++i) {
        if (world.Windows[i].Alive && world.Windows[i].Parent == window) {
            DestroyWindow(HandleOf(i));
        }
    }
}

void SetVisible(HWND window, bool visible) {
    if (SimWindow* found = FindAlive(window)) {
        found->Visible = visible;
    }
}

void SetRect(HWND window, RECT rect) {
    if (SimWindow* found = FindAlive(window)) {
        found->Rect = rect;
    }
}

void SetTitle(HWND window, const char* title) {
    if (SimWindow* found = FindAlive(window)) {
        found->Title = title;
    }
}

std::string WindowText(HWND window) {
    SimWindow* found = FindAlive(window);
    return found ? found->Title : std::string();
}

bool IsEnabled(HWND window) {
    SimWindow* found = FindAlive(window);
    return found && found->Enabled;
}

bool Exists(HWND window) {
    return FindAlive(window) != nullptr;
}

unsigned Invalidations(HWND window) {
    SimWindow* found = Find(window);
    return found ? found->Invalidations : 0;
}

unsigned ErasingInvalidations(HWND window) {
    SimWindow* found = Find(window);
    return found ? found->ErasingInvalidations : 0;
}

unsigned Paints(HWND window) {
    SimWindow* found = Find(window);
    return found ? found->Paints : 0;
}

void SetTick(DWORD tick) {
    TheWorld().Tick = tick;
}
void AdvanceTick(DWORD ms) {
    TheWorld().Tick += ms;
}

void RecordCalls(bool on) {
    TheWorld().Recording = on;
}
const std::vector<Call>& Calls() {
    return TheWorld().Calls;
}
void ClearCalls() {
    TheWorld().Calls.clear();
}

unsigned CountCalls(Op op) {
    unsigned count = 0;
    for (const Call& call : TheWorld().Calls) {
        count += call.Operation == op;
    }
    return count;
}

void DefineDialog(int templateId, std::vector<DialogControl> controls) {
    TheWorld().Templates[templateId] = std::move(controls);
}

void SetDialogDriver(std::function<void(HWND)> driver) {
    TheWorld().Driver = std::move(driver);
}
HWND Dialog() {
    return TheWorld().Dialog;
}

INT_PTR SendToDialog(UINT message, WPARAM wparam, LPARAM lparam) {
    World& world = TheWorld();
    if (!world.Dialog || !world.DialogProc || world.DialogEnded) {
        return 0;
    }
    return world.DialogProc(world.Dialog, message, wparam, lparam);
}

void Command(int id) {
    SendToDialog(WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

std::vector<std::string> ComboItems(HWND combo) {
    SimWindow* found = FindAlive(combo);
    return found ? found->Items : std::vector<std::string>();
}

int ComboSelection(HWND combo) {
    SimWindow* found = FindAlive(combo);
    return found ? found->Selection : -1;
}

unsigned DialogRuns() {
    return TheWorld().DialogRuns;
}
bool DialogEnded() {
    return TheWorld().DialogEnded;
}
INT_PTR DialogResult() {
    return TheWorld().DialogResult;
}

const std::vector<Timer>& ArmedTimers() {
    return TheWorld().Timers;
}

void FireTimers() {
    std::vector<Timer> due = TheWorld().Timers;
    for (const Timer& timer : due) {
        if (SimWindow* window = FindAlive(timer.Window)) {
            (void)window;
            SendToDialog(WM_TIMER, timer.Id, 0);
        }
    }
}

const std::vector<Box>& Boxes() {
    return TheWorld().Boxes;
}
void SetBoxHook(std::function<void(const Box&)> hook) {
    TheWorld().BoxHook = std::move(hook);
}

void SetCommandLine(const char* commandLine) {
    TheWorld().CommandLine = commandLine;
}
void FailNextAllocations(unsigned count) {
    TheWorld().FailAllocations = count;
}
unsigned LiveAllocations() {
    return (unsigned)TheWorld().Allocations.size();
}

} // namespace Sim

// Window manager.

BOOL WINAPI EnumWindows(WNDENUMPROC proc, LPARAM param) {
    Record(Sim::Op::EnumWindows, nullptr);
    EnumChildrenOf(nullptr, proc, param, false);
    return TRUE;
}

BOOL WINAPI EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM param) {
    Record(Sim::Op::EnumChildWindows, parent);
    if (!parent) {
        return EnumWindows(proc, param);
    }
    if (!FindAlive(parent)) {
        return FALSE;
    }
    EnumChildrenOf(parent, proc, param, true);
    return TRUE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR text, int max) {
    Record(Sim::Op::GetWindowText, window);
    SimWindow* found = FindAlive(window);
    return CopyText(found ? found->Title : std::string(), text, max);
}

int WINAPI GetClassNameA(HWND window, LPSTR name, int max) {
    Record(Sim::Op::GetClassName, window);
    SimWindow* found = FindAlive(window);
    if (!found) {
        return 0;
    }
    return CopyText(found->ClassName, name, max);
}

HWND WINAPI GetParent(HWND window) {
    Record(Sim::Op::GetParent, window);
    SimWindow* found = FindAlive(window);
    return found ? found->Parent : nullptr;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    Record(Sim::Op::GetWindowRect, window);
    SimWindow* found = FindAlive(window);
    if (!found) {
        return FALSE;
    }
    *rect = found->Rect;
    return TRUE;
}

BOOL WINAPI IsWindowVisible(HWND window) {
    Record(Sim::Op::IsWindowVisible, window);
    for (SimWindow* at = FindAlive(window); at; at = FindAlive(at->Parent)) {
        if (!at->Visible) {
            return FALSE;
        }
        if (!at->Parent) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOL WINAPI InvalidateRect(HWND window, LPCRECT, BOOL erase) {
    Record(Sim::Op::InvalidateRect, window, (uintptr_t)erase);
    SimWindow* found = FindAlive(window);
    if (!found) {
        return FALSE;
    }
    found->Invalidations++;
    found->ErasingInvalidations += erase ? 1 : 0;
    found->UpdatePending = true;
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND window) {
    Record(Sim::Op::UpdateWindow, window);
    SimWindow* found = FindAlive(window);
    if (!found) {
        return FALSE;
    }
    if (found->UpdatePending) {
        found->UpdatePending = false;
        found->Paints++;
    }
    return TRUE;
}

LPSTR WINAPI CharUpperA(LPSTR text) {
    uintptr_t value = (uintptr_t)text;
    if (value <= 0xffff) {
        Record(Sim::Op::CharUpper, nullptr, value);
        return (LPSTR)(uintptr_t)Upper1252((unsigned char)value);
    }
    for (char* at = text; *at; ++at) {
        *at = (char)Upper1252((unsigned char)*at);
    }
    return text;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC proc,
                               LPARAM param) {
    World& world = TheWorld();
    // Only templates named by number, as MAKEINTRESOURCE names them, and defined by the test.
    const uintptr_t id = (uintptr_t)templateName;
    auto found = id <= 0xffff ? world.Templates.find((int)id) : world.Templates.end();
    if (found == world.Templates.end()) {
        return -1;
    }
    world.DialogRuns++;
    HWND dialog = Sim::CreateWindow(owner, "", "#32770", RECT{0, 0, 372, 190}, false);
    for (const Sim::DialogControl& control : found->second) {
        HWND item = Sim::CreateWindow(dialog, control.Text, control.ClassName, RECT{1, 1, 2, 2});
        Find(item)->Id = control.Id;
    }
    world.Dialog = dialog;
    world.DialogProc = proc;
    world.DialogEnded = false;
    world.DialogResult = -1;
    proc(dialog, WM_INITDIALOG, 0, param);
    if (!world.DialogEnded && world.Driver) {
        world.Driver(dialog);
    }
    INT_PTR result = world.DialogEnded ? world.DialogResult : -1;
    Sim::DestroyWindow(dialog);
    world.Timers.clear();
    world.DialogProc = nullptr;
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Record(Sim::Op::EndDialog, dialog, (uintptr_t)result);
    World& world = TheWorld();
    if (dialog != world.Dialog || world.DialogEnded) {
        return FALSE;
    }
    world.DialogEnded = true;
    world.DialogResult = result;
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    World& world = TheWorld();
    for (size_t i = 0; i < world.Windows.size(); ++i) {
        const SimWindow& window = world.Windows[i];
        if (window.Alive && window.Parent == dialog && window.Id == id && id != -1) {
            return HandleOf(i);
        }
    }
    return nullptr;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    Record(Sim::Op::SetWindowText, window);
    SimWindow* found = FindAlive(window);
    if (!found) {
        return FALSE;
    }
    found->Title = text;
    return TRUE;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    Record(Sim::Op::EnableWindow, window, (uintptr_t)(enable != 0));
    SimWindow* found = FindAlive(window);
    if (!found) {
        return FALSE;
    }
    BOOL wasDisabled = !found->Enabled;
    found->Enabled = enable != 0;
    return wasDisabled;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    Record(Sim::Op::ShowWindow, window, (uintptr_t)command);
    SimWindow* found = FindAlive(window);
    if (!found) {
        return FALSE;
    }
    BOOL wasVisible = found->Visible;
    found->Visible = command != SW_HIDE;
    return wasVisible;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam,
                                   LPARAM lparam) {
    SimWindow* combo = FindAlive(GetDlgItem(dialog, id));
    if (!combo || combo->ClassName != "ComboBox") {
        return 0;
    }
    if (message == CB_ADDSTRING) {
        combo->Items.push_back((const char*)lparam);
        return (LRESULT)combo->Items.size() - 1;
    }
    if (message == CB_SETCURSEL) {
        if (wparam >= combo->Items.size()) {
            combo->Selection = -1;
            combo->Title.clear();
            return -1;
        }
        combo->Selection = (int)wparam;
        combo->Title = combo->Items[wparam];
        return (LRESULT)wparam;
    }
    return 0;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, void*) {
    Record(Sim::Op::SetTimer, window, id);
    if (!FindAlive(window)) {
        return 0;
    }
    // Windows clamps the period to USER_TIMER_MINIMUM..USER_TIMER_MAXIMUM.
    if (elapse < 0xA) {
        elapse = 0xA;
    }
    if (elapse > 0x7FFFFFFF) {
        elapse = 0x7FFFFFFF;
    }
    for (Sim::Timer& timer : TheWorld().Timers) {
        if (timer.Window == window && timer.Id == id) {
            timer.Period = elapse;
            return id;
        }
    }
    TheWorld().Timers.push_back({window, id, elapse});
    return id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
    Record(Sim::Op::KillTimer, window, id);
    auto& timers = TheWorld().Timers;
    for (auto at = timers.begin(); at != timers.end(); ++at) {
        if (at->Window == window && at->Id == id) {
            timers.erase(at);
            return TRUE;
        }
    }
    return FALSE;
}

int WINAPI wvsprintfA(LPSTR out, LPCSTR format, va_list args) {
    // wvsprintfA writes at most 1024 bytes; callers give a buffer big enough for their texts.
    return vsnprintf(out, 1024, format, args);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Record(Sim::Op::MessageBox, owner, type);
    World& world = TheWorld();
    world.Boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
    if (world.BoxHook) {
        Sim::Box box = world.Boxes.back();
        world.BoxHook(box);
    }
    return IDOK;
}

// Every simulated window belongs to one process, with one thread.
DWORD WINAPI GetWindowThreadProcessId(HWND window, DWORD* processId) {
    if (!FindAlive(window)) {
        return 0;
    }
    if (processId) {
        *processId = SIM_PROCESS_ID;
    }
    return GetCurrentThreadId();
}

// Kernel.

DWORD WINAPI GetTickCount(void) {
    Record(Sim::Op::GetTickCount, nullptr);
    return TheWorld().Tick;
}

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
    return strcmp(a, b);
}
int WINAPI lstrlenA(LPCSTR text) {
    return text ? (int)strlen(text) : 0;
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
    *section = CRITICAL_SECTION{-1, 0, 0, TRUE};
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
    if (section->RecursionCount > 0 && section->OwningThread != GetCurrentThreadId()) {
        abort(); // another thread: the simulation has only one
    }
    section->LockCount++;
    section->RecursionCount++;
    section->OwningThread = GetCurrentThreadId();
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
    if (section->RecursionCount <= 0) {
        abort(); // leaving a section that is not held corrupts it on Windows
    }
    section->LockCount--;
    if (--section->RecursionCount == 0) {
        section->OwningThread = 0;
    }
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
    section->Initialized = FALSE;
}

DWORD WINAPI GetCurrentThreadId(void) {
    return 0x1234;
}

HLOCAL WINAPI LocalAlloc(UINT flags, UINT_PTR bytes) {
    World& world = TheWorld();
    if (world.FailAllocations > 0) {
        world.FailAllocations--;
        return nullptr;
    }
    void* block =
        (flags & LMEM_ZEROINIT) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    world.Allocations[block] = bytes;
    return block;
}

HLOCAL WINAPI LocalHandle(const void* memory) {
    return (HLOCAL)memory;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    World& world = TheWorld();
    auto found = world.Allocations.find(memory);
    if (found == world.Allocations.end()) {
        return memory; // not ours: Windows reports failure by handing the handle back
    }
    world.Allocations.erase(found);
    free(memory);
    return nullptr;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR) {
    return (HMODULE)(uintptr_t)0x400000;
}

LPSTR WINAPI GetCommandLineA(void) {
    return &TheWorld().CommandLine[0];
}

void WINAPI ExitProcess(UINT code) {
    throw Sim::ProcessExited{code};
}
