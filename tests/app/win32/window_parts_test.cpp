// The window's parts on their own: the display header, the file dialog record and the status
// port on real windows, with the port's calls made from a worker thread as runs make them.
// Needs a display (gui_test.sh runs it on its virtual one).
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/win32/file_dialogs.h"
#include "app/win32/main_window.h"
#include "app/win32/resource.h"
#include "app/win32/win32_port.h"

namespace zemlo::win32 {
namespace {

TEST(DisplayHeader, DescribesTheStoredPictureTopDown) {
  const BITMAPINFO info = MakeDisplayHeader();
  const BITMAPINFOHEADER& h = info.bmiHeader;
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 800);
  EXPECT_EQ(h.biHeight, -600);  // first row at the top, as the picture is stored
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(h.biSizeImage, 0u);
  EXPECT_EQ(h.biXPelsPerMeter, 0);
  EXPECT_EQ(h.biYPelsPerMeter, 0);
  EXPECT_EQ(h.biClrUsed, 0u);
  EXPECT_EQ(h.biClrImportant, 0u);
}

// Width and height of an icon's colour (or mask) bitmap.
SIZE IconSize(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return {0, 0};
  BITMAP bitmap{};
  GetObjectA(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return {bitmap.bmWidth, bitmap.bmHeight};
}

// This test program carries the executable's resources.
TEST(WindowClass, RegisteredWithItsIconsArrowAndBlackBrush) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  ASSERT_TRUE(RegisterMainWindowClass(instance));
  WNDCLASSEXA c{};
  c.cbSize = sizeof c;
  ASSERT_TRUE(GetClassInfoExA(instance, "ZCreate", &c));
  EXPECT_EQ(c.style, 0u);
  EXPECT_EQ(c.cbClsExtra, 0);
  EXPECT_EQ(c.cbWndExtra, 0);
  EXPECT_EQ(c.hbrBackground, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  EXPECT_EQ(c.hCursor, LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(c.lpszMenuName, nullptr);
  ASSERT_NE(c.hIcon, nullptr);
  ASSERT_NE(c.hIconSm, nullptr);
  EXPECT_EQ(IconSize(c.hIcon).cx, 32);
  EXPECT_EQ(IconSize(c.hIcon).cy, 32);
  EXPECT_EQ(IconSize(c.hIconSm).cx, 16);
  EXPECT_EQ(IconSize(c.hIconSm).cy, 16);
  UnregisterClassA("ZCreate", instance);
}

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST(Resources, GoToDialogPairsTheNumberFieldWithItsUpDown) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);
  EXPECT_NE(FindResourceA(instance, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16)), nullptr)
      << "no version record";
  HWND dialog =
      CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_GOTO_ICON), nullptr, QuietDialog, 0);
  ASSERT_NE(dialog, nullptr);
  HWND spin = GetDlgItem(dialog, 102);
  HWND number = GetDlgItem(dialog, IDC_GOTO_NUMBER);
  ASSERT_NE(spin, nullptr);
  ASSERT_NE(number, nullptr);
  ASSERT_NE(GetDlgItem(dialog, IDOK), nullptr);
  EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(spin, UDM_GETBUDDY, 0, 0)), number);
  EXPECT_TRUE(GetWindowLongA(spin, GWL_STYLE) & UDS_SETBUDDYINT);
  // The field follows the control's position, also at the top of the range.
  SendMessageA(spin, UDM_SETRANGE32, 0, 20000);
  SendMessageA(spin, UDM_SETPOS32, 0, 20000);
  char text[16] = {};
  GetWindowTextA(number, text, sizeof text);
  EXPECT_STREQ(text, "20000");
  DestroyWindow(dialog);
}

// The pairs of a filter list up to the empty entry that closes it.
std::vector<std::string> FilterPairs(const char* list) {
  std::vector<std::string> parts;
  for (const char* p = list; *p != '\0'; p += std::strlen(p) + 1) parts.emplace_back(p);
  return parts;
}

TEST(FileDialogs, RecordIsFilledAfreshForEveryDialog) {
  const HWND owner = reinterpret_cast<HWND>(0x1234);
  FileDialogs dialogs(owner);

  dialogs.Prepare(kLibraryFilter, kOpenFlags);
  const OPENFILENAMEA& r = dialogs.record();
  // The older layout's size as the headers give it: 76 bytes in a 32-bit program.
  EXPECT_EQ(r.lStructSize, static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A));
  if (sizeof(void*) == 4) {
    EXPECT_EQ(r.lStructSize, 76u);
  }
  EXPECT_EQ(r.hwndOwner, owner);
  EXPECT_EQ(r.hInstance, nullptr);
  EXPECT_EQ(r.lpstrCustomFilter, nullptr);
  EXPECT_EQ(r.nFilterIndex, 0u);
  EXPECT_EQ(r.lpstrFile, dialogs.path());
  EXPECT_EQ(r.lpstrFileTitle, dialogs.name());
  EXPECT_EQ(r.nMaxFile, 256u);
  EXPECT_EQ(r.nMaxFileTitle, 256u);
  EXPECT_EQ(r.lpstrInitialDir, nullptr);
  EXPECT_EQ(r.lpstrTitle, nullptr);
  EXPECT_EQ(r.Flags, static_cast<DWORD>(OFN_CREATEPROMPT | OFN_HIDEREADONLY));
  EXPECT_EQ(r.nFileOffset, 0);
  EXPECT_EQ(r.nFileExtension, 0);
  EXPECT_STREQ(r.lpstrDefExt, "dat");
  EXPECT_EQ(r.lCustData, 0);
  EXPECT_EQ(r.lpfnHook, nullptr);
  EXPECT_EQ(r.lpTemplateName, nullptr);
  EXPECT_EQ(FilterPairs(r.lpstrFilter),
            (std::vector<std::string>{"ZEMLO Graphics Library (*.ZGL)", "*.zgl", "All Files (*.*)",
                                      "*.*"}));

  dialogs.Prepare(kPcxFilter, kSaveFlags);
  EXPECT_EQ(r.Flags, static_cast<DWORD>(OFN_OVERWRITEPROMPT));
  EXPECT_EQ(FilterPairs(r.lpstrFilter),
            (std::vector<std::string>{"PC Paintbrush (*.PCX)", "*.pcx"}));
  dialogs.Prepare(kFontFilter, kSaveFlags);
  EXPECT_EQ(FilterPairs(r.lpstrFilter), (std::vector<std::string>{"ZEMLO Font (*.FNT)", "*.fnt"}));
}

TEST(FileDialogs, ChosenPathSurvivesTheNextDialogSetUp) {
  FileDialogs dialogs(nullptr);
  dialogs.Prepare(kLibraryFilter, kOpenFlags);
  // What a dialog leaves in the buffers, as the platform would write it.
  std::strcpy(dialogs.record().lpstrFile, "C:\\libs\\demo.zgl");
  std::strcpy(dialogs.record().lpstrFileTitle, "demo.zgl");
  dialogs.Prepare(kPcxFilter, kSaveFlags);
  EXPECT_STREQ(dialogs.path(), "C:\\libs\\demo.zgl");
  EXPECT_STREQ(dialogs.name(), "demo.zgl");
}

// A top-level window with the seven buttons and the progress bar, hidden, counting its paints.
class PortWindows : public ::testing::Test {
 protected:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_PAINT) {
      ++paints_;
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
      return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
  }

  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = Proc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "ZCreatePortTest";
    RegisterClassA(&window_class);
    main_ = CreateWindowExA(0, "ZCreatePortTest", "start", WS_OVERLAPPEDWINDOW, 0, 0, 808, 646,
                            nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(main_, nullptr);
    // Hidden windows get no paint messages.
    ShowWindow(main_, SW_SHOWNOACTIVATE);
    UpdateWindow(main_);
    port_.AttachWindow(main_);
    for (const ButtonSpec& spec : kButtonBar) {
      HWND button = CreateWindowExA(0, "BUTTON", spec.label, WS_CHILD | WS_VISIBLE, spec.x, 0,
                                    spec.width, 20, main_, nullptr, nullptr, nullptr);
      port_.AttachButton(spec.id, button);
    }
    port_.AttachProgressBar(CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 500, 0,
                                            300, 20, main_, nullptr, nullptr, nullptr));
    paints_ = 0;
  }
  void TearDown() override { DestroyWindow(main_); }

  bool Enabled(ButtonId id) { return IsWindowEnabled(port_.button(id)) != FALSE; }

  // Runs `work` on a worker thread while this thread serves messages, as the window does.
  template <typename Work>
  void OnWorker(Work work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      work();
      done = true;
    });
    while (!done) {
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
      Sleep(1);
    }
    worker.join();
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }

  static inline int paints_ = 0;
  HWND main_ = nullptr;
  Win32Port port_;
};

TEST_F(PortWindows, WhileARunWorksOnlyStopIsOffered) {
  const ButtonId others[] = {ButtonId::kCreateZgl, ButtonId::kShowZgl,        ButtonId::kFont,
                             ButtonId::kSaveAsPcx, ButtonId::kIntegrityCheck, ButtonId::kHelp};
  port_.RunStarted();
  EXPECT_TRUE(Enabled(ButtonId::kStop));
  for (const ButtonId id : others) EXPECT_FALSE(Enabled(id)) << static_cast<int>(id);

  port_.RunEnded();
  EXPECT_FALSE(Enabled(ButtonId::kStop));
  for (const ButtonId id : others) EXPECT_TRUE(Enabled(id)) << static_cast<int>(id);
}

TEST_F(PortWindows, WorkerReachesTitleButtonsProgressAndPainting) {
  // A view into a longer text: only its own characters may become the title.
  const std::string_view longer = "ZCreate - a.pcx (X-masked) - 1234xyz";
  OnWorker([&] {
    port_.SetTitle(longer.substr(0, longer.size() - 3));
    port_.RunStarted();
    port_.SetProgress(57);
    port_.Repaint(false);
  });
  char title[64];
  GetWindowTextA(main_, title, sizeof title);
  EXPECT_STREQ(title, "ZCreate - a.pcx (X-masked) - 1234");
  EXPECT_FALSE(Enabled(ButtonId::kShowZgl));
  EXPECT_EQ(SendMessageA(port_.progress_bar(), PBM_GETPOS, 0, 0), 57);
  EXPECT_GE(paints_, 1);
}

}  // namespace
}  // namespace zemlo::win32
