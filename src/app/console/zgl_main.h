// The whole zgl program, apart from its entry point, so that the command line parser's
// header reaches the few files that build the command line and no others.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zemlo::console {

// The command a mistyped `word` most likely meant: the nearest of `commands` within two
// edits, or empty when none is that near.
std::string NearestCommand(std::string_view word, const std::vector<std::string>& commands);

// Reads the command line, runs the command given and returns the exit status.
int ZglMain(int argc, char** argv);

}  // namespace zemlo::console
