// ZCreate.exe's one top-level window: the button bar, the progress bar, painting of the
// working picture, the commands behind the buttons and the viewer keys.
#pragma once

#include <windows.h>

#include "app/win32/win32_port.h"
#include "core/status_port.h"

namespace zemlo::win32 {

inline constexpr char kWindowClass[] = "ZCreate";
inline constexpr char kWindowTitle[] = "ZEMLO Creator V1.02 for customer release";
// The client area holds the 20-pixel button bar and the 800 x 600 picture below it. The
// window is sized for that client area with the platform's own frame: 808 x 646 with the
// classic frame (4-pixel borders, 18-pixel caption); thicker frames would otherwise cut off
// the picture's right columns and bottom rows.
inline constexpr int kClientWidth = 800;
inline constexpr int kClientHeight = 620;
inline constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW;

struct ButtonSpec {
  const char* label;
  ButtonId id;
  int x;
  int width;
};

inline constexpr ButtonSpec kButtonBar[] = {
    {"Create ZGL", ButtonId::kCreateZgl, 0, 75},
    {"Show ZGL", ButtonId::kShowZgl, 75, 75},
    {"Font", ButtonId::kFont, 150, 50},
    {"Save as PCX", ButtonId::kSaveAsPcx, 200, 100},
    {"Integrity check", ButtonId::kIntegrityCheck, 300, 100},
    {"Help", ButtonId::kHelp, 400, 50},
    {"Stop", ButtonId::kStop, 450, 50},
};

inline constexpr char kProgressClass[] = "msctls_progress32";
inline constexpr char kProgressText[] = "Progress Indicator";
inline constexpr int kProgressX = 500;
inline constexpr int kProgressWidth = 300;

// Describes the working picture to the painter: 800 x 600, 24 bits, first row at the top
// (negative height), direct colours, no colour table.
BITMAPINFO MakeDisplayHeader();

// Registers the window class "ZCreate": no class style, icons 1 (32 x 32) and 2 (16 x 16) of
// the executable's resources, the arrow cursor, the black stock brush, no menu.
bool RegisterMainWindowClass(HINSTANCE instance);

// Registers the class, creates the window and its buffers, runs the message loop and
// returns the quit code.
int RunMainWindow(HINSTANCE instance, int show_command);

}  // namespace zemlo::win32
