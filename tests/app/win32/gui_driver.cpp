// Drives a running ZCreate.exe from outside, as a user would: finds the main window and its
// children, clicks buttons, fills in the file dialogs, reads and confirms message boxes and
// presses keys. gui_test.sh runs it with a list of steps:
//
//   gui_driver.exe STEP [ARGS...] [STEP [ARGS...]]...
//
// Each step waits (up to its timeout) for what it needs and fails with a message and exit
// code 1 when it does not come; the first failing step ends the program.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultTimeoutMs = 30000;
constexpr DWORD kPollMs = 50;

// Control ids of the platform's file dialogs: the file name combo box of the explorer-style
// dialog and the file name edit of the older one.
constexpr int kFileNameCombo = 0x47c;
constexpr int kFileNameEdit = 0x480;
// The text of a message box sits in a static control with this id.
constexpr int kMessageTextId = 0xffff;
constexpr int kGotoNumberId = 101;
constexpr int kGotoSpinId = 102;

[[noreturn]] void Fail(const std::string& what) {
  std::printf("FAIL: %s\n", what.c_str());
  std::fflush(stdout);
  std::exit(1);
}

void Note(const std::string& what) {
  std::printf("%s\n", what.c_str());
  std::fflush(stdout);
}

std::string ClassOf(HWND window) {
  char name[128] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string TextOf(HWND window) {
  // For another process's window this reads the stored text without sending a message, so a
  // busy ZCreate cannot hang the driver.
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// An edit control keeps its text itself, out of reach of GetWindowTextA from another process;
// it has to be asked.
std::string EditTextOf(HWND edit) {
  char text[256] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 5000, &result);
  return text;
}

template <typename Predicate>
bool WaitFor(Predicate done, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(kPollMs);
  }
}

HWND MainWindow(bool required = true) {
  HWND window = FindWindowA("ZCreate", nullptr);
  if (window == nullptr && required) Fail("no ZCreate window");
  return window;
}

struct ChildSearch {
  std::string text;
  int id;
  HWND found;
};

BOOL CALLBACK FindChildProc(HWND child, LPARAM lparam) {
  auto* search = reinterpret_cast<ChildSearch*>(lparam);
  const bool id_matches = search->id < 0 || GetDlgCtrlID(child) == search->id;
  const bool text_matches = search->text.empty() || TextOf(child) == search->text;
  if (id_matches && text_matches) {
    search->found = child;
    return FALSE;
  }
  return TRUE;
}

// The child of `parent` with this exact text (any id when id < 0).
HWND FindChild(HWND parent, const std::string& text, int id = -1) {
  ChildSearch search{text, id, nullptr};
  EnumChildWindows(parent, FindChildProc, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND Button(const std::string& label) {
  HWND button = FindChild(MainWindow(), label);
  if (button == nullptr) Fail("no button \"" + label + "\"");
  return button;
}

// A dialog of ZCreate's (class #32770, visible) that has a child with `id`.
struct DialogSearch {
  int id;
  HWND found;
};

BOOL CALLBACK FindDialogProc(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<DialogSearch*>(lparam);
  if (ClassOf(window) == "#32770" && IsWindowVisible(window) &&
      GetDlgItem(window, search->id) != nullptr) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindDialogWith(int id) {
  DialogSearch search{id, nullptr};
  EnumWindows(FindDialogProc, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A dialog can be visible before its initialisation has finished; once its modal loop
// answers a message, it has.
void Settle(HWND dialog) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
}

HWND WaitDialogWith(int id, const char* what, DWORD timeout_ms) {
  HWND dialog = nullptr;
  if (!WaitFor([&] { return (dialog = FindDialogWith(id)) != nullptr; }, timeout_ms)) {
    Fail(std::string("no ") + what + " appeared");
  }
  Settle(dialog);
  return dialog;
}

void PressDialogButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (button == nullptr) Fail("dialog has no button " + std::to_string(id));
  PostMessageA(button, BM_CLICK, 0, 0);
}

// Destroyed, not merely hidden: a dialog hides itself before its owner's code goes on.
bool WaitGone(HWND window, DWORD timeout_ms) {
  return WaitFor([&] { return !IsWindow(window); }, timeout_ms);
}

int ProgressPosition() {
  HWND progress = FindChild(MainWindow(), "", 1);
  if (progress == nullptr || ClassOf(progress) != "msctls_progress32") Fail("no progress bar");
  DWORD_PTR position = 0;
  SendMessageTimeoutA(progress, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &position);
  return static_cast<int>(position);
}

// ---- The steps ----------------------------------------------------------------------------

struct ExpectedChild {
  const char* text;
  int id;
  int x;
  int width;
  bool enabled_at_start;
};

// The bar as the window must show it right after start-up. "Font", "Save as PCX" and "Help"
// are offered while no run works.
constexpr ExpectedChild kStartUpBar[] = {
    {"Create ZGL", 3, 0, 75, true},
    {"Show ZGL", 4, 75, 75, true},
    {"Font", 8, 150, 50, true},
    {"Save as PCX", 5, 200, 100, true},
    {"Integrity check", 7, 300, 100, true},
    {"Help", 6, 400, 50, true},
    {"Stop", 2, 450, 50, false},
};

void CheckStartUp() {
  HWND main = MainWindow();
  // The window is sized for an 800 x 620 client area (button bar and picture) with the
  // platform's frame: 808 x 646 with the classic one; Wine's caption is a pixel taller.
  RECT rect;
  GetWindowRect(main, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  RECT client;
  GetClientRect(main, &client);
  RECT frame{0, 0, 800, 620};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
  if (client.right != 800 || client.bottom != 620 || width != frame.right - frame.left ||
      height != frame.bottom - frame.top) {
    Fail("window is " + std::to_string(width) + " x " + std::to_string(height) + ", client " +
         std::to_string(client.right) + " x " + std::to_string(client.bottom));
  }
  // Wine answers class queries about another process's window only for a few values; the
  // rest of the class is checked by window_parts_tests.
  if (GetClassLongPtrA(main, GCL_STYLE) != 0) Fail("window class has a style");
  if ((GetWindowLongA(main, GWL_STYLE) & WS_OVERLAPPEDWINDOW) != WS_OVERLAPPEDWINDOW ||
      GetWindowLongA(main, GWL_EXSTYLE) & ~(WS_EX_WINDOWEDGE)) {
    Fail("main window is not a plain overlapped window");
  }
  char title[256];
  GetWindowTextA(main, title, sizeof title);
  if (std::strcmp(title, "ZEMLO Creator V1.02 for customer release") != 0) {
    Fail(std::string("start-up title is \"") + title + "\"");
  }
  POINT origin{0, 0};
  ClientToScreen(main, &origin);
  for (const ExpectedChild& child : kStartUpBar) {
    HWND button = FindChild(main, child.text);
    if (button == nullptr) Fail(std::string("missing button ") + child.text);
    if (GetDlgCtrlID(button) != child.id) Fail(std::string("wrong id of ") + child.text);
    if (ClassOf(button) != "Button") Fail(std::string(child.text) + " is a " + ClassOf(button));
    RECT r;
    GetWindowRect(button, &r);
    if (r.left - origin.x != child.x || r.top - origin.y != 0 || r.right - r.left != child.width ||
        r.bottom - r.top != 20) {
      Fail(std::string("button ") + child.text + " at " + std::to_string(r.left - origin.x) + "," +
           std::to_string(r.top - origin.y) + " size " + std::to_string(r.right - r.left) + "x" +
           std::to_string(r.bottom - r.top));
    }
    if ((IsWindowEnabled(button) != FALSE) != child.enabled_at_start) {
      Fail(std::string("button ") + child.text + " enabled state is wrong at start-up");
    }
  }
  HWND progress = FindChild(main, "Progress Indicator", 1);
  if (progress == nullptr || ClassOf(progress) != "msctls_progress32") Fail("no progress bar");
  RECT r;
  GetWindowRect(progress, &r);
  if (r.left - origin.x != 500 || r.top - origin.y != 0 || r.right - r.left != 300 ||
      r.bottom - r.top != 20) {
    Fail("progress bar misplaced");
  }
  const LONG style = GetWindowLongA(progress, GWL_STYLE);
  // The progress bar replaces the sunken client edge it is created with by an edge style of
  // its own (none when themed), so only the border can be checked from outside.
  if (!(style & WS_BORDER)) Fail("progress bar has no border");
  if (ProgressPosition() != 0) Fail("progress is not 0 at start-up");
  Note("start-up ok: window " + std::to_string(width) + " x " + std::to_string(height) +
       ", client 800 x 620, seven buttons and the progress bar in place");
}

// "on"/"off" for each named button, e.g. expect-buttons "Stop=on,Create ZGL=off".
void ExpectButtons(const std::string& spec, DWORD timeout_ms) {
  std::vector<std::pair<std::string, bool>> wanted;
  std::size_t start = 0;
  while (start < spec.size()) {
    std::size_t end = spec.find(',', start);
    if (end == std::string::npos) end = spec.size();
    const std::string item = spec.substr(start, end - start);
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos) Fail("bad button spec " + item);
    wanted.emplace_back(item.substr(0, eq), item.substr(eq + 1) == "on");
    start = end + 1;
  }
  std::string last;
  const bool ok = WaitFor(
      [&] {
        for (const auto& [label, on] : wanted) {
          if ((IsWindowEnabled(Button(label)) != FALSE) != on) {
            last = label + (on ? " is not enabled" : " is not disabled");
            return false;
          }
        }
        return true;
      },
      timeout_ms);
  if (!ok) Fail("buttons: " + last);
  Note("buttons ok: " + spec);
}

void Click(const std::string& label) {
  HWND button = Button(label);
  if (!IsWindowEnabled(button)) Fail("button " + label + " is disabled");
  PostMessageA(button, BM_CLICK, 0, 0);
  Note("clicked " + label);
}

// Clicks even a greyed button by sending its command straight to the window, as a stray
// message would: the window must ignore it.
void ForceCommand(int id) {
  PostMessageA(MainWindow(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  Note("posted command " + std::to_string(id));
}

HWND WaitFileDialog(DWORD timeout_ms) {
  HWND dialog = nullptr;
  const bool found = WaitFor(
      [&] {
        dialog = FindDialogWith(kFileNameCombo);
        if (dialog == nullptr) dialog = FindDialogWith(kFileNameEdit);
        return dialog != nullptr;
      },
      timeout_ms);
  if (!found) Fail("no file dialog appeared");
  Settle(dialog);
  return dialog;
}

// Types `path` as the file name and presses the dialog's OK (Open or Save) button.
void OpenFile(const std::string& path, DWORD timeout_ms) {
  HWND dialog = WaitFileDialog(timeout_ms);
  // The combo box passes its text to its edit field.
  HWND field = GetDlgItem(dialog, kFileNameCombo);
  if (field == nullptr) field = GetDlgItem(dialog, kFileNameEdit);
  SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PressDialogButton(dialog, IDOK);
  if (!WaitGone(dialog, timeout_ms)) Fail("file dialog did not close for " + path);
  Note("file dialog: " + path);
}

void CancelFile(DWORD timeout_ms) {
  HWND dialog = WaitFileDialog(timeout_ms);
  PressDialogButton(dialog, IDCANCEL);
  if (!WaitGone(dialog, timeout_ms)) Fail("file dialog did not close");
  Note("file dialog cancelled");
}

// Waits for a message box, checks that its text contains `expected` (when not empty), prints
// it and presses OK.
void Message(const std::string& expected, DWORD timeout_ms) {
  HWND box = WaitDialogWith(kMessageTextId, "message box", timeout_ms);
  const std::string caption = TextOf(box);
  const std::string text = TextOf(GetDlgItem(box, kMessageTextId));
  Note("message [" + caption + "]: " + text);
  if (!expected.empty() && text.find(expected) == std::string::npos) {
    Fail("message box text lacks \"" + expected + "\"");
  }
  PressDialogButton(box, IDOK);
  if (!WaitGone(box, timeout_ms)) Fail("message box did not close");
}

void NoMessage(DWORD wait_ms) {
  Sleep(wait_ms);
  if (HWND box = FindDialogWith(kMessageTextId)) {
    Fail("unexpected message box: " + TextOf(GetDlgItem(box, kMessageTextId)));
  }
  Note("no message box");
}

void WaitTitle(const std::string& part, DWORD timeout_ms) {
  std::string title;
  const bool ok = WaitFor(
      [&] {
        title = TextOf(MainWindow());
        return title.find(part) != std::string::npos;
      },
      timeout_ms);
  if (!ok) Fail("title \"" + title + "\" lacks \"" + part + "\"");
  Note("title: " + title);
}

void ExpectProgress(int expected, DWORD timeout_ms) {
  int position = -1;
  if (!WaitFor([&] { return (position = ProgressPosition()) == expected; }, timeout_ms)) {
    Fail("progress is " + std::to_string(position) + ", not " + std::to_string(expected));
  }
  Note("progress " + std::to_string(position));
}

void Key(int virtual_key) {
  PostMessageA(MainWindow(), WM_KEYDOWN, static_cast<WPARAM>(virtual_key), 1);
  PostMessageA(MainWindow(), WM_KEYUP, static_cast<WPARAM>(virtual_key), 0xC0000001);
  Note("key " + std::to_string(virtual_key));
}

// Answers the go-to-icon dialog: checks the number it starts with, types `number`, presses OK.
void GoTo(int expected_start, const std::string& number, DWORD timeout_ms) {
  HWND dialog = WaitDialogWith(kGotoSpinId, "go-to-icon dialog", timeout_ms);
  HWND spin = GetDlgItem(dialog, kGotoSpinId);
  DWORD_PTR range = 0;
  SendMessageTimeoutA(spin, UDM_GETRANGE, 0, 0, SMTO_ABORTIFHUNG, 5000, &range);
  // UDM_GETRANGE: maximum in the low word, minimum in the high word.
  if (LOWORD(range) != 20000 || HIWORD(range) != 0) Fail("go-to range is not 0..20000");
  const std::string shown = EditTextOf(GetDlgItem(dialog, kGotoNumberId));
  if (shown != std::to_string(expected_start)) {
    Fail("go-to dialog starts at \"" + shown + "\", not " + std::to_string(expected_start));
  }
  SendMessageA(GetDlgItem(dialog, kGotoNumberId), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(number.c_str()));
  PressDialogButton(dialog, IDOK);
  if (!WaitGone(dialog, timeout_ms)) Fail("go-to dialog did not close");
  Note("go to " + number + " (dialog started at " + shown + ")");
}

// Waits until the title ends with `suffix` (the icon number the viewer shows, for instance).
void WaitTitleEnd(const std::string& suffix, DWORD timeout_ms) {
  std::string title;
  const bool ok = WaitFor(
      [&] {
        title = TextOf(MainWindow());
        return title.size() >= suffix.size() &&
               title.compare(title.size() - suffix.size(), suffix.size(), suffix) == 0;
      },
      timeout_ms);
  if (!ok) Fail("title \"" + title + "\" does not end with \"" + suffix + "\"");
  Note("title: " + title);
}

// The title as it was at "remember-title", for "wait-title-changed".
std::string g_remembered_title;

void WaitTitleChanged(DWORD timeout_ms) {
  std::string title;
  const bool ok =
      WaitFor([&] { return (title = TextOf(MainWindow())) != g_remembered_title; }, timeout_ms);
  if (!ok) Fail("title stayed \"" + title + "\"");
  Note("title changed: " + title);
}

// Waits until the window's thread serves messages again (after "Show ZGL", which works on it).
void WaitResponsive(DWORD timeout_ms, bool note = true) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(MainWindow(), WM_NULL, 0, 0, SMTO_NORMAL, timeout_ms, &result)) {
    Fail("window did not respond");
  }
  if (note) Note("window responsive");
}

// Confirms every message box until "Create ZGL" is enabled again (a worker has ended), then
// prints how many boxes there were. Lines "message [...]: text" list them.
void ConfirmUntilIdle(DWORD timeout_ms) {
  // Once the window's thread answers, the command that starts the run has returned, so the
  // buttons already show the run (or its end, when it was quick).
  WaitResponsive(timeout_ms, false);
  int boxes = 0;
  const bool ok = WaitFor(
      [&] {
        if (HWND box = FindDialogWith(kMessageTextId)) {
          Note("message [" + TextOf(box) + "]: " + TextOf(GetDlgItem(box, kMessageTextId)));
          PressDialogButton(box, IDOK);
          WaitGone(box, 10000);
          // A box of the window's own thread may be followed by the run's start.
          WaitResponsive(10000, false);
          ++boxes;
          return false;
        }
        return IsWindowEnabled(Button("Create ZGL")) != FALSE;
      },
      timeout_ms);
  if (!ok) Fail("the run did not end");
  std::printf("boxes %d\n", boxes);
  std::fflush(stdout);
}

void NoFileDialog(DWORD wait_ms) {
  Sleep(wait_ms);
  if (FindDialogWith(kFileNameCombo) != nullptr || FindDialogWith(kFileNameEdit) != nullptr) {
    Fail("a file dialog opened");
  }
  Note("no file dialog");
}

// Prints where the client area's top-left corner is on the screen, for the screenshot check.
void ClientOrigin() {
  POINT origin{0, 0};
  ClientToScreen(MainWindow(), &origin);
  std::printf("client-origin %ld %ld\n", origin.x, origin.y);
  std::fflush(stdout);
}

void Close(DWORD timeout_ms) {
  HWND main = MainWindow();
  PostMessageA(main, WM_CLOSE, 0, 0);
  if (!WaitFor([&] { return !IsWindow(main); }, timeout_ms)) Fail("window did not close");
  Note("window closed");
}

void WaitWindow(DWORD timeout_ms) {
  if (!WaitFor([] { return MainWindow(false) != nullptr; }, timeout_ms)) {
    Fail("ZCreate window did not appear");
  }
  // Let the window finish its start-up (buffers, first paint) before steps act on it.
  WaitFor([] { return IsWindowVisible(MainWindow()) != FALSE; }, timeout_ms);
  Note("window up");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::size_t i = 0;
  auto next = [&](const char* what) -> std::string {
    if (i >= args.size()) Fail(std::string("missing argument: ") + what);
    return args[i++];
  };
  // "timeout MS" sets the wait of the steps that follow.
  DWORD timeout = kDefaultTimeoutMs;
  while (i < args.size()) {
    const std::string step = args[i++];
    if (step == "timeout") {
      timeout = static_cast<DWORD>(std::stoul(next("ms")));
    } else if (step == "wait-window") {
      WaitWindow(timeout);
    } else if (step == "check-startup") {
      CheckStartUp();
    } else if (step == "expect-buttons") {
      ExpectButtons(next("buttons"), timeout);
    } else if (step == "click") {
      Click(next("label"));
    } else if (step == "force-command") {
      ForceCommand(std::stoi(next("id")));
    } else if (step == "open-file") {
      OpenFile(next("path"), timeout);
    } else if (step == "cancel-file") {
      CancelFile(timeout);
    } else if (step == "message") {
      Message(next("text"), timeout);
    } else if (step == "no-message") {
      NoMessage(static_cast<DWORD>(std::stoul(next("ms"))));
    } else if (step == "wait-title") {
      WaitTitle(next("title part"), timeout);
    } else if (step == "expect-progress") {
      ExpectProgress(std::stoi(next("position")), timeout);
    } else if (step == "print-progress") {
      std::printf("progress %d\n", ProgressPosition());
      std::fflush(stdout);
    } else if (step == "key") {
      Key(std::stoi(next("virtual key")));
    } else if (step == "goto") {
      const int start = std::stoi(next("start"));
      GoTo(start, next("number"), timeout);
    } else if (step == "wait-title-end") {
      WaitTitleEnd(next("title end"), timeout);
    } else if (step == "remember-title") {
      g_remembered_title = TextOf(MainWindow());
    } else if (step == "wait-title-changed") {
      WaitTitleChanged(timeout);
    } else if (step == "wait-responsive") {
      WaitResponsive(timeout);
    } else if (step == "confirm-until-idle") {
      ConfirmUntilIdle(timeout);
    } else if (step == "no-file-dialog") {
      NoFileDialog(static_cast<DWORD>(std::stoul(next("ms"))));
    } else if (step == "client-origin") {
      ClientOrigin();
    } else if (step == "sleep") {
      Sleep(static_cast<DWORD>(std::stoul(next("ms"))));
    } else if (step == "close") {
      Close(timeout);
    } else {
      Fail("unknown step " + step);
    }
  }
  return 0;
}
