// ZCreate.exe: the Windows program with the main window.
#include <windows.h>

#include "app/win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
  return zemlo::win32::RunMainWindow(instance, show_command);
}
