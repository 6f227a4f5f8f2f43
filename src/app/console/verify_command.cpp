#include "app/console/verify_command.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/commands.h"
#include "app/console/command_line.h"
#include "app/console/console_output.h"
#include "app/console/console_platform.h"
#include "app/console/console_port.h"
#include "app/console/repair_command.h"
#include "app/console/report_writer.h"
#include "app/project_checks.h"
#include "app/session.h"
#include "core/escaped_text.h"
#include "core/status.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/run/check/deep_verify.h"
#include "library/store/library_lock.h"
#include "project/info_parser.h"

namespace zemlo::console {
namespace {

// Findings, or a library that could not be read, count as a warning does elsewhere.
constexpr int kExitFindings = kExitWarned;

// The info file alone: the verification reads the offsets and coordinates files itself and
// counts a missing one as a finding, where the other commands would start a new one.
bool ReadProject(Session& session, const char* project) {
  const auto name = EnterProjectFolder(project);
  if (!name) {
    PrintLine(stderr, "zgl: cannot enter the folder of " + EscapeControls(project));
    return false;
  }
  WorkingState& state = session.state();
  files::FileProblem problem = files::FileProblem::kOther;
  const auto read = ReadWholeFile(name->c_str(), state.info_text.span(), kInfoReadLimit, &problem);
  if (!read) {
    ShowWarning(state.port, Owner::kMain, kInfoUnreadableFormat, ChosenName(project));
    state.port.Explain(ChosenName(project), files::FileProblemText(problem));
    return false;
  }
  ProjectSettings parsed = session.settings();
  ParseInfoText(reinterpret_cast<const char*>(state.info_text.data()), parsed);
  auto refusal = NameControlRefusal(parsed);
  if (!refusal) refusal = ValidateProject(parsed);
  if (refusal) {
    ShowWarning(state.port, Owner::kMain, "%s", *refusal);
    return false;
  }
  // Read only: the lock keeps a run from changing the library under the walk, and nothing
  // an interrupted run left is put right here (a leftover BLTEMP is a finding). The lock
  // file is the one thing written, and only as a regular file: a library whose lock file is
  // a link or cannot be opened is refused, never walked unlocked.
  if (session.library_lock().Acquire(parsed.FOFS.data(), &state.port) !=
      LibraryLock::Outcome::kHeld) {
    return false;
  }
  session.settings() = parsed;
  return true;
}

// What the verification could not see goes to stderr, before the findings: stdout keeps to
// findings and the summary, which scripts read.
void PrintNote(const VerifyOutcome& outcome) {
  if (!outcome.sums_note.empty()) PrintLine(stderr, "zgl: " + outcome.sums_note);
}

void PrintSummary(const VerifyOutcome& outcome) {
  PrintLine(stdout, std::to_string(outcome.icons_verified) + " icons verified, " +
                        std::to_string(outcome.findings.size()) + " finding" +
                        (outcome.findings.size() == 1 ? "" : "s"));
}

int Status(const VerifyOutcome& outcome) {
  if (outcome.stopped || Interrupted()) return StoppedStatus();
  return outcome.findings.empty() ? kExitOk : kExitFindings;
}

}  // namespace

int RunVerify(ConsoleRun& run, const char* project) {
  ConsolePort& port = run.port;
  Session& session = run.session;
  // On a terminal the status line names the command; elsewhere stdout carries findings only.
  if (port.live()) port.SetTitle("zgl verify " + ChosenName(project));
  if (!ReadProject(session, project)) return kExitFindings;
  const VerifyOutcome outcome = DeepVerify(session.settings(), session.state());
  port.FinishLine();
  PrintNote(outcome);
  // Findings name the library's files: a name must not add a line or hide the ones after it.
  for (const auto& finding : outcome.findings) {
    PrintLine(stdout, EscapeControls(FindingLine(finding)));
  }
  PrintSummary(outcome);
  return Status(outcome);
}

namespace {

constexpr const char* kIndexName = "index.html";

// The page, made new (or with `replace` over a regular file), never through a link.
files::OutputResult WriteText(const std::filesystem::path& folder, const std::string& text,
                              bool replace, files::FileProblem* problem) {
  return files::WriteOutputFile(
      folder.string().c_str(), kIndexName, reinterpret_cast<const std::uint8_t*>(text.data()),
      text.size(), replace ? files::OutputMode::kReplace : files::OutputMode::kCreateNew, false,
      nullptr, problem);
}

// A name the report may write: the page or a picture ("3000.png").
bool IsReportName(const std::string& name) {
  if (name == kIndexName) return true;
  const std::size_t dot = name.size() >= 5 ? name.size() - 4 : std::string::npos;
  return dot != std::string::npos && name.compare(dot, 4, ".png") == 0 &&
         name.find_first_not_of("0123456789") == dot;
}

// The first entry of `folder` that stands where the report would write and may not be
// written, with the reason: a link or anything but a regular file always, a file unless
// `replace`. The page comes first, then the pictures by name. Nothing when the folder does
// not exist yet.
std::optional<std::pair<std::filesystem::path, const char*>> FirstInTheWay(
    const std::filesystem::path& folder, bool replace) {
  std::error_code error;
  std::vector<std::filesystem::path> names;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (IsReportName(name)) names.push_back(it->path());
  }
  std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
    const bool a_index = a.filename() == kIndexName, b_index = b.filename() == kIndexName;
    return a_index != b_index ? a_index : a < b;
  });
  for (const auto& path : names) {
    const auto status = std::filesystem::symlink_status(path, error);
    if (std::filesystem::is_symlink(status)) return std::make_pair(path, kOutputLinkText);
    if (!std::filesystem::is_regular_file(status)) return std::make_pair(path, kOutputNoFileText);
    if (!replace) return std::make_pair(path, kOutputExistsText);
  }
  return std::nullopt;
}

}  // namespace

int RunReport(ConsoleRun& run, const char* project, const char* out_dir, bool force) {
  // The folder is named from where zgl was started, the library from its project's folder.
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::absolute(out_dir, error);
  if (error) {
    PrintLine(stderr, "zgl: cannot name the folder " + EscapeControls(out_dir));
    return kExitFindings;
  }
  const std::filesystem::path index = folder / kIndexName;
  // Checked before anything is written, so that a refusal changes nothing.
  if (const auto in_the_way = FirstInTheWay(folder, force)) {
    PrintLine(stderr, "zgl: " + EscapeControls(in_the_way->first.string()) + " " +
                          in_the_way->second + "; nothing written");
    return kExitFindings;
  }
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder, error)) {
    PrintLine(stderr, "zgl: cannot make the folder " + EscapeControls(folder.string()));
    return kExitFindings;
  }

  ConsolePort& port = run.port;
  Session& session = run.session;
  if (port.live()) port.SetTitle("zgl report " + ChosenName(project));
  if (!ReadProject(session, project)) return kExitFindings;
  ReportBuilder builder(folder, force);
  const VerifyOutcome outcome = DeepVerify(session.settings(), session.state(), &builder);
  port.FinishLine();
  if (outcome.stopped || Interrupted()) return StoppedStatus();
  PrintNote(outcome);
  for (const auto& failure : builder.errors()) {
    PrintLine(stderr, "zgl: " + EscapeControls(failure));
  }
  const std::string shown_index = EscapeControls(index.string());
  files::FileProblem problem = files::FileProblem::kOther;
  switch (WriteText(folder, ReportHtml(ChosenName(project), builder.icons(), outcome), force,
                    &problem)) {
    case files::OutputResult::kWritten:
      break;
    case files::OutputResult::kExists:
      PrintLine(stderr, "zgl: " + shown_index + " " + kOutputExistsText);
      return kExitFindings;
    case files::OutputResult::kLinkInTheWay:
      PrintLine(stderr, "zgl: " + shown_index + " " + kOutputLinkText);
      return kExitFindings;
    case files::OutputResult::kFailed:
      PrintLine(stderr, "zgl: " + shown_index + " could not be written");
      port.Explain(shown_index, files::FileProblemText(problem));
      return kExitFindings;
  }
  PrintSummary(outcome);
  PrintLine(stdout, "report: " + EscapeControls(index.string()));
  if (!builder.errors().empty()) return kExitFindings;
  return Status(outcome);
}

void AddVerifyCommands(CommandLine& line) {
  struct Arguments {
    std::string project;
    std::string out_dir;
    bool force = false;
    bool repair = false;
  };
  auto arguments = std::make_shared<Arguments>();
  CLI::App* verify = line.app.add_subcommand(
      "verify", "verify every entry of the library in depth (reads only, unless --repair)");
  verify->fallthrough();
  verify->add_option("PROJECT", arguments->project, "the project info file (*.zgl)")->required();
  verify->add_flag(
      "--repair", arguments->repair,
      "put what is found right and verify again, as zgl repair does (its exit status too)");
  verify->callback([&line, arguments] {
    line.action = [arguments](ConsoleRun& run) {
      if (arguments->repair) return RunRepair(run, arguments->project.c_str());
      return RunVerify(run, arguments->project.c_str());
    };
  });

  CLI::App* report = line.app.add_subcommand(
      "report", "write OUTDIR/index.html and a PNG per icon: the whole library at a glance");
  report->fallthrough();
  report->add_option("PROJECT", arguments->project, "the project info file (*.zgl)")->required();
  report->add_option("OUTDIR", arguments->out_dir, "the folder of the page")->required();
  report->add_flag("-f,--force", arguments->force,
                   "replace the page and pictures in OUTDIR if they exist (never links)");
  report->callback([&line, arguments] {
    line.action = [arguments](ConsoleRun& run) {
      return RunReport(run, arguments->project.c_str(), arguments->out_dir.c_str(),
                       arguments->force);
    };
  });
}

}  // namespace zemlo::console
