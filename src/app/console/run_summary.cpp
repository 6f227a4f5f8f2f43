#include "app/console/run_summary.h"

#include <cstdio>

namespace zemlo::console {
namespace {

std::string Counted(long long count, const char* one, const char* more) {
  return std::to_string(count) + " " + (count == 1 ? one : more);
}

std::string Seconds(std::chrono::steady_clock::duration took) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(took).count());
  return text;
}

// "2000 icons" for the whole range, "418 of 2000 icons" for a part of it.
std::string IconsOf(int done, int first, int last) {
  const int range = last - first + 1;
  return (done == range ? std::string() : std::to_string(done) + " of ") +
         Counted(range, "icon", "icons");
}

}  // namespace

std::string CreationSummary(const RunTally& tally, int first, int last, int warnings,
                            std::chrono::steady_clock::duration took) {
  const int done = tally.converted + tally.skipped + tally.not_found;
  return IconsOf(done, first, last) + ": " + std::to_string(tally.converted) + " converted (" +
         Counted(tally.stored_bytes, "byte", "bytes") + " stored), " +
         std::to_string(tally.skipped) + " skipped, " + std::to_string(tally.not_found) +
         " not found; " + Counted(warnings, "warning", "warnings") + "; " + Seconds(took);
}

std::string CheckSummary(const RunTally& tally, int first, int last, int warnings,
                         std::chrono::steady_clock::duration took) {
  std::string summary = IconsOf(tally.checked, first, last) + " checked (" + std::to_string(first) +
                        " to " + std::to_string(last) + "): " + std::to_string(tally.intact) +
                        " intact, " + std::to_string(tally.damaged) + " damaged, " +
                        std::to_string(tally.no_entry) + " without entry";
  if (tally.long_blocks > 0) {
    summary += "; " + Counted(tally.long_blocks, "block file", "block files") +
               (tally.long_blocks == 1 ? " longer than its entries" : " longer than their entries");
  }
  return summary + "; " + Counted(warnings, "warning", "warnings") + "; " + Seconds(took);
}

std::string StoppedLine(const RunTally& tally, bool create) {
  const std::string where = tally.last_icon < 0
                                ? std::string("stopped before the first icon")
                                : "stopped after icon " + std::to_string(tally.last_icon);
  if (!create) return where + "; nothing was changed";
  // A store that failed said so itself; the library is what its warning says.
  return tally.store_failed ? where : where + "; the library is whole";
}

}  // namespace zemlo::console
