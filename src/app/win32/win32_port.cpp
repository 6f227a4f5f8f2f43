#include "app/win32/win32_port.h"

#include <commctrl.h>

#include <string>

namespace zemlo::win32 {
namespace {

std::size_t Slot(ButtonId id) { return static_cast<std::size_t>(id); }

}  // namespace

void Win32Port::AttachButton(ButtonId id, HWND button) {
  if (Slot(id) < buttons_.size()) buttons_[Slot(id)] = button;
}

HWND Win32Port::button(ButtonId id) const {
  return Slot(id) < buttons_.size() ? buttons_[Slot(id)] : nullptr;
}

void Win32Port::SetTitle(std::string_view text) {
  // The platform wants a zero-terminated text; titles are short, a copy costs nothing.
  const std::string title(text);
  SetWindowTextA(main_window_, title.c_str());
}

int Win32Port::ShowMessage(Owner owner, std::string_view caption, std::string_view text,
                           MessageIcon icon) {
  const std::string caption_text(caption);
  const std::string message(text);
  const UINT style =
      MB_OK | (icon == MessageIcon::kInformation ? MB_ICONINFORMATION : MB_ICONEXCLAMATION);
  // An ownerless box (the decode-back warnings of a run) leaves the window usable meanwhile.
  const HWND owner_window = owner == Owner::kMain ? main_window_ : nullptr;
  return MessageBoxA(owner_window, message.c_str(), caption_text.c_str(), style);
}

void Win32Port::Repaint(bool erase) {
  InvalidateRect(main_window_, nullptr, erase ? TRUE : FALSE);
  UpdateWindow(main_window_);
}

void Win32Port::SetRunButtons(bool running) {
  // Every command but "Stop" works on the buffers a run uses (or starts a second worker), so
  // while a run works only "Stop" is offered, and afterwards everything but "Stop".
  for (const ButtonId id : {ButtonId::kCreateZgl, ButtonId::kShowZgl, ButtonId::kFont,
                            ButtonId::kSaveAsPcx, ButtonId::kIntegrityCheck, ButtonId::kHelp}) {
    if (HWND handle = button(id)) EnableWindow(handle, running ? FALSE : TRUE);
  }
  if (HWND stop = button(ButtonId::kStop)) EnableWindow(stop, running ? TRUE : FALSE);
}

void Win32Port::RunStarted() { SetRunButtons(true); }

void Win32Port::RunEnded() { SetRunButtons(false); }

void Win32Port::SetProgress(int position) {
  // Posted, not sent: a worker never waits for the progress bar.
  PostMessageA(progress_bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

}  // namespace zemlo::win32
