#include "app/console/docs/man_page.h"

#include <cctype>
#include <cstddef>

namespace zemlo::console::docs {
namespace {

std::size_t Indent(const std::string& line) {
  const std::size_t first = line.find_first_not_of(' ');
  return first == std::string::npos ? line.size() : first;
}

// A line of running text; one that would start with a control character is kept as text.
std::string TextLine(std::string_view text) {
  std::string line = RoffEscaped(Trimmed(text));
  if (!line.empty() && (line[0] == '.' || line[0] == '\'')) line.insert(0, "\\&");
  return line + "\n";
}

std::string Bold(std::string_view text) { return "\\fB" + RoffEscaped(text) + "\\fR"; }
std::string Italic(std::string_view text) { return "\\fI" + RoffEscaped(text) + "\\fR"; }

// The cells of a line, split at runs of two or more blanks, with the column each starts in.
std::vector<std::pair<std::size_t, std::string>> Cells(const std::string& line) {
  std::vector<std::pair<std::size_t, std::string>> cells;
  std::size_t at = Indent(line);
  while (at < line.size()) {
    std::size_t end = line.find("  ", at);
    if (end == std::string::npos) end = line.size();
    cells.emplace_back(at, line.substr(at, end - at));
    at = line.find_first_not_of(' ', end);
    if (at == std::string::npos) break;
  }
  return cells;
}

// Text as zgl's help topics lay it out, in roff: a line alone at the margin followed by an
// indented one is a heading ("NAME:" heads a definition of its indented lines); "  WORD  text"
// with its continuation lines, indented more, is a definition; an indented line of three or more
// columns is the header of a table whose rows become definitions; everything else is running text,
// a blank line ends a paragraph.
// Writes one help topic as roff, line by line; the kind of block a line opens or continues
// decides what it becomes.
class TopicWriter {
 public:
  explicit TopicWriter(const std::string& text) : lines_(SplitLines(text)) {}

  std::string Write() {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const std::string& line = lines_[i];
      if (Trimmed(line).empty()) {
        BlankLine();
      } else if (block_ == Block::kTable) {
        TableLine(line);
      } else {
        TextLine(line, NextIndented(i));
      }
    }
    if (block_ == Block::kTable) FlushTable();
    return out_;
  }

 private:
  enum class Block { kParagraph, kDefinition, kTable };
  struct Row {
    std::string name;
    std::vector<std::string> cells;  // one per header column after the first
    bool wide = false;               // its name ran over into the next column
  };

  static void Append(std::string& to, const std::string& more) {
    if (!more.empty()) to += (to.empty() ? "" : " ") + more;
  }

  bool NextIndented(std::size_t i) const {
    return i + 1 < lines_.size() && !Trimmed(lines_[i + 1]).empty() && Indent(lines_[i + 1]) > 0;
  }

  void BlankLine() {
    if (block_ == Block::kTable) FlushTable();
    if (paragraph_open_) out_ += ".PP\n";
    paragraph_open_ = false;
    block_ = Block::kParagraph;
  }

  void FlushTable() {
    for (const Row& row : rows_) {
      out_ += ".TP\n" + Bold(row.name) + "\n";
      std::string cell_text = row.cells[0];
      for (std::size_t i = 1; i < row.cells.size(); ++i) {
        if (!row.cells[i].empty()) cell_text += "; " + header_[i + 1].second + ": " + row.cells[i];
      }
      out_ += docs::TextLine(cell_text);
    }
    rows_.clear();
    out_ += ".PP\n";
    paragraph_open_ = false;
  }

  // The line's text under each header column after the first, added to `row`.
  void AddColumns(const std::string& line, Row& row) const {
    for (std::size_t c = 1; c < header_.size(); ++c) {
      const std::size_t from = header_[c].first;
      const std::size_t to = c + 1 < header_.size() ? header_[c + 1].first : line.size();
      if (from < line.size()) Append(row.cells[c - 1], Trimmed(line.substr(from, to - from)));
    }
  }

  void TableLine(const std::string& line) {
    const bool continued = Indent(line) >= header_[1].first;
    if (continued) {
      if (rows_.empty()) return;
      Row& row = rows_.back();
      if (row.wide) {
        Append(row.cells[0], Trimmed(line));
      } else {
        AddColumns(line, row);
      }
      return;
    }
    const auto cells = Cells(line);
    Row row;
    row.name = cells[0].second;
    row.cells.assign(header_.size() - 1, "");
    row.wide = cells[0].first + cells[0].second.size() > header_[1].first;
    if (row.wide) {
      row.cells[0] = Trimmed(line.substr(cells[0].first + cells[0].second.size()));
    } else {
      AddColumns(line, row);
    }
    rows_.push_back(row);
  }

  void TextLine(const std::string& line, bool next_indented) {
    const std::size_t indent = Indent(line);
    const auto cells = Cells(line);
    if (indent > 0 && cells.size() >= 3) {
      header_ = cells;
      block_ = Block::kTable;
    } else if (indent == 0 && next_indented && line.back() == ':') {
      out_ += ".TP\n" + Bold(line.substr(0, line.size() - 1)) + "\n";
      StartDefinition(0);
    } else if (indent == 0 && next_indented) {
      if (block_ == Block::kDefinition) out_ += ".PP\n";
      out_ += ".SS " + RoffEscaped(line) + "\n";
      paragraph_open_ = false;
      block_ = Block::kParagraph;
    } else if (indent > 0 && cells.size() == 2 && cells[0].second.find(' ') == std::string::npos) {
      out_ += ".TP\n" + Bold(cells[0].second) + "\n" + docs::TextLine(cells[1].second);
      StartDefinition(indent);
    } else if (block_ == Block::kDefinition && indent > definition_indent_) {
      out_ += docs::TextLine(line);
    } else {
      if (block_ == Block::kDefinition) {
        out_ += ".PP\n";
        block_ = Block::kParagraph;
      }
      out_ += docs::TextLine(line);
      paragraph_open_ = true;
    }
  }

  void StartDefinition(std::size_t indent) {
    block_ = Block::kDefinition;
    definition_indent_ = indent;
    paragraph_open_ = true;
  }

  const std::vector<std::string> lines_;
  std::string out_;
  Block block_ = Block::kParagraph;
  bool paragraph_open_ = false;        // running text was written since the last paragraph macro
  std::size_t definition_indent_ = 0;  // a definition's own line; its text is indented more
  std::vector<std::pair<std::size_t, std::string>> header_;
  std::vector<Row> rows_;
};

std::string TopicText(const std::string& text) { return TopicWriter(text).Write(); }

std::string Paragraphs(const std::string& text) {
  std::string out;
  bool open = false;
  for (const std::string& line : SplitLines(text)) {
    if (Trimmed(line).empty()) {
      if (open) out += ".PP\n";
      open = false;
      continue;
    }
    out += TextLine(line);
    open = true;
  }
  return out;
}

std::string OptionTag(const HelpEntry& option) {
  std::string tag;
  for (const std::string& name : option.names) tag += (tag.empty() ? "" : ", ") + Bold(name);
  if (!option.value.empty()) tag += " " + Italic(option.value);
  return tag;
}

std::string OptionList(const std::vector<HelpEntry>& options, bool with_help) {
  std::string out;
  for (const HelpEntry& option : options) {
    if (!with_help && option.names.back() == "--help") continue;
    out += ".TP\n" + OptionTag(option) + "\n" + TextLine(option.text);
  }
  return out;
}

// "zgl create [OPTIONS] PROJECT" with the program and command in bold.
std::string Usage(const std::string& usage, std::size_t bold_words) {
  std::size_t end = 0;
  for (std::size_t word = 0; word < bold_words && end != std::string::npos; ++word) {
    end = usage.find(' ', end == 0 ? 0 : end + 1);
  }
  if (end == std::string::npos) return Bold(usage);
  return Bold(usage.substr(0, end)) + RoffEscaped(usage.substr(end));
}

// "The ZEMLO Creator's commands ... terminals." as the NAME line wants it.
std::string Summary(std::string text) {
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
      std::islower(static_cast<unsigned char>(text[1]))) {
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  }
  return text;
}

// "zgl (ZEMLO Creator) 1.02" -> "ZEMLO Creator 1.02".
std::string Source(const std::string& version) {
  std::string source = Trimmed(version.substr(version.find(' ') + 1));
  std::string out;
  for (const char c : source) {
    if (c != '(' && c != ')' && c != '\n') out += c;
  }
  return out;
}

}  // namespace

std::string RoffEscaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-' && (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
      out += "\\-";
    } else {
      out += c;
    }
  }
  return out;
}

std::string ManPage(const ProgramHelp& help) {
  std::string out;
  out += ".\\\" zgl(1), made from the program's own help texts when it was built.\n";
  out += ".TH ZGL 1 \"\" \"" + RoffEscaped(Source(help.version)) + "\" \"User Commands\"\n";
  out += ".SH NAME\nzgl \\- " + RoffEscaped(Summary(help.program.description)) + "\n";
  out += ".SH SYNOPSIS\n.nf\n" + Usage(help.program.usage, 1) + "\n";
  for (const HelpScreen& command : help.commands) out += Usage(command.usage, 2) + "\n";
  out += ".fi\n";
  out += ".SH DESCRIPTION\n" + TextLine(help.program.description) + ".PP\n" +
         Paragraphs(help.program.footer);
  out += ".SH OPTIONS\n" + OptionList(help.program.options, true);
  out +=
      ".SH COMMANDS\nEvery command also takes \\fB\\-h\\fR, \\fB\\-\\-help\\fR and the "
      "options above.\n";
  for (std::size_t i = 0; i < help.commands.size(); ++i) {
    const HelpScreen& command = help.commands[i];
    out += ".SS " + RoffEscaped(help.program.commands[i].names[0]) + "\n";
    out += Usage(command.usage, 2) + "\n.PP\n" + TextLine(command.description);
    for (const HelpEntry& positional : command.positionals) {
      out += ".TP\n" + Italic(positional.names[0]) + "\n" + TextLine(positional.text);
    }
    out += OptionList(command.options, false);
    out += ".PP\n" + Paragraphs(command.footer);
  }
  out += ".SH TAGS\n" + TopicText(help.tags);
  out += ".SH FORMATS\n" + TopicText(help.formats);
  out += ".SH \"EXIT STATUS\"\n" + TopicText(help.exit);
  out +=
      ".SH FILES\n"
      ".TP\n\\fIPROJECT\\fR.zgl\n"
      "The project info file; the names inside it (see TAGS) are relative to its folder.\n"
      ".TP\nThe files named by FBLK, FOFS, FCOO and FSEP\n"
      "The library: block files, offsets file, coordinates file and single entry files,\n"
      "written by \\fBcreate\\fR.\n"
      ".TP\nThe offsets file's name with \\fI.lock\\fR appended\n"
      "The lock that keeps a second command off the library while one works on it.\n"
      ".TP\nBLTEMP, BLTEMP.REC\n"
      "Left in the project's folder by a run that was killed inside a block rewrite; the\n"
      "next command on the library puts them right.\n";
  return out;
}

}  // namespace zemlo::console::docs
