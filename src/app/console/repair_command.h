// zgl repair (and zgl verify --repair): a damaged library put right without building it
// again.
#pragma once

#include "app/console/command_line.h"

namespace zemlo::console {

// Adds repair to the command line.
void AddRepairCommand(CommandLine& line);

// zgl repair PROJECT.zgl: one line per damaged icon on stdout saying what was done, the
// findings the verification afterwards still makes, and a summary line. Exit status 0 when
// nothing is left to repair, 1 otherwise, or the stop status.
int RunRepair(ConsoleRun& run, const char* project);

}  // namespace zemlo::console
