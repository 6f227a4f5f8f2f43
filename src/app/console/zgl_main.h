// The whole zgl program, apart from its entry point, so that the command line parser's
// header reaches the few files that build the command line and no others.
#pragma once

namespace zemlo::console {

// Reads the command line, runs the command given and returns the exit status.
int ZglMain(int argc, char** argv);

}  // namespace zemlo::console
