// The control panel: Quorvel's only window, a modal dialog that edits the settings and starts
// and stops refreshing.
#pragma once

#include "panel/panel_ids.h"
#include "platform/platform.h"

extern HWND PanelWindow;

INT_PTR CALLBACK PanelProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void SetSettingsEnabled(BOOL enabled);
// Formats printf-style into a 256-byte buffer and shows it in an ownerless error box.
void ShowError(const char* format, ...);
