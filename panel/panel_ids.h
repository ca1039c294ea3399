// Resource and control ids of the control panel, shared by the dialog template and the code.
#pragma once

#define IDD_PANEL 101

#define IDC_START 1000
#define IDC_STOP 1001
#define IDC_GUEST_CLASS 1002
#define IDC_INTERVAL 1004
#define IDC_TITLE_TEMPLATE 1005
