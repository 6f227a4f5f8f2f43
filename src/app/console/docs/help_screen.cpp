#include "app/console/docs/help_screen.h"

namespace zemlo::console::docs {
namespace {

// The help formatter's column: an entry's text starts there, or on the next line, indented
// to it, when the entry's name column is wider.
constexpr std::size_t kColumn = 30;

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator, from)) {
    parts.emplace_back(text.substr(from, at - from));
    from = at + 1;
  }
  parts.emplace_back(text.substr(from));
  return parts;
}

HelpEntry ReadEntry(const std::string& name_column, bool option) {
  HelpEntry entry;
  const std::string column = Trimmed(name_column);
  const std::size_t blank = column.find(' ');
  const std::string first = column.substr(0, blank);
  entry.names = option ? Split(first, ',') : std::vector<std::string>{first};
  if (blank != std::string::npos) entry.value = Trimmed(column.substr(blank + 1));
  return entry;
}

}  // namespace

std::string Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines = Split(text, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

HelpScreen ParseHelpScreen(std::string_view text) {
  HelpScreen screen;
  enum class Part { kDescription, kBetween, kList, kFooter } part = Part::kDescription;
  std::vector<HelpEntry>* list = nullptr;
  const std::vector<std::string> lines = SplitLines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (part == Part::kDescription) {
      if (StartsWith(line, "Usage: ")) {
        screen.usage = Trimmed(line.substr(7));
        part = Part::kBetween;
      } else {
        screen.description += (screen.description.empty() ? "" : " ") + Trimmed(line);
      }
      continue;
    }
    if (part == Part::kFooter) {
      screen.footer += line + "\n";
      continue;
    }
    if (line.empty()) {
      if (part == Part::kList) part = Part::kBetween;
      continue;
    }
    if (line == "Positionals:" || line == "Options:" || line == "Subcommands:") {
      list = line == "Positionals:" ? &screen.positionals
             : line == "Options:"   ? &screen.options
                                    : &screen.commands;
      part = Part::kList;
      continue;
    }
    if (part != Part::kList || !StartsWith(line, "  ")) {
      part = Part::kFooter;
      screen.footer += line + "\n";
      continue;
    }
    const auto continues = [](const std::string& l) {
      return l.size() > kColumn && Trimmed(l.substr(0, kColumn)).empty();
    };
    if (continues(line) && !list->empty()) {
      std::string& text_so_far = list->back().text;
      text_so_far += (text_so_far.empty() ? "" : " ") + Trimmed(line);
      continue;
    }
    // Padding ends the name column in two blanks or more; a name of exactly one blank less
    // than the column is told from a longer one by whether its text follows on the next line.
    const bool own_line =
        line.size() <= kColumn || line[kColumn - 1] != ' ' ||
        (line[kColumn - 2] != ' ' && i + 1 < lines.size() && continues(lines[i + 1]));
    HelpEntry entry = ReadEntry(own_line ? line : line.substr(0, kColumn), list == &screen.options);
    if (!own_line) entry.text = Trimmed(line.substr(kColumn));
    list->push_back(entry);
  }
  return screen;
}

}  // namespace zemlo::console::docs
