#include "app/console/repair_command.h"

#include <memory>
#include <string>

#include "app/commands.h"
#include "app/console/console_output.h"
#include "app/console/console_platform.h"
#include "app/console/console_port.h"
#include "app/repair.h"
#include "app/session.h"
#include "core/escaped_text.h"

namespace zemlo::console {
namespace {

std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PrintOutcome(const RepairOutcome& outcome) {
  if (!outcome.after.sums_note.empty()) PrintLine(stderr, "zgl: " + outcome.after.sums_note);
  std::size_t done = 0;
  // Lines name the library's files: a name must not add a line or hide the ones after it.
  for (const RepairStep& table : outcome.tables) {
    PrintLine(stdout, EscapeControls(RepairStepLine(table)));
  }
  for (const RepairStep& step : outcome.steps) {
    PrintLine(stdout, EscapeControls(RepairStepLine(step)));
    if (step.done) ++done;
  }
  // What the verification afterwards still finds, as verify prints it.
  for (const VerifyFinding& finding : outcome.after.findings) {
    PrintLine(stdout, EscapeControls(FindingLine(finding)));
  }
  PrintLine(stdout,
            Count(done, "icon repaired, ", "icons repaired, ") +
                Count(outcome.steps.size() - done, "left as it is, ", "left as they are, ") +
                Count(outcome.after.findings.size(), "finding", "findings") + " remaining");
}

}  // namespace

int RunRepair(ConsoleRun& run, const char* project) {
  ConsolePort& port = run.port;
  // stdout carries what was done, icon by icon; the runs' titles would be mixed into it.
  port.TitlesOff();
  if (Interrupted()) {
    port.Note("stopped before the repair began; nothing was changed");
    return StoppedStatus();
  }
  const auto name = EnterProjectFolder(project);
  if (!name) {
    port.Note("cannot enter the folder of " + EscapeControls(project));
    return kExitWarned;
  }
  const std::string shown = ChosenName(project);
  const RepairOutcome outcome = RepairLibrary(run.session, name->c_str(), shown.c_str());
  port.FinishLine();
  if (!outcome.verified) return Interrupted() ? StoppedStatus() : kExitWarned;
  PrintOutcome(outcome);
  if (Interrupted()) return StoppedStatus();
  return Repaired(outcome) ? kExitOk : kExitWarned;
}

void AddRepairCommand(CommandLine& line) {
  auto project = std::make_shared<std::string>();
  CLI::App* repair = line.app.add_subcommand(
      "repair",
      "put the damaged entries of the library right: from their other copy, or converted again");
  repair->fallthrough();
  repair->add_option("PROJECT", *project, "the project info file (*.zgl)")->required();
  repair->callback([&line, project] {
    line.action = [project](ConsoleRun& run) { return RunRepair(run, project->c_str()); };
  });
}

}  // namespace zemlo::console
