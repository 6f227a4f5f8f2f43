#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/console/console_platform.h"

namespace zemlo::console {
namespace {

// The handler runs on a thread of its own that the system starts for each event.
std::atomic<bool>* g_stop = nullptr;
std::atomic<int> g_first{static_cast<int>(StopCause::kNone)};

void Record(StopCause cause) {
  int none = static_cast<int>(StopCause::kNone);
  g_first.compare_exchange_strong(none, static_cast<int>(cause));
  if (g_stop != nullptr) g_stop->store(true);
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
  g_stop = &stop;
  // A process started in a new process group has Ctrl-C switched off: it must stop too.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(HandleConsoleEvent, TRUE);
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

void StdoutToBinary() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace zemlo::console
