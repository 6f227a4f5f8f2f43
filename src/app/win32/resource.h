// Resource and control ids of ZCreate.exe, shared by the resource script and the code.
#pragma once

// Window class icons: the large one (32 x 32) and the small one (16 x 16).
#define IDI_ZCREATE_LARGE 1
#define IDI_ZCREATE_SMALL 2

// The go-to-icon dialog; OK is the platform's IDOK (1).
#define IDD_GOTO_ICON 2
#define IDC_GOTO_NUMBER 101
#define IDC_GOTO_SPIN 102

// The progress bar's control id; the buttons use the ids of zemlo::win32::ButtonId.
#define IDC_PROGRESS 1
