// zgl(1) in roff, made from the texts zgl prints: its help screens and "zgl help TOPIC".
#pragma once

#include <string>
#include <vector>

#include "app/console/docs/help_screen.h"

namespace zemlo::console::docs {

struct ProgramHelp {
  std::string version;  // as `zgl --version` prints it
  HelpScreen program;
  std::vector<HelpScreen> commands;  // in the order of program.commands
  std::string tags;                  // zgl help tags
  std::string formats;               // zgl help formats
  std::string exit;                  // zgl help exit
};

std::string ManPage(const ProgramHelp& help);

// `text` as roff text: backslashes, and dashes that start a word (options), escaped.
std::string RoffEscaped(std::string_view text);

}  // namespace zemlo::console::docs
