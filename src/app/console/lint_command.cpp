// lint: what a project file sets and what is wrong with it, before any run touches the
// library. It reads the file as create does and refuses or warns for the same reasons, but
// takes no lock and opens nothing else.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/console/command_line.h"
#include "app/console/console_output.h"
#include "app/console/console_port.h"
#include "app/project_checks.h"
#include "app/project_listing.h"
#include "files/file_helpers.h"
#include "files/file_problem.h"
#include "project/info_parser.h"
#include "project/tag_near_misses.h"

namespace zemlo::console {
namespace {

// The listing as a table: tag, value, "default" where the file does not give the tag, and
// the value's meaning; values too long for their column push the meaning along.
std::string Table(const std::vector<SettingLine>& lines) {
  std::string text;
  for (const SettingLine& line : lines) {
    std::string row = "  " + line.tag + "  " + line.value;
    row.resize(std::max<std::size_t>(row.size() + 1, 28), ' ');
    row += line.given ? "         " : "default  ";
    text += OneLine(row + line.meaning) + "\n";
  }
  return text;
}

int Lint(ConsoleRun& run, const std::string& project) {
  const auto name = EnterProjectFolder(project.c_str());
  if (!name) {
    run.port.Note("cannot enter the folder of " + project);
    return kExitWarned;
  }
  const std::string shown = ChosenName(project.c_str());
  // One byte past what the commands read tells, in the same read, that the file goes on.
  std::vector<std::uint8_t> text(kInfoReadLimit + 2);
  files::FileProblem problem = files::FileProblem::kOther;
  const auto read = ReadWholeFile(name->c_str(), text, kInfoReadLimit + 1, &problem);
  if (!read) {
    run.port.Note(shown + ": the project file cannot be read");
    run.port.Explain(shown, files::FileProblemText(problem));
    return kExitWarned;
  }
  const bool longer = *read > kInfoReadLimit;
  text[std::min(*read, kInfoReadLimit)] = 0;  // the commands see no more than this
  const char* chars = reinterpret_cast<const char*>(text.data());
  ProjectSettings settings;
  InfoTextReport report;
  ParseInfoText(chars, settings, &report);
  PrintText(stdout, OneLine(shown) + " sets (\"default\": the file does not give the tag):\n" +
                        Table(ListSettings(settings, report)));

  std::vector<std::string> problems;
  if (longer) {
    problems.push_back("only its first " + std::to_string(kInfoReadLimit) +
                       " bytes are read; tags after them are not seen");
  }
  if (const auto refusal = ProjectRefusal(settings, report, *name, kRunEnd)) {
    problems.push_back(*refusal);
  }
  for (std::string& miss : TagNearMisses(chars)) problems.push_back(std::move(miss));
  for (const std::string& warning : problems) run.port.Note(shown + ": " + warning);
  if (problems.empty()) {
    run.port.Note(shown + ": no warnings; create and show would use these settings");
    return kExitOk;
  }
  run.port.Note(shown + ": " + std::to_string(problems.size()) +
                (problems.size() == 1 ? " warning" : " warnings"));
  return kExitWarned;
}

}  // namespace

void AddLintCommand(CommandLine& line) {
  auto project = std::make_shared<std::string>();
  CLI::App* lint = line.app.add_subcommand(
      "lint", "show what PROJECT.zgl sets, tag by tag, and what is wrong with it");
  lint->fallthrough();
  lint->add_option("PROJECT", *project, "the project file (*.zgl)")->required();
  lint->callback([&line, project] {
    line.action = [project](ConsoleRun& run) { return Lint(run, *project); };
  });
}

}  // namespace zemlo::console
