#include "app/console/console_platform.h"

#include <csignal>

#ifdef _WIN32
#include <io.h>
#include <stdio.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace zemlo::console {
namespace {

// The handler may only touch lock-free atomics.
std::atomic<bool>* g_stop = nullptr;
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  g_interrupted.store(true);
  if (g_stop != nullptr) g_stop->store(true);
#ifdef _WIN32
  // The Windows runtime resets the handler before calling it: a second Ctrl-C must still
  // only stop, never end the process in the middle of a block.
  std::signal(SIGINT, OnInterrupt);
#endif
}

}  // namespace

void InstallInterruptHandler(std::atomic<bool>& stop) {
  g_stop = &stop;
#ifdef _WIN32
  std::signal(SIGINT, OnInterrupt);
#else
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
#endif
}

bool Interrupted() { return g_interrupted.load(); }

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace zemlo::console
