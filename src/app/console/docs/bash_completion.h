// zgl's bash completion, made from its help screens: the commands, each command's options
// (and the values those take), and for each argument the files that fit it.
#pragma once

#include <string>

#include "app/console/docs/man_page.h"

namespace zemlo::console::docs {

std::string BashCompletion(const ProgramHelp& help);

}  // namespace zemlo::console::docs
