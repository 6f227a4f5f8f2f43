// The status port of the real window: titles, message boxes, repaints, button states and the
// progress bar. Worker threads call it as well; every call is one user32 call that the
// platform hands to the window's thread, so no state here is shared beyond the handles, which
// are set once while the window is created and never change afterwards.
#pragma once

#include <windows.h>

#include <array>
#include <string_view>

#include "core/status_port.h"

namespace zemlo::win32 {

// Control ids of the button bar; the command handler dispatches on them.
enum class ButtonId : int {
  kStop = 2,
  kCreateZgl = 3,
  kShowZgl = 4,
  kSaveAsPcx = 5,
  kHelp = 6,
  kIntegrityCheck = 7,
  kFont = 8,
};

class Win32Port : public StatusPort {
 public:
  // Called from the window's creation handler, before any worker can exist.
  void AttachWindow(HWND main_window) { main_window_ = main_window; }
  void AttachButton(ButtonId id, HWND button);
  void AttachProgressBar(HWND progress_bar) { progress_bar_ = progress_bar; }

  void SetTitle(std::string_view text) override;
  int ShowMessage(Owner owner, std::string_view caption, std::string_view text,
                  MessageIcon icon) override;
  void Repaint(bool erase) override;
  void RunStarted() override;
  void RunEnded() override;
  void SetProgress(int position) override;

  HWND button(ButtonId id) const;
  HWND progress_bar() const { return progress_bar_; }

 private:
  void SetRunButtons(bool running);

  HWND main_window_ = nullptr;
  HWND progress_bar_ = nullptr;
  // Indexed by control id (2 to 8).
  std::array<HWND, 9> buttons_{};
};

}  // namespace zemlo::win32
