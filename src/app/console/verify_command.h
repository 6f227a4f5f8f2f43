// zgl verify and zgl report: the deep verification of a library, printed or made into a
// static page. Both only read the library, under its lock.
#pragma once

#include "app/console/command_line.h"

namespace zemlo::console {

// Adds verify and report to the command line.
void AddVerifyCommands(CommandLine& line);

// zgl verify PROJECT.zgl: one line per finding and a summary line on stdout.
// Exit status 0 clean, 1 findings (or the project could not be read), or the stop status.
int RunVerify(ConsoleRun& run, const char* project);

// zgl report [--force] PROJECT.zgl OUTDIR: OUTDIR/index.html and a PNG per drawn picture.
// An existing index.html is replaced only with `force`. Exit status as for verify.
int RunReport(ConsoleRun& run, const char* project, const char* out_dir, bool force);

}  // namespace zemlo::console
