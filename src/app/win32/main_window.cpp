#include "app/win32/main_window.h"

#include <commctrl.h>

#include <memory>
#include <new>
#include <string_view>

#include "app/commands.h"
#include "app/picture_commands.h"
#include "app/session.h"
#include "app/win32/file_dialogs.h"
#include "app/win32/goto_dialog.h"
#include "app/win32/resource.h"
#include "app/win32/win32_port.h"
#include "core/geometry.h"
#include "library/codec/entry_decoder.h"

namespace zemlo::win32 {
namespace {

// While the window is closing with a run in progress, it looks for the worker's end this often.
constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kCloseTimerMs = 50;

static_assert(kClientWidth == kPictureWidth && kClientHeight == kButtonBarHeight + kPictureHeight);

// The title is the one the program has always shown, byte for byte; a new version in
// project() must come with a new title, or the window would name an old version.
static_assert(std::string_view(kWindowTitle).find(std::string_view(" V" ZCREATE_VERSION " ")) !=
                  std::string_view::npos,
              "kWindowTitle does not name the version of project()");

class MainWindow {
 public:
  explicit MainWindow(HINSTANCE instance) : instance_(instance) {}

  int Run(int show_command);
  LRESULT Handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  void Create(HWND window, const CREATESTRUCTA& creation);
  void Paint(HWND window);
  void Command(int id);
  void Key(int virtual_key);
  void Close(HWND window);
  void CloseWhenWorkerEnded(HWND window);
  bool Busy() const { return session_ && session_->WorkerRunning(); }

  bool OpenProject();
  void CreateZgl();
  void IntegrityCheck();
  void ShowZglCommand();
  void SaveAsPcx();
  void Font();

  HINSTANCE instance_;
  HWND window_ = nullptr;
  Win32Port port_;
  std::unique_ptr<FileDialogs> dialogs_;
  // Exists from just after the window's creation to just after the message loop.
  std::unique_ptr<Session> session_;
  BITMAPINFO display_header_ = MakeDisplayHeader();
  bool closing_ = false;
};

// The window procedure's way back to its object: there is one main window per process.
MainWindow* g_main_window = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (g_main_window != nullptr) return g_main_window->Handle(window, message, wparam, lparam);
  return DefWindowProcA(window, message, wparam, lparam);
}

int MainWindow::Run(int show_command) {
  RegisterMainWindowClass(instance_);

  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
  window_ = CreateWindowExA(0, kWindowClass, kWindowTitle, kWindowStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                            nullptr, nullptr, instance_, nullptr);
  if (window_ == nullptr) {
    MessageBoxA(nullptr, "The main window could not be created.", kWindowClass,
                MB_OK | MB_ICONERROR);
    return 1;
  }

  // The buffers come after the window, so the status port already knows every handle when a
  // session can first report through it.
  try {
    session_ = std::make_unique<Session>(port_);
  } catch (const std::bad_alloc&) {
    MessageBoxA(window_, "Not enough memory for the working buffers.", kWindowClass,
                MB_OK | MB_ICONERROR);
    DestroyWindow(window_);
    return 1;
  }

  ShowWindow(window_, show_command);
  UpdateWindow(window_);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  // The window is gone; a worker (there should be none left, see Close) is joined here,
  // before the buffers are freed.
  session_.reset();
  return static_cast<int>(message.wParam);
}

LRESULT MainWindow::Handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      Create(window, *reinterpret_cast<const CREATESTRUCTA*>(lparam));
      return 0;
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_COMMAND:
      Command(LOWORD(wparam));
      return 0;
    case WM_KEYDOWN:
      // Every key press ends here, whatever the key.
      Key(static_cast<int>(wparam));
      return 0;
    case WM_CLOSE:
      Close(window);
      return 0;
    case WM_TIMER:
      if (wparam == kCloseTimer) {
        CloseWhenWorkerEnded(window);
        return 0;
      }
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

void MainWindow::Create(HWND window, const CREATESTRUCTA& creation) {
  window_ = window;
  port_.AttachWindow(window);
  dialogs_ = std::make_unique<FileDialogs>(window);

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS;
  InitCommonControlsEx(&controls);

  for (const ButtonSpec& spec : kButtonBar) {
    HWND button =
        CreateWindowExA(0, "BUTTON", spec.label, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, spec.x, 0,
                        spec.width, kButtonBarHeight, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(static_cast<int>(spec.id))),
                        creation.hInstance, nullptr);
    port_.AttachButton(spec.id, button);
  }
  HWND progress = CreateWindowExA(
      WS_EX_CLIENTEDGE, kProgressClass, kProgressText, WS_CHILD | WS_VISIBLE | WS_BORDER,
      kProgressX, 0, kProgressWidth, kButtonBarHeight, window,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS)), creation.hInstance, nullptr);
  port_.AttachProgressBar(progress);

  // "Font", "Save as PCX" and "Help" are offered whenever no run works; only "Stop" waits for
  // a run.
  EnableWindow(port_.button(ButtonId::kStop), FALSE);
}

void MainWindow::Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (session_) {
    WorkingState& state = session_->state();
    if (state.picture_shown.load()) {
      // One transfer of the whole picture as stored: no conversion, no copy.
      SetDIBitsToDevice(dc, 0, kButtonBarHeight, kPictureWidth, kPictureHeight, 0, 0, 0,
                        kPictureHeight, state.picture.data(), &display_header_, DIB_RGB_COLORS);
    }
    if (state.crop_lines.load()) {
      HGDIOBJ old_pen = SelectObject(dc, GetStockObject(WHITE_PEN));
      for (const LineSegment& line : DrawCropLines(state.crop_box.load())) {
        MoveToEx(dc, line.x1, line.y1, nullptr);
        LineTo(dc, line.x2, line.y2);
      }
      SelectObject(dc, old_pen);
    }
  }
  EndPaint(window, &paint);
}

void MainWindow::Command(int id) {
  if (!session_ || closing_) return;
  // While a run works only "Stop" is enabled; a click that reaches us anyway (a message sent
  // to a greyed button) must not start a second worker or touch the buffers it uses.
  if (Busy() && id != static_cast<int>(ButtonId::kStop)) return;
  switch (static_cast<ButtonId>(id)) {
    case ButtonId::kStop:
      StopRun(*session_);
      break;
    case ButtonId::kCreateZgl:
      CreateZgl();
      break;
    case ButtonId::kShowZgl:
      ShowZglCommand();
      break;
    case ButtonId::kSaveAsPcx:
      SaveAsPcx();
      break;
    case ButtonId::kHelp:
      ShowHelp(port_);
      break;
    case ButtonId::kIntegrityCheck:
      IntegrityCheck();
      break;
    case ButtonId::kFont:
      Font();
      break;
    default:
      return;
  }
  // A clicked button keeps the keyboard focus, and a greyed one loses it; give it back to
  // the window so the viewer keys reach it.
  if (!closing_) SetFocus(window_);
}

// The project's names are relative to its folder. The open dialog makes that folder current
// on Windows, but not every dialog does so for a path typed in full (Wine keeps the folder
// it browsed), so the folder is entered explicitly; the full path still opens the file.
bool MainWindow::OpenProject() {
  if (!dialogs_->Open(kLibraryFilter)) return false;
  // As the console does, the command stops when the project's folder cannot be entered:
  // the project's files would be looked for in whatever folder was current before.
  return EnterProjectFolderOrWarn(session_->state().port, dialogs_->path(), dialogs_->name());
}

void MainWindow::CreateZgl() {
  session_->state().stop_request.store(false);
  if (!OpenProject()) return;
  StartCreateZgl(*session_, dialogs_->path(), dialogs_->name());
}

void MainWindow::IntegrityCheck() {
  session_->state().stop_request.store(false);
  if (!OpenProject()) return;
  StartIntegrityCheck(*session_, dialogs_->path(), dialogs_->name());
}

void MainWindow::ShowZglCommand() {
  EnterViewerMode(*session_);
  if (!OpenProject()) return;
  ShowZgl(*session_, dialogs_->path(), dialogs_->name());
}

void MainWindow::SaveAsPcx() {
  if (!dialogs_->Save(kPcxFilter)) return;
  SavePictureAsPcx(session_->state(), dialogs_->path());
}

void MainWindow::Font() {
  session_->state().stop_request.store(false);
  if (!dialogs_->Open(kPcxFilter)) return;
  const std::optional<std::size_t> length = BuildFont(session_->state(), dialogs_->path());
  if (!length) return;
  if (!dialogs_->Save(kFontFilter)) return;  // the font is dropped
  SaveFont(session_->state(), dialogs_->path(), *length);
}

void MainWindow::Key(int virtual_key) {
  if (!session_ || closing_ || Busy()) return;
  if (virtual_key == kKeyLeft || virtual_key == kKeyRight) {
    ViewerKey(*session_, virtual_key);
  } else if (virtual_key == kKeyF1 && ViewerKeysActive(session_->state())) {
    const int chosen = ShowGotoDialog(instance_, window_, GoToDialogStart(session_->settings()));
    ViewerGoTo(*session_, chosen);
  }
}

void MainWindow::Close(HWND window) {
  if (!Busy()) {
    DestroyWindow(window);
    return;
  }
  // A run is working: ask it to stop after the icon in hand and destroy the window once it
  // has ended. Waiting here instead would deadlock, since the worker's titles, repaints and
  // message boxes need this thread to serve them.
  if (closing_) return;
  closing_ = true;
  session_->RequestStop();
  SetTimer(window, kCloseTimer, kCloseTimerMs, nullptr);
}

void MainWindow::CloseWhenWorkerEnded(HWND window) {
  if (Busy()) return;
  KillTimer(window, kCloseTimer);
  DestroyWindow(window);
}

}  // namespace

// The picture's rows of 2,400 bytes are already a multiple of four, so the buffer is a valid
// DIB as it is.
static_assert(kRowBytes % 4 == 0, "DIB rows must be DWORD aligned");

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.style = 0;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  // Each icon resource holds one size; loaded at that size, neither is scaled.
  window_class.hIcon = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDI_ZCREATE_LARGE), IMAGE_ICON, 32, 32, 0));
  window_class.hIconSm = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDI_ZCREATE_SMALL), IMAGE_ICON, 16, 16, 0));
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  window_class.lpszMenuName = nullptr;
  window_class.lpszClassName = kWindowClass;
  return RegisterClassExA(&window_class) != 0;
}

BITMAPINFO MakeDisplayHeader() {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kPictureWidth;
  info.bmiHeader.biHeight = -kPictureHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

int RunMainWindow(HINSTANCE instance, int show_command) {
  MainWindow main_window(instance);
  g_main_window = &main_window;
  const int code = main_window.Run(show_command);
  g_main_window = nullptr;
  return code;
}

}  // namespace zemlo::win32
