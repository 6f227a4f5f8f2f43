// The zgl command line. Each command adds its subcommand to the program's CLI11 app together
// with the action that runs it when it is the one given; ZglMain reads the line, then makes
// the status port and the session and runs that action. A new command lives in a file of its
// own and is added in ZglMain with one call.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

#include "app/console/exit_status.h"

namespace zemlo {
class Session;
}

namespace zemlo::console {

class ConsolePort;

// What an action runs with, made once the line was read.
struct ConsoleRun {
  ConsolePort& port;
  Session& session;
  // stdout is a terminal (on Windows a console; NUL takes bytes as a file does), as the
  // program found it at its start.
  bool stdout_terminal = false;
};
using CommandAction = std::function<int(ConsoleRun&)>;

struct CommandLine {
  CLI::App& app;
  CommandAction action;  // the given subcommand's, set while the line is read
  // The command writes a file's bytes to stdout ("-" for its output), so nothing else may.
  bool data_on_stdout = false;
};

// create, show, check, save.
void AddLibraryCommands(CommandLine& line);
// font, help.
void AddOtherCommands(CommandLine& line);
// lint.
void AddLintCommand(CommandLine& line);
// repair (repair_command.h).
void AddRepairCommand(CommandLine& line);

}  // namespace zemlo::console
