#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>

#include "app/console/console_platform.h"

namespace zemlo::console {
namespace {

// The handler runs on a thread of its own that the system starts for each event.
std::atomic<std::atomic<bool>*> g_stop{nullptr};
// Handlers between reading g_stop and setting what it points to: ForgetStopTarget waits for
// them, so the flag's owner may end once it returns.
std::atomic<int> g_setting{0};
std::atomic<int> g_first{static_cast<int>(StopCause::kNone)};

void Record(StopCause cause) {
  int none = static_cast<int>(StopCause::kNone);
  g_first.compare_exchange_strong(none, static_cast<int>(cause));
  g_setting.fetch_add(1);
  if (std::atomic<bool>* stop = g_stop.load()) stop->store(true);
  g_setting.fetch_sub(1);
}

BOOL WINAPI HandleConsoleEvent(DWORD event) { return OnConsoleEvent(event); }

}  // namespace

int OnConsoleEvent(unsigned long event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      Record(StopCause::kInterrupt);
      return TRUE;  // handled: the process goes on
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      Record(StopCause::kHangUp);
      // Returning would end the process at once. Waiting here leaves the run its time: the
      // process ends when the command has finished and main returns, or when the system's
      // grace period is over.
      Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

void InstallStopHandlers(std::atomic<bool>& stop) {
  g_stop.store(&stop);
  // A process started in a new process group has Ctrl-C switched off: it must stop too.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(HandleConsoleEvent, TRUE);
}

void ForgetStopTarget() {
  g_stop.store(nullptr);
  while (g_setting.load() != 0) std::this_thread::yield();
}

StopCause FirstStopRequest() { return static_cast<StopCause>(g_first.load()); }

StandardStreams LookAtStandardStreams() {
  StandardStreams streams;
  // A console handle answers GetConsoleMode; a file, a pipe or NUL does not.
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD out_mode = 0;
  streams.out_terminal = GetConsoleMode(out, &out_mode) != 0;
  if (!streams.out_terminal) return streams;
  // A process has one console: a console handle on stderr is that one.
  DWORD err_mode = 0;
  streams.err_same = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &err_mode) != 0;
  const char* term = std::getenv("TERM");
  if (term != nullptr && std::string_view(term) == "dumb") return streams;
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
  constexpr DWORD ENABLE_VIRTUAL_TERMINAL_PROCESSING = 0x0004;
#endif
  streams.escapes = (out_mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
                    SetConsoleMode(out, out_mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  return streams;
}

int StdoutColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

namespace {

// Whether `handle` is a character device that is no console. Only the console question costs
// what the runtime's write would, so each thread keeps that answer for the last character
// devices it asked about (stdout and stderr, mostly); a handle closed and its value given to
// a file again is told by its type.
bool IsQuietDevice(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_CHAR) return false;
  struct Answer {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool console = false;
  };
  thread_local Answer answers[4];
  thread_local std::size_t next = 0;
  for (const Answer& answer : answers) {
    if (answer.handle == handle) return !answer.console;
  }
  DWORD mode = 0;
  Answer& answer = answers[next++ % std::size(answers)];
  answer.handle = handle;
  answer.console = GetConsoleMode(handle, &mode) != 0;
  return !answer.console;
}

// Whether the runtime translates line ends on the descriptor (it is in text mode).
bool InTextMode(int fd) {
  const int previous = _setmode(fd, _O_TEXT);
  if (previous != _O_TEXT && previous != -1) _setmode(fd, previous);
  return previous == _O_TEXT;
}

}  // namespace

void StdoutToBinary() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

std::optional<bool> WriteTextPastRuntime(std::FILE* stream, std::string_view text) {
  const int fd = _fileno(stream);
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (!IsQuietDevice(handle)) return std::nullopt;
  // What the runtime holds goes first, so the order stays.
  if (std::fflush(stream) != 0) return false;
  // A binary stream costs the runtime no question; its bytes go as they are.
  if (!InTextMode(fd)) return std::nullopt;
  std::string crlf;
  crlf.reserve(text.size() + text.size() / 16 + 2);
  for (const char c : text) {
    if (c == '\n') crlf.push_back('\r');
    crlf.push_back(c);
  }
  DWORD written = 0;
  return WriteFile(handle, crlf.data(), static_cast<DWORD>(crlf.size()), &written, nullptr) != 0 &&
         written == crlf.size();
}

}  // namespace zemlo::console
