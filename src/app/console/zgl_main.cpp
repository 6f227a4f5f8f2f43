// zgl: the creator's commands for batch builds and terminals.
//
//   zgl [--verbose|--quiet] create PROJECT.zgl | show PROJECT.zgl [--into DIR] [--force] [--all]
//                                        [--format pcx|png [--alpha]]
//   zgl [--verbose|--quiet] check PROJECT.zgl
//   zgl [--verbose] save PROJECT.zgl ICON OUT.pcx|OUT.png [--force]
//   zgl [--verbose] font PICTURE.pcx FONT.fnt [--force]
//   zgl verify [--repair] PROJECT.zgl | report PROJECT.zgl OUTDIR [--force]
//   zgl repair PROJECT.zgl
//   zgl lint PROJECT.zgl
//   zgl help [formats|COMMAND] | --help | COMMAND --help | -V, --version
//
// Exit status: 0 the command ran and showed no warning; 1 it showed a warning, refused or
// could not run; 2 usage error; after a stop request from outside, once the icon in hand was
// finished and stored: 130 Ctrl-C (and Ctrl-Break), 143 SIGTERM, 129 SIGHUP or a closed
// console.
#include "app/console/zgl_main.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/console/command_line.h"
#include "app/console/console_output.h"
#include "app/console/console_platform.h"
#include "app/console/console_port.h"
#include "app/console/help_topics.h"
#include "app/console/verify_command.h"
#include "app/session.h"
#include "core/edit_distance.h"

#ifndef ZGL_VERSION
#define ZGL_VERSION "unknown"
#endif

namespace zemlo::console {

namespace {

constexpr const char* kProjectNames =
    "Names inside PROJECT.zgl are relative to its folder; the library is written there.";

constexpr const char* kFooter =
    "Names inside PROJECT.zgl are relative to its folder; the library is written there.\n"
    "Titles go to stdout, one line per icon (--verbose: every title, --quiet: none), messages\n"
    "to stderr; create and check end with a summary line there. When stdout is a terminal a\n"
    "live status line on it shows the progress instead of the titles; a file or a pipe gets\n"
    "every line. TERM=dumb: lines, no live line.\n"
    "Ctrl-C, SIGTERM and SIGHUP stop after the icon in hand; the library stays whole, and the\n"
    "last line names the last icon finished.\n"
    "Exit status: 0 done, 1 a warning or a refusal (verify and report: findings, repair:\n"
    "damage left), 2 usage error, 130 Ctrl-C, 143 SIGTERM, 129 SIGHUP; zgl help exit tells\n"
    "each command's.";

constexpr const char* kSeeHelp = "zgl --help lists the commands; zgl COMMAND --help explains one.";

}  // namespace

std::string NearestCommand(std::string_view word, const std::vector<std::string>& commands) {
  std::string best;
  std::size_t best_distance = 3;  // a suggestion is at most two edits away
  for (const std::string& command : commands) {
    const std::size_t edits = EditDistance(word, command);
    if (edits < best_distance && edits < command.size()) {
      best = command;
      best_distance = edits;
    }
  }
  return best;
}

namespace {

// CLI11's own texts (help, version), put out the way every other text is, so that a failed
// write to stdout is noticed with its reason.
int ExitWithText(const CLI::App& app, const CLI::Error& e) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = app.exit(e, out, err);
  if (!out.str().empty()) PrintText(stdout, out.str());
  if (!err.str().empty()) PrintText(stderr, err.str());
  return status;
}

// CLI11's words for what is wrong with the command line; a word that names no command reads
// better as "unknown command" (with the nearest one) than as "A subcommand is required".
std::string UsageProblem(CLI::App& app, const CLI::ParseError& e, int argc, char** argv) {
  const bool unknown = app.get_subcommands().empty() && argc > 1 && argv[1][0] != '-';
  if (!unknown) return e.what();
  std::string problem = "unknown command " + std::string(argv[1]);
  std::vector<std::string> commands;
  for (const CLI::App* command : app.get_subcommands({})) commands.push_back(command->get_name());
  const std::string meant = NearestCommand(argv[1], commands);
  if (!meant.empty()) problem += "; did you mean " + meant + "?";
  return problem;
}

// Runs the command the line chose, with its output laid out for where it goes.
int RunAction(const CommandLine& line, bool verbose, bool quiet) {
  const StandardStreams streams = LookAtStandardStreams();
  ConsoleLook look;
  // Where stdout carries a file's bytes, the titles go to stderr with the messages, as lines.
  look.live = !line.data_on_stdout && streams.out_terminal && streams.escapes;
  look.shared = streams.err_same;
  look.verbose = verbose;
  look.quiet = quiet;
  look.columns = [] { return TerminalWidth(StdoutColumns(), std::getenv("COLUMNS")); };
  ConsolePort port(line.data_on_stdout ? stderr : stdout, stderr, std::move(look));
  Session session(port);
  // Let go before the session ends: a request may come while the process finishes.
  const StopHandlers stop_handlers(session.state().stop_request);
  ConsoleRun run{port, session, streams.out_terminal};
  return line.action(run);
}

int RunCommandLine(int argc, char** argv) {
  CLI::App app("The ZEMLO Creator's commands for batch builds and terminals.", "zgl");
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  app.footer(kFooter);
  app.set_version_flag("-V,--version", std::string("zgl (ZEMLO Creator) ") + ZGL_VERSION);
  bool verbose = false;
  CLI::Option* verbose_flag =
      app.add_flag("-v,--verbose", verbose, "print every title, the packer's progress included");
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet,
               "print no titles and no live status line: warnings, zgl's own lines and the "
               "summary only")
      ->excludes(verbose_flag);

  CommandLine line{app, {}};
  AddLibraryCommands(line);
  AddVerifyCommands(line);
  AddRepairCommand(line);
  AddLintCommand(line);
  AddOtherCommands(line);
  // Each command's help ends with what its own exit statuses mean, not the program's.
  for (CLI::App* command : app.get_subcommands({})) {
    const std::string name = command->get_name();
    const bool in_project = name != "font" && name != "help";
    command->footer((in_project ? std::string(kProjectNames) + "\n" : std::string()) +
                    std::string(CommandExitHelp(name)));
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return ExitWithText(app, e);  // to stdout, status 0
  } catch (const CLI::CallForAllHelp& e) {
    return ExitWithText(app, e);
  } catch (const CLI::CallForVersion& e) {
    return ExitWithText(app, e);
  } catch (const CLI::ParseError& e) {
    PrintText(stderr, "zgl: " + UsageProblem(app, e, argc, argv) + "\n" + kSeeHelp + "\n");
    return kExitUsage;
  }
  if (!line.action) return kExitUsage;
  return RunAction(line, verbose, quiet);
}

}  // namespace

int ZglMain(int argc, char** argv) {
  BufferStandardStreams();
  return FinishStandardOutput(RunCommandLine(argc, argv));
}

}  // namespace zemlo::console
