// zgl: the creator's commands for batch builds and terminals.
//
//   zgl [--verbose] create PROJECT.zgl | show PROJECT.zgl [--into DIR] [--force] [--all]
//                                        [--format pcx|png [--alpha]]
//   zgl [--verbose] check PROJECT.zgl
//   zgl [--verbose] save PROJECT.zgl ICON OUT.pcx|OUT.png [--force]
//   zgl [--verbose] font PICTURE.pcx FONT.fnt [--force]
//   zgl verify PROJECT.zgl | report PROJECT.zgl OUTDIR [--force]
//   zgl help | --help | COMMAND --help | --version
//
// Exit status: 0 the command ran and showed no warning; 1 it showed a warning, refused or
// could not run; 2 usage error; after a stop request from outside, once the icon in hand was
// finished and stored: 130 Ctrl-C (and Ctrl-Break), 143 SIGTERM, 129 SIGHUP or a closed
// console.
#include "app/console/zgl_main.h"

#include <cstdio>
#include <string>

#include "app/console/command_line.h"
#include "app/console/console_output.h"
#include "app/console/console_platform.h"
#include "app/console/console_port.h"
#include "app/console/verify_command.h"
#include "app/session.h"

#ifndef ZGL_VERSION
#define ZGL_VERSION "unknown"
#endif

namespace zemlo::console {

namespace {

constexpr const char* kFooter =
    "Names inside PROJECT.zgl are relative to its folder; the library is written there.\n"
    "Titles go to stdout, one line per icon (--verbose: every title), messages to stderr;\n"
    "on a terminal a live status line shows the progress instead.\n"
    "Ctrl-C, SIGTERM and SIGHUP stop after the icon in hand; the library stays whole.\n"
    "Exit status: 0 done, 1 a warning or a refusal, 2 usage error, 130 Ctrl-C,\n"
    "143 SIGTERM, 129 SIGHUP.";

constexpr const char* kSeeHelp = "zgl --help lists the commands; zgl COMMAND --help explains one.";

}  // namespace

int ZglMain(int argc, char** argv) {
  BufferStandardStreams();
  CLI::App app("The ZEMLO Creator's commands for batch builds and terminals.", "zgl");
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("zgl (ZEMLO Creator) ") + ZGL_VERSION);
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "print every title, the packer's progress included");

  CommandLine line{app, {}};
  AddLibraryCommands(line);
  AddVerifyCommands(line);
  AddOtherCommands(line);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);  // to stdout, status 0
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // A word that names no command reads better than CLI11's "A subcommand is required".
    const bool unknown = app.get_subcommands().empty() && argc > 1 && argv[1][0] != '-';
    const std::string problem = unknown ? "unknown command " + std::string(argv[1]) : e.what();
    PrintText(stderr, "zgl: " + problem + "\n" + kSeeHelp + "\n");
    return kExitUsage;
  }
  if (!line.action) return kExitUsage;

  ConsolePort port(stdout, stderr, StderrIsTerminal(), verbose);
  Session session(port);
  InstallStopHandlers(session.state().stop_request);
  ConsoleRun run{port, session};
  return line.action(run);
}

}  // namespace zemlo::console
