#include "app/console/console_port.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "app/console/console_output.h"
#include "core/escaped_text.h"
#include "core/status.h"
#include "packer/kzp.h"

namespace zemlo::console {
namespace {

constexpr int kWidestBar = 24;
constexpr int kNarrowestBar = 5;
constexpr int kDefaultColumns = 80;
// Goes back to the start of the live status line and clears it.
constexpr std::string_view kClearLive = "\r\033[K";
constexpr std::string_view kCutMark = "...";

bool ContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The first `columns` columns of `text`.
std::string_view HeadColumns(std::string_view text, std::size_t columns) {
  std::size_t at = 0;
  for (std::size_t seen = 0; at < text.size(); ++at) {
    if (!ContinuationByte(text[at]) && seen++ == columns) break;
  }
  return text.substr(0, at);
}

// The last `columns` columns of `text`.
std::string_view TailColumns(std::string_view text, std::size_t columns) {
  std::size_t at = text.size();
  for (std::size_t seen = 0; at > 0 && seen < columns;) {
    --at;
    if (!ContinuationByte(text[at])) ++seen;
  }
  return text.substr(at);
}

}  // namespace

std::size_t Columns(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return !ContinuationByte(c); }));
}

std::string LiveLine(std::string_view title, int percent, int columns) {
  // The last column stays free: a terminal that wraps on it would leave the cursor below.
  const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 1));
  const int clamped = std::clamp(percent, 0, 100);
  char percent_text[8];
  std::snprintf(percent_text, sizeof percent_text, "%3d%%", clamped);
  // About half of what the title does not need goes to the bar, up to its usual width.
  const int bar_width = std::clamp((static_cast<int>(room) - 30) / 2, 0, kWidestBar);
  std::string line;
  if (bar_width >= kNarrowestBar) {
    const int filled = clamped * bar_width / 100;
    line.push_back('[');
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(bar_width - filled), '.');
    line += "] ";
  }
  line += percent_text;
  line += ' ';
  // The window's name that every title begins with says nothing on zgl's own line.
  const std::string window_name = std::string(kClassName) + " - ";
  if (title.starts_with(window_name)) title.remove_prefix(window_name.size());
  const std::size_t title_room = room > Columns(line) ? room - Columns(line) : 0;
  if (Columns(title) <= title_room) {
    line += title;
  } else if (title_room > kCutMark.size()) {
    // The name at the beginning and what became of the icon at the end both tell.
    const std::size_t head = (title_room - kCutMark.size()) / 2;
    line += HeadColumns(title, head);
    line += kCutMark;
    line += TailColumns(title, title_room - kCutMark.size() - head);
  } else {
    line += title;
    line = std::string(HeadColumns(line, room));
  }
  return line;
}

int TerminalWidth(int asked, const char* columns_variable) {
  if (asked > 0) return asked;
  if (columns_variable != nullptr) {
    char* end = nullptr;
    const long columns = std::strtol(columns_variable, &end, 10);
    if (end != columns_variable && *end == '\0' && columns > 0 && columns < 10000) {
      return static_cast<int>(columns);
    }
  }
  return kDefaultColumns;
}

std::string OneLine(std::string_view text) {
  std::string line = EscapeControls(text);
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

ConsolePort::ConsolePort(std::FILE* out, std::FILE* err, ConsoleLook look)
    : out_(out), err_(err), look_(std::move(look)) {
  if (look_.quiet) look_.live = false;
  if (!look_.columns) look_.columns = [] { return kDefaultColumns; };
  if (!look_.now) look_.now = [] { return LiveClock::now(); };
}

void ConsolePort::SetTitle(std::string_view text) {
  MutexLock lock(mutex_);
  title_ = OneLine(text);
  if (look_.quiet) return;
  if (!look_.live && look_.verbose) {
    PrintLine(out_, title_);
    return;
  }
  if (!look_.live) {
    // The packer's titles continue the title of the icon they pack; any other starts the
    // next icon (equal titles too: "block file not found" for each icon of a block), and
    // the previous one's last title is its line.
    const std::string_view title(title_);
    const bool continues = !pending_.empty() && title.starts_with(group_) &&
                           title.substr(group_.size()).starts_with(kPackTitleMark);
    if (!continues) {
      PrintPending();
      group_ = title_.substr(0, title_.find(kPackTitleMark));
    }
    pending_ = title_;
    return;
  }
  if (look_.verbose) {
    PrintLine(out_, ClearedLive() + title_);
    line_open_ = false;
  }
  unshown_ = true;
  DrawLiveWhenDue();
}

int ConsolePort::ShowMessage(Owner owner, std::string_view caption, std::string_view text,
                             MessageIcon icon) {
  MutexLock lock(mutex_);
  if (icon == MessageIcon::kWarning) ++warnings_;
  if (look_.quiet && icon != MessageIcon::kWarning) return 1;
  PrintOnErr(std::string(caption) + ": " + OneLine(text));
  return 1;  // OK: nobody waits at a console
}

void ConsolePort::Note(std::string_view text) {
  MutexLock lock(mutex_);
  PrintOnErr(std::string("zgl: ").append(OneLine(text)));
}

void ConsolePort::Explain(std::string_view subject, std::string_view reason) {
  Note(std::string(subject) + ": " + std::string(reason));
}

void ConsolePort::SetProgress(int position) {
  MutexLock lock(mutex_);
  if (position == progress_) return;
  progress_ = position;
  if (!look_.live) return;
  unshown_ = true;
  DrawLiveWhenDue();
}

int ConsolePort::warnings() const {
  MutexLock lock(mutex_);
  return warnings_;
}

void ConsolePort::PrintPending() {
  if (pending_.empty()) return;
  PrintLine(out_, pending_);
  pending_.clear();
}

void ConsolePort::PrintOnErr(std::string_view line) {
  if (line_open_ && look_.shared) {
    PrintText(out_, kClearLive);
    line_open_ = false;
    unshown_ = true;
  }
  PrintLine(err_, line);
  // Back under the message, unless it was drawn a moment ago: then with what comes next, and
  // at the end in any case.
  if (unshown_ && drawn_) DrawLiveWhenDue();
}

void ConsolePort::FinishLine() {
  MutexLock lock(mutex_);
  PrintPending();
  if (look_.live && unshown_) DrawLive();
  if (line_open_) PrintText(out_, "\n");
  line_open_ = false;
}

void ConsolePort::DrawLiveWhenDue() {
  const LiveClock::time_point now = look_.now();
  if (drawn_ && now - last_drawn_ < kLiveRedrawPause) return;
  last_drawn_ = now;
  DrawLive();
}

void ConsolePort::DrawLive() {
  PrintText(out_, std::string(kClearLive) + LiveLine(title_, progress_, look_.columns()));
  line_open_ = true;
  unshown_ = false;
  drawn_ = true;
}

std::string ConsolePort::ClearedLive() const {
  return line_open_ ? std::string(kClearLive) : std::string();
}

}  // namespace zemlo::console
