// What the zgl program needs from the platform beyond the file layer: the interrupt key and
// whether stderr is a terminal.
#pragma once

#include <atomic>

namespace zemlo::console {

// Ctrl-C sets `stop` (the running command's stop request) and remembers that it came; the
// process goes on, so the run in hand finishes cleanly. Later Ctrl-Cs do the same.
void InstallInterruptHandler(std::atomic<bool>& stop);
bool Interrupted();

bool StderrIsTerminal();

}  // namespace zemlo::console
