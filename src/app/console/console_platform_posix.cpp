#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "app/console/console_platform.h"

namespace zemlo::console {
namespace {

// The handler may only touch lock-free atomics.
std::atomic<std::atomic<bool>*> g_stop{nullptr};
// Handlers between reading g_stop and setting what it points to: ForgetStopTarget waits for
// them, so the flag's owner may end once it returns.
std::atomic<int> g_setting{0};
std::atomic<int> g_first{static_cast<int>(StopCause::kNone)};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
              std::atomic<std::atomic<bool>*>::is_always_lock_free);

StopCause CauseOf(int signal_number) {
  switch (signal_number) {
    case SIGTERM:
      return StopCause::kTerminate;
    case SIGHUP:
      return StopCause::kHangUp;
    default:
      return StopCause::kInterrupt;
  }
}

extern "C" void OnStopSignal(int signal_number) {
  int none = static_cast<int>(StopCause::kNone);
  g_first.compare_exchange_strong(none, static_cast<int>(CauseOf(signal_number)));
  g_setting.fetch_add(1);
  if (std::atomic<bool>* stop = g_stop.load()) stop->store(true);
  g_setting.fetch_sub(1);
}

}  // namespace

void InstallStopHandlers(std::atomic<bool>& stop) {
  g_stop.store(&stop);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // One handler at a time: the first cause is decided before the next one looks.
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&action.sa_mask, signal_number);
  action.sa_flags = SA_RESTART;
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal_number, &action, nullptr);
  // Writing titles to a pipe whose reader ended must not end a run in the middle of a block.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

void ForgetStopTarget() {
  g_stop.store(nullptr);
  while (g_setting.load() != 0) std::this_thread::yield();
}

StopCause FirstStopRequest() { return static_cast<StopCause>(g_first.load()); }

StandardStreams LookAtStandardStreams() {
  StandardStreams streams;
  streams.out_terminal = isatty(STDOUT_FILENO) != 0;
  if (!streams.out_terminal) return streams;
  struct stat out {
  }, err{};
  streams.err_same = isatty(STDERR_FILENO) != 0 && fstat(STDOUT_FILENO, &out) == 0 &&
                     fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
  const char* term = std::getenv("TERM");
  streams.escapes = term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
  return streams;
}

int StdoutColumns() {
  struct winsize size {};
  return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void StdoutToBinary() {}  // POSIX streams never translate

std::optional<bool> WriteTextPastRuntime(std::FILE*, std::string_view) { return std::nullopt; }

}  // namespace zemlo::console
