// The commands that work on a library: create, show, check and save.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/commands.h"
#include "app/console/command_line.h"
#include "app/console/console_output.h"
#include "app/console/console_platform.h"
#include "app/console/console_port.h"
#include "app/console/run_summary.h"
#include "app/export_command.h"
#include "app/picture_commands.h"
#include "app/project_checks.h"
#include "app/session.h"
#include "files/file_layer.h"
#include "library/run/check/integrity_check.h"
#include "library/run/entry_loading.h"
#include "library/run/jobs.h"
#include "library/store/block_store.h"
#include "picture/pcx_writer.h"
#include "picture/png_writer.h"

namespace zemlo::console {
namespace {

struct Arguments {
  std::string project;
  std::string into;
  int icon = 0;
  std::string out;
  bool force = false;
  bool all = false;            // show: every icon of the range, as the window writes them
  std::string format = "pcx";  // show: pcx or png
  bool alpha = false;          // show: masked kinds' black see-through (png only)
  std::string save_format;     // save: pcx or png; empty: OUT's name decides
  int jobs = 0;                // 0: the machine's processors
};

// show without --force, when a file it would write stands already (named first).
constexpr const char* kShowExistsText = " exists; --force overwrites it";
constexpr const char* kShowIntoText = ", or --into DIR writes the export under DIR";
constexpr const char* kShowLinkText = " is a link, and nothing is written through links";
constexpr const char* kNothingWrittenText = "; nothing written";

// A name given on the command line, made absolute from the folder zgl was started in, before
// the project's folder is entered. nullopt when that cannot be done.
std::optional<std::string> FromStartFolder(const std::string& name) {
  std::error_code error;
  const std::string path = std::filesystem::absolute(name, error).string();
  if (error) return std::nullopt;
  return path;
}

// Enters the project's folder; the info file is then opened by its own name from there.
std::optional<std::string> EnterFolder(ConsolePort& port, const std::string& project) {
  auto name = EnterProjectFolder(project.c_str());
  if (!name) port.Note("cannot enter the folder of " + project);
  return name;
}

int RunWorker(ConsoleRun& run, const Arguments& a, bool create) {
  const auto started_at = std::chrono::steady_clock::now();
  const std::string& project = a.project;
  if (Interrupted()) {
    run.port.Note("stopped before the run began; nothing was changed");
    return StoppedStatus();
  }
  if (a.jobs > 0) run.session.store().jobs = a.jobs;
  const auto name = EnterFolder(run.port, project);
  if (!name) return kExitWarned;
  const std::string shown = ChosenName(project.c_str());
  const bool started = create ? StartCreateZgl(run.session, name->c_str(), shown.c_str())
                              : StartIntegrityCheck(run.session, name->c_str(), shown.c_str());
  if (!started) {
    run.port.FinishLine();
    return run.port.warnings() > 0 || !Interrupted() ? kExitWarned : StoppedStatus();
  }
  // Starting clears the stop request: one that came while the project was read still counts.
  if (Interrupted()) run.session.RequestStop();
  run.session.WaitForWorker();
  run.port.FinishLine();
  // Counted by the run itself: the titles are the window's and do not say what they count.
  const RunTally& tally = run.session.tally();
  const auto took = std::chrono::steady_clock::now() - started_at;
  const int warnings = run.port.warnings();
  run.port.Note(create ? CreationSummary(tally, kRunStart, kRunEnd, warnings, took)
                       : CheckSummary(tally, kCheckFirstIcon, kCheckEndIcon - 1, warnings, took));
  if (Interrupted()) run.port.Note(StoppedLine(tally, create));
  return Outcome(run.port);
}

int Show(ConsoleRun& run, const Arguments& a) {
  if (a.jobs > 0) run.session.store().jobs = a.jobs;
  ExportRequest request;
  request.stoppable = true;
  // The window writes every icon over whatever stands there; here only what is asked for.
  request.every_icon = a.all;
  request.replace = a.force;
  const bool png = a.format == "png";
  request.format = png ? ExportFormat::kPng : ExportFormat::kPcx;
  request.black_transparent = a.alpha;
  const std::string files_word = png ? " PNG files" : " PCX files";
  if (!a.into.empty()) {
    const auto into = FromStartFolder(a.into);
    if (!into) {
      run.port.Note("cannot name the folder " + a.into);
      return kExitWarned;
    }
    request.into = *into;
  }
  const auto name = EnterFolder(run.port, a.project);
  if (!name) return kExitWarned;
  const bool elsewhere = !request.into.empty();
  const bool all = a.all;
  request.announce = [&run, elsewhere, all, &files_word](const ExportPlan& plan) {
    run.port.Note(std::string(all ? "writing icons 3000 to 4999"
                                  : "writing the icons of 3000 to 4999 that have an entry") +
                  " as" + files_word + " " + plan.first_file + " to " + plan.last_file + " (FPCX " +
                  plan.pattern + ")" +
                  (elsewhere ? "" : "; --into DIR writes them under DIR instead"));
  };
  const std::string shown = ChosenName(a.project.c_str());
  const ExportOutcome outcome = ExportZgl(run.session, name->c_str(), shown.c_str(), request);
  run.port.FinishLine();
  if (!outcome.refused.empty()) {
    const std::string why = outcome.refused_link
                                ? kShowLinkText
                                : std::string(kShowExistsText) + (elsewhere ? "" : kShowIntoText);
    run.port.Note(outcome.refused + why + kNothingWrittenText);
  }
  if (!outcome.started) return kExitWarned;
  std::string summary = std::to_string(outcome.icons) + " of " +
                        std::to_string(kRunEnd - kRunStart + 1) + " icons exported, " +
                        std::to_string(outcome.shown) + " with an entry";
  if (outcome.not_saved > 0) {
    summary += ", " + std::to_string(outcome.not_saved) + " not written";
  }
  summary += "; " + std::to_string(outcome.not_loaded) + " could not be loaded; " +
             std::to_string(outcome.written) + files_word + " written";
  run.port.Note(summary);
  if (Interrupted()) return StoppedStatus();
  if (outcome.not_loaded > 0) return kExitWarned;
  return Outcome(run.port);
}

// save's OUT for standard output.
constexpr const char* kStandardOutputName = "-";

bool SavesPng(const Arguments& a) {
  return a.save_format.empty() ? HasPngExtension(a.out) : a.save_format == "png";
}

// The working picture's file, encoded as save would write it, to stdout.
int SaveToStandardOutput(ConsoleRun& run, const Arguments& a) {
  WorkingState& state = run.session.state();
  std::vector<std::uint8_t> png;
  std::span<const std::uint8_t> bytes;
  if (SavesPng(a)) {
    png = EncodePicturePng(state.Picture());
    bytes = png;
  } else {
    bytes = state.pcx.span().first(EncodePcx(state.Picture(), state.pcx.span()));
  }
  if (bytes.empty()) {
    run.port.Note("icon " + std::to_string(a.icon) + " could not be encoded; nothing saved");
    return kExitWarned;
  }
  StdoutToBinary();
  // A failed write is told once, at the end, with the reason.
  if (!PrintText(stdout,
                 std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
    return kExitWarned;
  }
  return Outcome(run.port);
}

int Save(ConsoleRun& run, const Arguments& a) {
  const bool to_stdout = a.out == kStandardOutputName;
  // A picture's bytes would only garble a terminal: refused before anything is read.
  if (to_stdout && run.stdout_terminal) {
    run.port.Note(
        "standard output is a terminal; redirect it to a file or a pipe to save "
        "there; nothing saved");
    return kExitWarned;
  }
  const auto out = FromStartFolder(to_stdout ? std::string(".") : a.out);
  if (!out) {
    run.port.Note("cannot name the output file " + a.out);
    return kExitWarned;
  }
  const auto name = EnterFolder(run.port, a.project);
  if (!name) return kExitWarned;
  const std::string shown = ChosenName(a.project.c_str());
  EnterViewerMode(run.session);
  if (!LoadProject(run.session, name->c_str(), shown.c_str(), ProjectUse::kShow)) {
    return kExitWarned;
  }
  if (to_stdout) {
    if (!LoadEntry(a.icon, run.session.settings(), run.session.state())) {
      run.port.Note("icon " + std::to_string(a.icon) + " could not be loaded; nothing saved");
      return kExitWarned;
    }
    return SaveToStandardOutput(run, a);
  }
  // The library's own files are never the output, whatever the user insists on.
  if (const auto file = ProjectFileAt(run.session.settings(), shown, *out)) {
    run.port.Note(a.out + " is " + *file + " of " + shown +
                  ", which is never overwritten; nothing saved");
    return kExitWarned;
  }
  if (!a.force && files::Exists(out->c_str())) {
    run.port.Note(a.out + " exists; --force overwrites it; nothing saved");
    return kExitWarned;
  }
  WorkingState& state = run.session.state();
  if (!LoadEntry(a.icon, run.session.settings(), state)) {
    run.port.Note("icon " + std::to_string(a.icon) + " could not be loaded; nothing saved");
    return kExitWarned;
  }
  // A warning while the project and the icon were read (a missing coordinates file, an entry
  // that decodes with a caution) decides the status as in every command; the save itself is
  // told by its result, since its box, the success included, is a warning box in the window.
  const bool warned_before = run.port.warnings() > 0;
  // --format, or else the name chooses: ".png" in any letter case, PCX for every other name.
  const bool written = SavesPng(a) ? SavePictureAsPng(state, out->c_str(), a.force)
                                   : SavePictureAsPcx(state, out->c_str(), a.force);
  return written && !warned_before ? kExitOk : kExitWarned;
}

CLI::App* AddProjectCommand(CommandLine& line, const char* name, const char* description,
                            const std::shared_ptr<Arguments>& arguments) {
  CLI::App* command = line.app.add_subcommand(name, description);
  command->fallthrough();  // --verbose after the command name too
  command->add_option("PROJECT", arguments->project, "the project info file (*.zgl)")->required();
  return command;
}

// --jobs N, default the machine's processors.
void AddJobsOption(CLI::App* command, Arguments& arguments, const std::string& what) {
  command
      ->add_option(
          "-j,--jobs", arguments.jobs,
          what + " (default: the machine's " + std::to_string(DefaultJobs()) + " processors)")
      ->option_text("N")
      ->check(CLI::Range(1, kMaxJobs));
}

void AddCreateCommand(CommandLine& line, const std::shared_ptr<Arguments>& arguments) {
  CLI::App* create = AddProjectCommand(
      line, "create", "build the library of icons 3000 to 4999 from the project's sources",
      arguments);
  AddJobsOption(create, *arguments,
                "threads that prepare icons ahead (load, encode, pack); the files, titles "
                "and messages are the same for any N, 1 works on one thread");
  create->callback([&line, arguments] {
    line.action = [arguments](ConsoleRun& run) { return RunWorker(run, *arguments, true); };
  });
}

void AddShowCommand(CommandLine& line, const std::shared_ptr<Arguments>& arguments) {
  CLI::App* show = AddProjectCommand(
      line, "show",
      "export the icons of 3000 to 4999 that have an entry as PCX (or PNG) files named by FPCX "
      "(in the project's folder unless --into is given); never over an existing file without "
      "--force",
      arguments);
  show->add_option("--into", arguments->into,
                   "write the export tree and the files under DIR instead (made when missing)")
      ->option_text("DIR");
  show->add_flag("-f,--force", arguments->force,
                 "overwrite files that exist (without it nothing is written when one does)");
  show->add_flag("-a,--all", arguments->all,
                 "write every icon of 3000 to 4999 as the window does, an icon without entry "
                 "as the picture before it (default: only the icons with an entry)");
  show->add_option("--format", arguments->format,
                   "pcx (default) or png: PNG files are named by FPCX with .png for its .pcx "
                   "(added where it has none)")
      ->option_text("pcx|png")
      ->transform(CLI::IsMember({"pcx", "png"}, CLI::ignore_case));
  show->add_flag("--alpha", arguments->alpha,
                 "with --format png: the black pixels of masked icons (0-masked, X-masked, "
                 "whose black is never drawn) see-through; otherwise black stays black");
  AddJobsOption(show, *arguments,
                "threads that load and encode icons ahead; the files, titles and messages are "
                "the same for any N, 1 works on one thread");
  show->callback([&line, arguments] {
    if (arguments->alpha && arguments->format != "png") {
      throw CLI::ValidationError("--alpha", "needs --format png");
    }
    line.action = [arguments](ConsoleRun& run) { return Show(run, *arguments); };
  });
}

void AddCheckCommand(CommandLine& line, const std::shared_ptr<Arguments>& arguments) {
  CLI::App* check =
      AddProjectCommand(line, "check", "check the block files of the project's library", arguments);
  check->callback([&line, arguments] {
    line.action = [arguments](ConsoleRun& run) { return RunWorker(run, *arguments, false); };
  });
}

void AddSaveCommand(CommandLine& line, const std::shared_ptr<Arguments>& arguments) {
  CLI::App* save = AddProjectCommand(
      line, "save", "save one icon of the library as a 24-bit PCX file (PNG when OUT ends in .png)",
      arguments);
  save->add_option("ICON", arguments->icon, "the icon number, 0 to 20000")
      ->required()
      ->check(CLI::Range(0, kGoToLastIcon));
  save->add_option("OUT", arguments->out,
                   "the PCX file to write, or the PNG file when its name ends in .png (named from "
                   "where zgl starts); - writes it to standard output, which must not be a "
                   "terminal")
      ->required();
  save->add_flag("-f,--force", arguments->force,
                 "overwrite OUT if it exists (never a file of the project's library)");
  save->add_option("--format", arguments->save_format,
                   "pcx or png, whatever OUT's name (default: png for a name ending in .png, "
                   "else pcx)")
      ->option_text("pcx|png")
      ->transform(CLI::IsMember({"pcx", "png"}, CLI::ignore_case));
  save->callback([&line, arguments] {
    line.data_on_stdout = arguments->out == kStandardOutputName;
    line.action = [arguments](ConsoleRun& run) { return Save(run, *arguments); };
  });
}

}  // namespace

void AddLibraryCommands(CommandLine& line) {
  // The commands fill one set of arguments: only the one given runs.
  auto arguments = std::make_shared<Arguments>();
  AddCreateCommand(line, arguments);
  AddShowCommand(line, arguments);
  AddCheckCommand(line, arguments);
  AddSaveCommand(line, arguments);
}

}  // namespace zemlo::console
