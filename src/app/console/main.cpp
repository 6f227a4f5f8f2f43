// zgl: the creator's commands for batch builds and terminals.
//
//   zgl create PROJECT.zgl | show PROJECT.zgl | check PROJECT.zgl | verify PROJECT.zgl
//   zgl report [--force] PROJECT.zgl OUTDIR
//   zgl save PROJECT.zgl ICON OUT.pcx | font PICTURE.pcx FONT.fnt | help | --version
//
// Exit status: 0 the command ran and showed no warning; 1 it showed a warning or could not
// run; 2 usage error; 130 stopped with Ctrl-C (the icon in hand was finished and stored).
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/commands.h"
#include "app/console/console_platform.h"
#include "app/console/console_port.h"
#include "app/console/verify_command.h"
#include "app/picture_commands.h"
#include "app/session.h"
#include "library/entry_loading.h"

#ifndef ZGL_VERSION
#define ZGL_VERSION "unknown"
#endif

namespace zemlo::console {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitWarned = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as shells report it

constexpr const char* kUsage =
    "usage: zgl [--verbose] COMMAND ARGUMENTS\n"
    "  zgl create PROJECT.zgl           build the library of icons 3000 to 4999\n"
    "  zgl show PROJECT.zgl             export icons 3000 to 4999 as PCX files under IFF\n"
    "  zgl check PROJECT.zgl            check the block files of icons 3000 to 4999\n"
    "  zgl verify PROJECT.zgl           verify every entry of the library in depth\n"
    "  zgl report [--force] PROJECT.zgl OUTDIR  write OUTDIR/index.html and a PNG per icon\n"
    "  zgl save PROJECT.zgl ICON OUT.pcx  save one icon of the library as a 24-bit PCX file\n"
    "  zgl font PICTURE.pcx FONT.fnt    build a font file from a picture of characters\n"
    "  zgl help                         what the commands do\n"
    "  zgl --version\n"
    "Names inside PROJECT.zgl are relative to its folder; the library is written there.\n"
    "Titles go to stdout and warnings to stderr (on a terminal: a live status line;\n"
    "--verbose prints every title too). Ctrl-C stops after the icon in hand.\n";

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "zgl: %s\n", problem);
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

int Outcome(const ConsolePort& port) {
  if (Interrupted()) return kExitInterrupted;
  return port.warnings() > 0 ? kExitWarned : kExitOk;
}

// Enters the project's folder; the info file is then opened by its own name from there.
std::optional<std::string> EnterFolder(const char* project) {
  auto name = EnterProjectFolder(project);
  if (!name) std::fprintf(stderr, "zgl: cannot enter the folder of %s\n", project);
  return name;
}

int RunWorker(Session& session, ConsolePort& port, const char* project, bool create) {
  if (Interrupted()) return kExitInterrupted;
  const auto name = EnterFolder(project);
  if (!name) return kExitWarned;
  const std::string shown = ChosenName(project);
  const bool started = create ? StartCreateZgl(session, name->c_str(), shown.c_str())
                              : StartIntegrityCheck(session, name->c_str(), shown.c_str());
  if (!started) return port.warnings() > 0 || !Interrupted() ? kExitWarned : kExitInterrupted;
  session.WaitForWorker();
  port.FinishLine();
  return Outcome(port);
}

int Show(Session& session, ConsolePort& port, const char* project) {
  const auto name = EnterFolder(project);
  if (!name) return kExitWarned;
  const std::string shown = ChosenName(project);
  const bool exported = ShowZgl(session, name->c_str(), shown.c_str(), /*stoppable=*/true);
  port.FinishLine();
  if (!exported) return kExitWarned;
  return Outcome(port);
}

bool ParseIcon(std::string_view text, int& icon) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), icon);
  return error == std::errc() && end == text.data() + text.size() && icon >= 0 &&
         icon <= kGoToLastIcon;
}

int Save(Session& session, ConsolePort& port, const char* project, const char* icon_text,
         const char* out) {
  int icon = 0;
  if (!ParseIcon(icon_text, icon)) return Usage("ICON must be a number from 0 to 20000");
  // The output is named from where zgl was started, the library from its project's folder.
  std::error_code error;
  const std::string out_path = std::filesystem::absolute(out, error).string();
  if (error) return Usage("cannot name the output file");
  const auto name = EnterFolder(project);
  if (!name) return kExitWarned;
  const std::string shown = ChosenName(project);
  EnterViewerMode(session);
  if (!LoadProject(session, name->c_str(), shown.c_str(), ProjectUse::kShow)) {
    return kExitWarned;
  }
  WorkingState& state = session.state();
  if (!LoadEntry(icon, session.settings(), state)) {
    std::fprintf(stderr, "zgl: icon %d could not be loaded; nothing saved\n", icon);
    return kExitWarned;
  }
  const int before = port.warnings();
  const bool written = SavePictureAsPcx(state, out_path.c_str());
  // The success is told in a box of its own, which is no warning here.
  const int warnings = port.warnings() - before - (written ? 1 : 0);
  if (!written || warnings > 0) return kExitWarned;
  return before > 0 ? kExitWarned : kExitOk;
}

int Font(Session& session, ConsolePort& port, const char* picture, const char* font) {
  WorkingState& state = session.state();
  const auto length = BuildFont(state, picture);
  if (!length) return kExitWarned;
  if (!SaveFont(state, font, *length)) return kExitWarned;
  return Outcome(port);
}

int Main(int argc, char** argv) {
  bool verbose = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "--verbose" || arg == "-v") {
      verbose = true;
    } else {
      args.emplace_back(arg);
    }
  }
  if (args.empty()) return Usage("no command given");
  const std::string& command = args[0];
  const std::size_t count = args.size() - 1;
  if (command == "--version") {
    std::printf("zgl (ZEMLO Creator) %s\n", ZGL_VERSION);
    return kExitOk;
  }
  if (command == "help" && count == 0) {
    std::fputs(kHelpText.data(), stdout);
    std::fputs("\n", stdout);
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  // verify and report run on the caller's thread with a port and session of their own.
  if (command == "verify") {
    if (count != 1) return Usage("give one project info file");
    return RunVerify(args[1].c_str(), verbose);
  }
  if (command == "report") {
    std::vector<std::string> rest(args.begin() + 1, args.end());
    const bool force = std::erase(rest, "--force") > 0;
    if (rest.size() != 2) return Usage("report takes [--force] PROJECT.zgl OUTDIR");
    return RunReport(rest[0].c_str(), rest[1].c_str(), force, verbose);
  }
  const bool project_command = command == "create" || command == "show" || command == "check";
  if (project_command && count != 1) return Usage("give one project info file");
  if (command == "save" && count != 3) return Usage("save takes PROJECT.zgl ICON OUT.pcx");
  if (command == "font" && count != 2) return Usage("font takes PICTURE.pcx FONT.fnt");
  if (!project_command && command != "save" && command != "font") {
    return Usage(command == "--help" || command == "-h" ? nullptr : "unknown command");
  }

  const bool live = StderrIsTerminal();
  ConsolePort port(stdout, stderr, live, verbose);
  Session session(port);
  InstallInterruptHandler(session.state().stop_request);
  if (command == "create") return RunWorker(session, port, args[1].c_str(), true);
  if (command == "check") return RunWorker(session, port, args[1].c_str(), false);
  if (command == "show") return Show(session, port, args[1].c_str());
  if (command == "save") {
    return Save(session, port, args[1].c_str(), args[2].c_str(), args[3].c_str());
  }
  return Font(session, port, args[1].c_str(), args[2].c_str());
}

}  // namespace
}  // namespace zemlo::console

int main(int argc, char** argv) { return zemlo::console::Main(argc, argv); }
