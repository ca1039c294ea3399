// Test-side control of the simulated window manager: build window trees, move the clock,
// drive the modal dialog, and read back what the program asked the platform to do.
#pragma once

#include "platform/platform_sim.h"

#include <functional>
#include <string>
#include <vector>

namespace Sim {

enum class Op {
    EnumWindows,
    EnumChildWindows,
    GetWindowText,
    GetClassName,
    GetParent,
    GetWindowRect,
    IsWindowVisible,
    InvalidateRect,
    UpdateWindow,
    CharUpper,
    GetTickCount,
    SetWindowText,
    EnableWindow,
    ShowWindow,
    SetTimer,
    KillTimer,
    MessageBox,
    EndDialog,
};

struct Call {
    Op Operation;
    HWND Window;
    uintptr_t Arg; // erase flag, timer id, enable flag, show command... (0 when unused)

    bool operator==(const Call& other) const {
        return Operation == other.Operation && Window == other.Window && Arg == other.Arg;
    }
    bool operator!=(const Call& other) const { return !(*this == other); }
};
std::string Describe(const Call& call);

// Forgets every window, call, timer, box and dialog template; the clock reads 0; calls are not
// recorded.
void Reset();

// Windows are created in enumeration order: top-level ones for EnumWindows, children of one
// parent in the order EnumChildWindows meets them (depth first, parent before its children).
HWND CreateWindow(HWND parent, const char* title, const char* className, RECT rect,
                  bool visible = true);
// A destroyed handle stays stale: no text, no children, not visible, paints nothing.
void DestroyWindow(HWND window);
void SetVisible(HWND window, bool visible);
void SetRect(HWND window, RECT rect);
void SetTitle(HWND window, const char* title);
std::string WindowText(HWND window);
bool IsEnabled(HWND window);
bool Exists(HWND window);

unsigned Invalidations(HWND window);
unsigned ErasingInvalidations(HWND window);
unsigned Paints(HWND window);

void SetTick(DWORD tick);
void AdvanceTick(DWORD ms);

void RecordCalls(bool on);
const std::vector<Call>& Calls();
void ClearCalls();
unsigned CountCalls(Op op);

// One control of a dialog template, as the window manager builds it: id (-1 for none), window
// class, text.
struct DialogControl {
    int Id;
    const char* ClassName;
    const char* Text;
};
// Makes a template known by its resource number: DialogBoxParamA builds its dialog from these
// controls, in this order. A template never defined makes DialogBoxParamA fail with -1.
void DefineDialog(int templateId, std::vector<DialogControl> controls);

// The modal dialog. DialogBoxParamA builds a defined template's controls, sends WM_INITDIALOG,
// then hands the dialog to the driver, which plays the user. The loop ends when the procedure
// calls EndDialog; a driver that returns without that makes DialogBoxParamA return -1.
void SetDialogDriver(std::function<void(HWND dialog)> driver);
HWND Dialog();
INT_PTR SendToDialog(UINT message, WPARAM wparam, LPARAM lparam);
void Command(int id);
std::vector<std::string> ComboItems(HWND combo);
int ComboSelection(HWND combo);
unsigned DialogRuns();
bool DialogEnded();
INT_PTR DialogResult();

struct Timer {
    HWND Window;
    UINT_PTR Id;
    UINT Period;
};
const std::vector<Timer>& ArmedTimers();
// Delivers WM_TIMER for every armed timer once, as the modal loop would.
void FireTimers();

struct Box {
    HWND Owner;
    std::string Text;
    std::string Caption;
    UINT Type;
};
const std::vector<Box>& Boxes();
// Runs while a message box is up, before it is dismissed.
void SetBoxHook(std::function<void(const Box&)> hook);

void SetCommandLine(const char* commandLine);
// The next `count` LocalAlloc calls fail; the ones after succeed again.
void FailNextAllocations(unsigned count);
unsigned LiveAllocations();

// ExitProcess does not return: the simulation throws this, for a test to catch.
struct ProcessExited {
    UINT Code;
};

} // namespace Sim
