// The panel's dialog template (panel/panel.rc) as the window manager builds it, for the simulated
// window manager: the tests, not the platform layer, know the panel.
#pragma once

#include "panel/panel_ids.h"
#include "platform/sim_control.h"

inline void DefinePanelTemplate() {
    Sim::DefineDialog(IDD_PANEL, {
                                     {IDC_START, "Button", "Start"},
                                     {IDC_STOP, "Button", "Stop"},
                                     {IDC_GUEST_CLASS, "Edit", ""},
                                     {-1, "Static", "Guest window class name"},
                                     {-1, "Static", "Refresh interval (ms)"},
                                     {IDC_INTERVAL, "ComboBox", ""},
                                     {-1, "Static", "VMWare window name template"},
                                     {IDC_TITLE_TEMPLATE, "Edit", ""},
                                 });
}
