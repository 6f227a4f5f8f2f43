// zgl_docs ZGL MAN_PAGE COMPLETION: runs the zgl program given for its help screens and help
// topics and writes from them its manual page and its bash completion. Part of the native
// build only: it runs the zgl just built.
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>

#include "app/console/docs/bash_completion.h"
#include "app/console/docs/help_screen.h"
#include "app/console/docs/man_page.h"

namespace {

using zemlo::console::docs::BashCompletion;
using zemlo::console::docs::HelpScreen;
using zemlo::console::docs::ManPage;
using zemlo::console::docs::ParseHelpScreen;
using zemlo::console::docs::ProgramHelp;

// What `zgl ARGUMENTS` prints on standard output; false when it could not be run or failed.
bool Run(const std::string& zgl, const std::string& arguments, std::string& out) {
  // The program and the words are ours (a build path and fixed words), quoted for the shell.
  std::FILE* pipe = popen(("'" + zgl + "' " + arguments).c_str(), "r");
  if (pipe == nullptr) return false;
  out.clear();
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = pclose(pipe);
  if (status != 0) {
    std::fprintf(stderr, "zgl_docs: %s %s failed (status %d)\n", zgl.c_str(), arguments.c_str(),
                 status);
    return false;
  }
  // The help names the processors of the machine it runs on; the page is for any machine.
  static const std::regex kProcessors("the machine's [0-9]+ processors");
  out = std::regex_replace(out, kProcessors, "the machine's processors");
  return true;
}

bool Write(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) std::fprintf(stderr, "zgl_docs: cannot write %s\n", path.c_str());
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: zgl_docs ZGL MAN_PAGE COMPLETION\n");
    return 2;
  }
  const std::string zgl = argv[1];
  ProgramHelp help;
  std::string text;
  if (!Run(zgl, "--version", help.version) || !Run(zgl, "--help", text)) return 1;
  help.program = ParseHelpScreen(text);
  if (help.program.commands.empty()) {
    std::fprintf(stderr, "zgl_docs: zgl --help lists no commands\n");
    return 1;
  }
  for (const auto& command : help.program.commands) {
    if (!Run(zgl, command.names[0] + " --help", text)) return 1;
    help.commands.push_back(ParseHelpScreen(text));
  }
  if (!Run(zgl, "help tags", help.tags) || !Run(zgl, "help formats", help.formats) ||
      !Run(zgl, "help exit", help.exit)) {
    return 1;
  }
  return Write(argv[2], ManPage(help)) && Write(argv[3], BashCompletion(help)) ? 0 : 1;
}
