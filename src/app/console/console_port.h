// The status port of the zgl program. Titles go to stdout (the window's title text, names
// shown escaped: see OneLine) and message boxes to stderr as "caption: text", each line in
// one write, flushed at once, so 2>&1 keeps their order. Of the titles of one icon only the last is
// printed, one line per icon: the packer alone sets about 175 titles for one large entry.
// With `verbose` every title is printed, with `quiet` none.
//
// When stdout is a terminal that takes escape codes, the titles become one live status line
// with a progress bar there instead, as wide as the terminal and redrawn at most ten times a
// second (with `verbose` every title is also printed above it). Data and progress stay apart
// as in other batch tools: what goes to a file or a pipe is never replaced by the live line.
// When stderr is that same terminal, the live line is cleared before a message is written, so
// that the message stands on a line of its own, and drawn again after it.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "core/mutex.h"
#include "core/status_port.h"
#include "core/thread_annotations.h"

namespace zemlo::console {

using LiveClock = std::chrono::steady_clock;

// How the port shows what it is told.
struct ConsoleLook {
  bool live = false;    // titles become the live status line on `out`
  bool shared = false;  // `err` is the terminal the live line is on
  bool verbose = false;
  bool quiet = false;  // no titles and no live line: warnings and zgl's own lines only
  // The terminal's width now, asked at each drawing (a terminal can be resized); 80 when not
  // given.
  std::function<int()> columns;
  // The time that paces the redrawing; LiveClock::now when not given.
  std::function<LiveClock::time_point()> now;
};

// The live line is redrawn at most this often; what it shows last is drawn at the end.
inline constexpr std::chrono::milliseconds kLiveRedrawPause{100};

class ConsolePort : public StatusPort {
 public:
  ConsolePort(std::FILE* out, std::FILE* err, ConsoleLook look);
  ConsolePort(std::FILE* out, std::FILE* err, bool live, bool verbose)
      : ConsolePort(out, err, LookOf(live, verbose)) {}
  // Whether titles become one live status line (stdout is a terminal).
  bool live() const { return look_.live; }
  bool quiet() const { return look_.quiet; }
  // From now on as with `quiet`: for a command whose stdout carries lines of its own, which
  // the titles of the runs it starts would be mixed into. Called before anything is shown.
  void TitlesOff() {
    MutexLock lock(mutex_);
    look_.quiet = true;
    look_.live = false;
  }
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
  // Prints the title still held back, or draws the live status line as it stands last and
  // ends it, so that what follows starts on a line of its own.
  void FinishLine();

 private:
  static ConsoleLook LookOf(bool live, bool verbose) {
    ConsoleLook look;
    look.live = live;
    look.verbose = verbose;
    return look;
  }
  void DrawLive() REQUIRES(mutex_);
  void DrawLiveWhenDue() REQUIRES(mutex_);
  void PrintPending() REQUIRES(mutex_);
  // Writes `line` to err, the live line cleared first where it is on the same terminal.
  void PrintOnErr(std::string_view line) REQUIRES(mutex_);
  // What clears the live status line where one is open, to go before a line on `out`.
  std::string ClearedLive() const REQUIRES(mutex_);

  std::FILE* out_;
  std::FILE* err_;
  ConsoleLook look_;
  // The run's worker and the command's own thread both report (docs/threads.md).
  mutable Mutex mutex_;
  std::string title_ GUARDED_BY(mutex_);
  // Without `verbose`: the first title of the icon in hand and its latest, not yet printed.
  std::string group_ GUARDED_BY(mutex_);
  std::string pending_ GUARDED_BY(mutex_);
  int progress_ GUARDED_BY(mutex_) = -1;
  int warnings_ GUARDED_BY(mutex_) = 0;
  bool line_open_ GUARDED_BY(mutex_) = false;  // the live line stands on the terminal
  bool unshown_ GUARDED_BY(mutex_) = false;    // the live line shows less than the port was told
  bool drawn_ GUARDED_BY(mutex_) = false;      // the live line was drawn at least once
  LiveClock::time_point last_drawn_ GUARDED_BY(mutex_){};
};

// One line of a title or message: control characters and bytes that are no UTF-8 escaped
// (EscapeControls), so that a name in it can neither start a line that looks like zgl's own
// nor steer the terminal; trailing blanks dropped.
std::string OneLine(std::string_view text);

// The live status line for `title` (already one line) at `percent`, in fewer columns than the
// terminal has, so that it never wraps: the bar narrows on a narrow terminal and goes when
// there is no room for it, the window's name is left out of the title, and a title still
// too long loses its middle (its beginning names the source, its end tells what became of
// it), never in the middle of a character. A column is taken to be one character.
std::string LiveLine(std::string_view title, int percent, int columns);

// Columns of UTF-8 `text`, one for each character.
std::size_t Columns(std::string_view text);

// The terminal width to use: the one the terminal gives (`asked`, 0 or less when it gave
// none), else COLUMNS from the environment (`columns_variable`, null when unset) where that
// is a number, else 80.
int TerminalWidth(int asked, const char* columns_variable);

}  // namespace zemlo::console
