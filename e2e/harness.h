// What the end-to-end tests need to play the user: start quorvel.exe and the demo console as
// processes of their own, find their windows, and work the panel through window messages only.
#pragma once

#include "tools/demo_console/demo_stats.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Where the programs under test are; set from the command line by main().
struct Programs {
    std::string Quorvel;
    std::string DemoConsole;
    std::string Inspector; // quorvel-inspect.exe; its tests are skipped without it
    // Stretches every deadline: an emulated quorvel.exe starts and runs many times slower.
    int TimeScale = 1;
};
Programs& Paths();

// Turns a Unix path into one Wine understands; Windows paths pass unchanged.
std::string WindowsPath(const std::string& path);

// Polls until the condition holds or the time (scaled by TimeScale) is up; returns the
// condition's last answer.
bool WaitUntil(const std::function<bool()>& condition, milliseconds limit,
               milliseconds step = milliseconds(20));

// A child process. Registered with the watchdog while it lives, and killed when destroyed.
class Process {
  public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    bool Start(const std::string& commandLine);
    bool Running() const;
    // True when the process ended within the limit; its exit code is then in code.
    bool WaitExit(milliseconds limit, DWORD& code) const;
    void Kill();
    DWORD Id() const { return id_; }

  private:
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
};

// Ends every registered child process; the watchdog calls it from its own thread.
void KillAllChildren();

struct Repaints {
    int Erase;
    int Paint;
};

// One guest slot's counters at one moment: its guest window's, its control window's, and the
// guest frame the guest window showed last.
struct Count {
    Repaints Guest;
    Repaints Control;
    int Frame;
};
using Counts = std::vector<Count>;

// What Quorvel made the guest window in this slot do between two snapshots: its erases and
// paints beyond those of its control window, which the window manager treats alike. A slot
// missing from before (a guest made in between) counts from zero.
Repaints QuorvelRepaints(const Counts& before, const Counts& after, int slot);

// The stand-in console, with its counters. Every guest window has a control window beside it.
class DemoConsole {
  public:
    DemoConsole() = default;
    DemoConsole(const DemoConsole&) = delete;
    DemoConsole& operator=(const DemoConsole&) = delete;
    ~DemoConsole();

    // Starts it with these options and waits until its windows are up.
    bool Start(const std::string& options);
    bool Close(DWORD& exitCode);

    HWND MainWindow() const;
    int Slots() const { return stats_->Slots; }
    const demo::GuestStats& Guest(int slot) const { return stats_->Guests[slot]; }
    bool Stalled() const { return stats_->Stalled != 0; }
    // The frame the simulated guest is at now, whether or not any window shows it.
    int32_t GuestFrameNow() const;

    // Every slot's counters, copied by the console's own thread at a moment when it had nothing
    // left to paint, so that no repaint is counted for a guest window and still to come for its
    // control window. Fails the test when the console is never idle within a few seconds.
    Counts Snapshot() const;

    // Asks the console to stop pumping messages for a while; returns at once.
    bool Stall(milliseconds length);
    // Destroys a guest window and creates a new one in its place; returns the new slot.
    int ReplaceGuest(int slot);

  private:
    Process process_;
    HANDLE mapping_ = nullptr;
    demo::Stats* stats_ = nullptr;
};

// The panel of a running quorvel.exe.
class Panel {
  public:
    explicit Panel(DWORD processId) : processId_(processId) {}

    // Waits for the panel to appear; false when it does not.
    bool Find(milliseconds limit);
    HWND Window() const { return window_; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }

    std::string Text(int id) const;
    bool SetText(int id, const std::string& text) const;
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    // Presses a button as a click would; does not wait for the panel to act on it.
    bool Click(int id) const;
    // Returns once every message posted to the panel so far has been handled.
    bool Settle(milliseconds limit) const;
    // Answers within the limit, or the panel's thread is busy.
    bool Responsive(milliseconds limit) const;

    // The ways a user closes a window: the close box (system menu), a plain close, Escape.
    void PressCloseBox() const;
    void PressEscape() const;

    // An error box of this process (a dialog captioned "Quorvel" that is not the panel).
    HWND FindErrorBox(milliseconds limit) const;

  private:
    DWORD processId_;
    HWND window_ = nullptr;
};

struct ErrorBox {
    HWND Window = nullptr;
    std::string Caption;
    std::string Text;
    HWND Icon = nullptr; // the static control that shows the icon
};
ErrorBox ReadErrorBox(HWND box);
bool PressOk(HWND box);

// What a window draws of itself, drawn into memory, not read from the screen: no window in front
// of it, nor its place in the z-order, changes it. Empty when it could not be drawn.
struct Picture {
    int Width = 0;
    int Height = 0;
    std::vector<COLORREF> Pixels; // row by row, from the top
    const char* How = "";         // by which means it was drawn
    COLORREF At(int x, int y) const { return Pixels[static_cast<size_t>(y * Width + x)]; }
};
Picture DrawnBy(HWND window);

// How much of a system icon's opaque part an icon control's picture shows, 0 to 1.
double IconLikeness(const Picture& iconControl, LPCSTR systemIcon);

std::string ClassOf(HWND w);
std::string WindowText(HWND w);

// One run of quorvel-inspect.exe with its output redirected, as a script would run it.
struct Inspection {
    DWORD ExitCode = 12345;
    std::string Output; // line ends as written
    // The output's lines, line ends taken off.
    std::vector<std::string> Lines() const;
};
// Runs the inspector with these arguments (as they go on its command line) and waits, within
// limits, for it to end; false when it does not start or end.
bool RunInspector(const std::string& arguments, Inspection& result);

// quorvel.exe with its panel, as the tests start it.
struct Quorvel {
    Process Proc;
    Panel Ui{0};
    // Starts it with this command line (by default its plain path) and waits for the panel.
    bool Start(const std::string& commandLine = "");
    // Closes the panel and waits for the process to end.
    bool CloseAndWait(DWORD& exitCode);
};

} // namespace e2e
