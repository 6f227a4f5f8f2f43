// zgl verify and zgl report: the deep verification of a library, printed or made into a
// static page. Both only read the library.
#pragma once

namespace zemlo::console {

// zgl verify PROJECT.zgl: one line per finding and a summary line on stdout.
// Exit status 0 clean, 1 findings (or the project could not be read), 130 Ctrl-C.
int RunVerify(const char* project, bool verbose);

// zgl report [--force] PROJECT.zgl OUTDIR: OUTDIR/index.html and a PNG per drawn picture.
// An existing index.html is replaced only with `force`. Exit status as for verify.
int RunReport(const char* project, const char* out_dir, bool force, bool verbose);

}  // namespace zemlo::console
