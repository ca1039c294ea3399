#include "panel/panel.h"

#include "engine/refresh_engine.h"
#include "support/scanning.h"

#include <stdarg.h>

HWND PanelWindow;

// The interval choices, packed one after another; an empty string ends them.
static const char IntervalChoices[] = "50\0"
                                      "100\0"
                                      "200\0"
                                      "300\0"
                                      "400\0"
                                      "500\0"
                                      "700\0"
                                      "1000\0";
enum { DEFAULT_INTERVAL_INDEX = 2 };

static void EnableItem(int id, BOOL enabled) {
    EnableWindow(GetDlgItem(PanelWindow, id), enabled);
}

static void ReadItem(int id, char* text, int size) {
    text[0] = 0;
    GetWindowTextA(GetDlgItem(PanelWindow, id), text, size);
}

void SetSettingsEnabled(BOOL enabled) {
    EnableItem(IDC_TITLE_TEMPLATE, enabled);
    EnableItem(IDC_GUEST_CLASS, enabled);
    EnableItem(IDC_INTERVAL, enabled);
}

void ShowError(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    wvsprintfA(text, format, args);
    va_end(args);
    MessageBoxA(nullptr, text, "Quorvel", MB_OK | MB_ICONERROR);
}

static void OnInitDialog(HWND window) {
    PanelWindow = window;
    SetWindowTextA(window, "Quorvel");
    Refresh.Running = 0;
    SetWindowTextA(GetDlgItem(window, IDC_TITLE_TEMPLATE), "* - VMware Workstation");
    SetWindowTextA(GetDlgItem(window, IDC_GUEST_CLASS), "VMWare.GuestWindow");
    for (const char* choice = IntervalChoices; *choice; choice += lstrlenA(choice) + 1) {
        SendDlgItemMessageA(window, IDC_INTERVAL, CB_ADDSTRING, 0, (LPARAM)choice);
    }
    SendDlgItemMessageA(window, IDC_INTERVAL, CB_SETCURSEL, DEFAULT_INTERVAL_INDEX, 0);
    EnableItem(IDC_START, TRUE);
    EnableItem(IDC_STOP, FALSE);
    ShowWindow(window, SW_SHOW);
}

// Checks the settings in a fixed order and arms the timer; returns the message of the first
// check that fails, or null once refreshing runs.
static const char* StartRefreshing() {
    char text[TITLE_TEXT_MAX];
    ReadItem(IDC_TITLE_TEMPLATE, text, TITLE_TEXT_MAX);
    if (text[0] == 0) {
        return "Template must be specified";
    }
    ReadItem(IDC_GUEST_CLASS, Refresh.GuestClass, GUEST_CLASS_MAX);
    if (!FindTargetWindow(text)) {
        return "No VMware window found";
    }
    // The template is not needed any more: the buffer takes the interval.
    ReadItem(IDC_INTERVAL, text, TITLE_TEXT_MAX);
    const char* end;
    DWORD interval = ParseUnsigned(text, &end, 10);
    if (end == text || interval < MIN_INTERVAL_MS) {
        return "Invalid interval given";
    }
    SetTimer(PanelWindow, REFRESH_TIMER_ID, interval, nullptr);
    Refresh.Running = 1;
    SetSettingsEnabled(FALSE);
    EnableItem(IDC_STOP, TRUE);
    return nullptr;
}

static void OnStart() {
    // The button is disabled while refreshing; a Start that arrives anyway (sent by another
    // program) must not reset the engine under the running timer.
    if (Refresh.Running) {
        return;
    }
    EnableItem(IDC_START, FALSE);
    ResetRefreshState();
    if (const char* problem = StartRefreshing()) {
        ShowError(problem);
    }
    // Only once any error box is dismissed, so Start cannot be pressed again meanwhile.
    if (!Refresh.Running) {
        EnableItem(IDC_START, TRUE);
    }
}

static void OnStop() {
    EnableItem(IDC_STOP, FALSE);
    KillTimer(PanelWindow, REFRESH_TIMER_ID);
    Refresh.Running = 0;
    SetSettingsEnabled(TRUE);
    EnableItem(IDC_START, TRUE);
}

static void OnCancel() {
    // Closing is refused while refreshing: the timer must not outlive the panel.
    if (!Refresh.Running) {
        EndDialog(PanelWindow, 1);
    }
}

INT_PTR CALLBACK PanelProc(HWND window, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(window);
        break;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDC_START:
            OnStart();
            break;
        case IDC_STOP:
            OnStop();
            break;
        case IDCANCEL:
            OnCancel();
            break;
        }
        break;
    case WM_TIMER:
        OnRefreshTick();
        break;
    }
    // Also for WM_INITDIALOG: the panel sets no initial keyboard focus.
    return 0;
}
