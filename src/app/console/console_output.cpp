#include "app/console/console_output.h"

#include <cerrno>
#include <iostream>

#include "app/console/console_platform.h"
#include "app/console/exit_status.h"
#include "files/file_problem.h"

namespace zemlo::console {
namespace {

// errno of the first failed write to stdout; 0 while none failed.
int g_stdout_error = 0;
bool g_stdout_failed = false;

void NoteStdoutFailure(int error) {
  if (g_stdout_failed) return;
  g_stdout_failed = true;
  g_stdout_error = error;
}

}  // namespace

void BufferStandardStreams() {
#if defined(_WIN32)
  // Full buffering (the runtime knows no line buffering); every writer here flushes what it
  // wrote, so nothing waits in the buffer for long.
  constexpr std::size_t kBufferSize = 1 << 16;
  std::setvbuf(stdout, nullptr, _IOFBF, kBufferSize);
  std::setvbuf(stderr, nullptr, _IOFBF, kBufferSize);
#endif
}

bool PrintText(std::FILE* stream, std::string_view text) {
  if (const std::optional<bool> direct = WriteTextPastRuntime(stream, text)) {
    if (!*direct && stream == stdout) NoteStdoutFailure(EIO);
    return *direct;
  }
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  const bool flushed = std::fflush(stream) == 0;
  if ((!written || !flushed) && stream == stdout) NoteStdoutFailure(errno);
  return flushed && written;
}

int FinishStandardOutput(int status) {
  errno = 0;
  std::cout.flush();
  if (!std::cout) NoteStdoutFailure(errno);
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) NoteStdoutFailure(errno);
  if (!g_stdout_failed) return status;
  std::string_view reason = files::FileProblemText(files::ProblemOfErrno(g_stdout_error));
  if (reason.empty()) reason = files::FileProblemText(files::FileProblem::kOther);
  const std::string line = "zgl: standard output: " + std::string(reason) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return status == kExitOk ? kExitWarned : status;
}

}  // namespace zemlo::console
