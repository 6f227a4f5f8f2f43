#include "app/console/console_port.h"

#include <algorithm>

#include "app/console/console_output.h"
#include "core/escaped_text.h"
#include "packer/kzp.h"

namespace zemlo::console {
namespace {

constexpr int kBarWidth = 24;
// The live line is cut so that it never wraps on an ordinary terminal.
constexpr std::size_t kLiveTitleWidth = 44;
// Goes back to the start of the live status line and clears it.
constexpr std::string_view kClearLive = "\r\033[K";

}  // namespace

std::string OneLine(std::string_view text) {
  std::string line = EscapeControls(text);
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

void ConsolePort::SetTitle(std::string_view text) {
  std::lock_guard lock(mutex_);
  title_ = OneLine(text);
  if (!live_ && verbose_) {
    PrintLine(out_, title_);
    return;
  }
  if (!live_) {
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
  if (verbose_) {
    PrintLine(err_, ClearedLive() + title_);
    line_open_ = false;
  }
  DrawLive();
}

int ConsolePort::ShowMessage(Owner owner, std::string_view caption, std::string_view text,
                             MessageIcon icon) {
  std::lock_guard lock(mutex_);
  if (icon == MessageIcon::kWarning) ++warnings_;
  PrintLine(err_, ClearedLive() + std::string(caption) + ": " + OneLine(text));
  line_open_ = false;
  if (live_) DrawLive();
  return 1;  // OK: nobody waits at a console
}

void ConsolePort::Note(std::string_view text) {
  std::lock_guard lock(mutex_);
  PrintLine(err_, ClearedLive() + "zgl: " + OneLine(text));
  line_open_ = false;
}

void ConsolePort::Explain(std::string_view subject, std::string_view reason) {
  Note(std::string(subject) + ": " + std::string(reason));
}

void ConsolePort::SetProgress(int position) {
  std::lock_guard lock(mutex_);
  if (position == progress_) return;
  progress_ = position;
  if (live_) DrawLive();
}

int ConsolePort::warnings() const {
  std::lock_guard lock(mutex_);
  return warnings_;
}

void ConsolePort::PrintPending() {
  if (pending_.empty()) return;
  PrintLine(out_, pending_);
  pending_.clear();
}

void ConsolePort::FinishLine() {
  std::lock_guard lock(mutex_);
  PrintPending();
  if (line_open_) PrintText(err_, "\n");
  line_open_ = false;
}

void ConsolePort::DrawLive() {
  const int percent = std::clamp(progress_, 0, 100);
  const int filled = percent * kBarWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  std::string shown = title_;
  if (shown.size() > kLiveTitleWidth) {
    std::size_t cut = shown.size() - kLiveTitleWidth + 3;
    // Never inside a character of several bytes.
    while (cut < shown.size() && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) ++cut;
    shown = "..." + shown.substr(cut);
  }
  char percent_text[8];
  std::snprintf(percent_text, sizeof percent_text, "%3d%%", percent);
  PrintText(err_, std::string(kClearLive) + "[" + bar + "] " + percent_text + " " + shown);
  line_open_ = true;
}

std::string ConsolePort::ClearedLive() const {
  return line_open_ ? std::string(kClearLive) : std::string();
}

}  // namespace zemlo::console
