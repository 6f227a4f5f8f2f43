// One screen of zgl's help (`zgl --help`, `zgl COMMAND --help`) read back into its parts, so
// that the manual page and the shell completion say what the program itself says.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zemlo::console::docs {

// A line of a screen's Positionals, Options or Subcommands list.
struct HelpEntry {
  std::vector<std::string> names;  // "-j", "--jobs"; a positional's or a command's one name
  std::string value;               // what an option takes ("N", "pcx|png"), empty for a flag; for a
                                   // positional the kind the parser shows ("TEXT REQUIRED")
  std::string text;
};

struct HelpScreen {
  std::string description;
  std::string usage;  // "zgl create [OPTIONS] PROJECT"
  std::vector<HelpEntry> positionals;
  std::vector<HelpEntry> options;
  std::vector<HelpEntry> commands;
  std::string footer;  // as printed, one line after the other
};

HelpScreen ParseHelpScreen(std::string_view text);

// `text` split at its line breaks (no empty last line for a text that ends in one).
std::vector<std::string> SplitLines(std::string_view text);

std::string Trimmed(std::string_view text);

}  // namespace zemlo::console::docs
