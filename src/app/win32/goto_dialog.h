// The viewer's go-to-icon dialog (F1).
#pragma once

#include <windows.h>

namespace zemlo::win32 {

inline constexpr int kGotoMinimum = 0;
inline constexpr int kGotoMaximum = 20000;

// Shows the modal dialog starting at `start` and returns the number the user confirmed with
// OK (0 to 20000); the dialog ends through OK only.
int ShowGotoDialog(HINSTANCE instance, HWND owner, int start);

}  // namespace zemlo::win32
