// zgl's exit statuses and how a command's outcome maps onto them.
#pragma once

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

// The exit status after a stop request from outside (kExitInterrupt and the others), 0 when
// none came.
int StoppedStatus();

// The exit status of a command that ran: a stop request decides it; otherwise kExitWarned
// when the port showed a warning, kExitOk when not.
int Outcome(const ConsolePort& port);

}  // namespace zemlo::console
