// The status port of the zgl program. Titles go to stdout (the window's title text, names
// shown escaped: see OneLine) and message boxes to stderr as "caption: text", each line in
// one write, flushed at once, so 2>&1 keeps their order. Of the titles of one icon only the last is
// printed, one line per icon: the packer alone sets about 175 titles for one large entry.
// With `verbose` every title is printed. On a terminal the titles become one live status
// line with a progress bar on stderr instead (with `verbose` every title is also printed
// there).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "core/status_port.h"

namespace zemlo::console {

class ConsolePort : public StatusPort {
 public:
  ConsolePort(std::FILE* out, std::FILE* err, bool live, bool verbose)
      : out_(out), err_(err), live_(live), verbose_(verbose) {}
  // Whether titles become one live status line (stderr is a terminal).
  bool live() const { return live_; }
  ~ConsolePort() override { FinishLine(); }

  void SetTitle(std::string_view text) override;
  int ShowMessage(Owner owner, std::string_view caption, std::string_view text,
                  MessageIcon icon) override;
  void Repaint(bool erase) override {}
  void RunStarted() override {}
  void RunEnded() override {}
  void SetProgress(int position) override;
  bool ShowsPicture() const override { return false; }

  // Warning boxes shown so far (information boxes do not count).
  int warnings() const;
  // A line of zgl's own on stderr: "zgl: text".
  void Note(std::string_view text);
  // "zgl: subject: reason" on stderr.
  void Explain(std::string_view subject, std::string_view reason) override;
  // Prints the title still held back and ends the live status line, so that what follows
  // starts on a line of its own.
  void FinishLine();

 private:
  void DrawLive();       // with the mutex held
  void PrintPending();   // with the mutex held
  // What clears the live status line where one is open, to go before a line; with the
  // mutex held.
  std::string ClearedLive() const;

  std::FILE* out_;
  std::FILE* err_;
  bool live_;
  bool verbose_;
  mutable std::mutex mutex_;
  std::string title_;
  // Without `verbose`: the first title of the icon in hand and its latest, not yet printed.
  std::string group_;
  std::string pending_;
  int progress_ = -1;
  int warnings_ = 0;
  bool line_open_ = false;
};

// One line of a title or message: control characters and bytes that are no UTF-8 escaped
// (EscapeControls), so that a name in it can neither start a line that looks like zgl's own
// nor steer the terminal; trailing blanks dropped.
std::string OneLine(std::string_view text);

}  // namespace zemlo::console
