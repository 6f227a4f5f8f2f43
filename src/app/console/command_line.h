// The zgl command line. Each command adds its subcommand to the program's CLI11 app together
// with the action that runs it when it is the one given; main reads the line, then makes the
// status port and the session and runs that action. A new command lives in a file of its own
// and is added in main with one call.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace zemlo {
class Session;
}

namespace zemlo::console {

class ConsolePort;

inline constexpr int kExitOk = 0;
// A warning was shown, or the command refused or could not run.
inline constexpr int kExitWarned = 1;
inline constexpr int kExitUsage = 2;
// 128 + the signal number, as shells report a process ended by it; here the process ended
// on its own after the run in hand was finished.
inline constexpr int kExitHangUp = 129;     // SIGHUP; on Windows the console closed
inline constexpr int kExitInterrupt = 130;  // SIGINT, Ctrl-C; on Windows also Ctrl-Break
inline constexpr int kExitTerminate = 143;  // SIGTERM

// What an action runs with, made once the line was read.
struct ConsoleRun {
  ConsolePort& port;
  Session& session;
};
using CommandAction = std::function<int(ConsoleRun&)>;

struct CommandLine {
  CLI::App& app;
  CommandAction action;  // the given subcommand's, set while the line is read
};

// create, show, check, save.
void AddLibraryCommands(CommandLine& line);
// font, help.
void AddOtherCommands(CommandLine& line);

// The exit status after a stop request from outside (kExitInterrupt and the others), 0 when
// none came.
int StoppedStatus();

// The exit status of a command that ran: a stop request decides it; otherwise kExitWarned
// when the port showed a warning, kExitOk when not.
int Outcome(const ConsolePort& port);

}  // namespace zemlo::console
