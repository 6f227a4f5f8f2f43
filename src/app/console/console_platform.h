// What the zgl program needs from the platform beyond the file layer: the stop requests that
// come from outside, and what the standard streams are.
#pragma once

#include <atomic>
#include <cstdio>
#include <optional>
#include <string_view>

namespace zemlo::console {

// Why the process was asked to stop. POSIX: SIGINT (Ctrl-C) is kInterrupt, SIGTERM (kill,
// timeout, a cancelled CI job) kTerminate, SIGHUP (the terminal went away) kHangUp. Windows:
// Ctrl-C and Ctrl-Break are kInterrupt; the console window closing, log-off and shut-down
// kHangUp.
enum class StopCause { kNone, kInterrupt, kTerminate, kHangUp };

// Every stop request from outside sets `stop` (the running command's stop request) and is
// remembered; the process goes on, so the run in hand finishes the icon in hand, closes its
// block and writes its tables. Later requests do the same. On POSIX a reader of stdout that
// went away (SIGPIPE) no longer ends the process either: the run goes on without its titles.
// On Windows the system ends the process a few seconds after the console window closed (or
// the session ended), whatever it is doing then; until then the run goes on towards its end.
void InstallStopHandlers(std::atomic<bool>& stop);

// Stop requests no longer touch the flag InstallStopHandlers was given (its owner is about to
// end); they are still remembered. Returns once no handler is setting it any more: a request
// handled on another thread at that moment has finished with it.
void ForgetStopTarget();

// The handlers for the life of a command's session: a request that comes after the command
// ended (a second Ctrl-C, a signal sent twice) must not write into a session that is gone.
class StopHandlers {
 public:
  explicit StopHandlers(std::atomic<bool>& stop) { InstallStopHandlers(stop); }
  ~StopHandlers() { ForgetStopTarget(); }
  StopHandlers(const StopHandlers&) = delete;
  StopHandlers& operator=(const StopHandlers&) = delete;
};

// The first stop request that came, kNone when none did.
StopCause FirstStopRequest();
inline bool Interrupted() { return FirstStopRequest() != StopCause::kNone; }

// What stdout and stderr are, looked at once before anything is written.
struct StandardStreams {
  bool out_terminal = false;  // stdout is a terminal (on Windows a console)
  bool err_same = false;      // stderr is that same terminal
  // The terminal takes the escape codes that clear a line: TERM is set and not "dumb" (on
  // Windows: not "dumb", and the console could be switched to take them).
  bool escapes = false;
};
StandardStreams LookAtStandardStreams();

// The columns of the terminal that stdout is, 0 when it tells none.
int StdoutColumns();

// Makes stdout carry bytes as they are (no line-end translation on Windows).
void StdoutToBinary();

// Writes the text `text` to `stream` past the C runtime, where the runtime would spend more
// than the write on it: on Windows a character device that is no console (NUL, a serial
// port) in text mode, which the runtime asks at every write whether it is a console (a
// request to Wine's server each). Lines end in CR LF there, as the runtime writes them.
// Whether it was written; nothing (and nothing written) where the runtime's own write is the
// way: a console, a file, a pipe, a binary stream, and on POSIX always.
std::optional<bool> WriteTextPastRuntime(std::FILE* stream, std::string_view text);

#if defined(_WIN32)
// The console control handler that InstallStopHandlers registers, callable by the tests:
// whether it handled the event. For the close, log-off and shut-down events it never returns.
int OnConsoleEvent(unsigned long event);
#endif

}  // namespace zemlo::console
