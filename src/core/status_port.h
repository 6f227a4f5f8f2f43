// The one way the portable core reaches the window: the Win32 main window implements it,
// the console program prints, and tests record.
#pragma once

#include <string_view>

namespace zemlo {

// Message boxes are owned by the main window or by none (the decode-back warnings of a run).
enum class Owner { kNone, kMain };

// The exclamation mark and the warning sign are the same icon on the platform.
enum class MessageIcon { kWarning, kInformation };

class StatusPort {
 public:
  virtual ~StatusPort() = default;
  // Makes `text` the main window's title.
  virtual void SetTitle(std::string_view text) = 0;
  // A modal box with one OK button; returns the platform's result (1 for OK).
  virtual int ShowMessage(Owner owner, std::string_view caption, std::string_view text,
                          MessageIcon icon) = 0;
  // Invalidates the whole client area (with or without erasing) and updates it at once.
  virtual void Repaint(bool erase) = 0;
  // A worker run (creation or integrity check) starts or has ended; each front end shows
  // what the user may do meanwhile (the window greys its buttons but "Stop").
  virtual void RunStarted() = 0;
  virtual void RunEnded() = 0;
  // Progress bar position, 0 to 100.
  virtual void SetProgress(int position) = 0;
  // Whether the working picture is shown while a run goes (a window paints it whenever it
  // likes); where it is not, a run need not keep the shared picture up to date icon by icon.
  virtual bool ShowsPicture() const { return true; }
  // Why `subject` (a file name) could not be used, after the message that said it could not.
  // The window's boxes keep their own texts; a front end with room for it says the reason.
  virtual void Explain(std::string_view subject, std::string_view reason) {}
};

// A port for work whose every word is said elsewhere: it shows nothing and answers OK.
class SilentPort final : public StatusPort {
 public:
  void SetTitle(std::string_view) override {}
  int ShowMessage(Owner, std::string_view, std::string_view, MessageIcon) override { return 1; }
  void Repaint(bool) override {}
  void RunStarted() override {}
  void RunEnded() override {}
  void SetProgress(int) override {}
  bool ShowsPicture() const override { return false; }
};

}  // namespace zemlo
