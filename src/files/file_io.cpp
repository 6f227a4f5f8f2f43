// Reading and writing open streams: the same on every platform, through the seam so that a
// test can make any one of them fail.
#include <cerrno>
#include <cstdio>

#include "files/file_layer.h"
#include "files/file_seam.h"

namespace zemlo::files {

std::size_t ReadBytes(std::FILE* file, void* data, std::size_t length) {
  if (file == nullptr || length == 0) return 0;
  if (!seam::Allow(FileOp::kRead, {}, file)) return 0;
  return std::fread(data, 1, length, file);
}

namespace {

// What the C library's errno says of the call that just failed; kOther when it says nothing.
FileStatus LastProblem() {
  return ::zemlo::Fail(errno != 0 ? ProblemOfErrno(errno) : FileProblem::kOther);
}

}  // namespace

FileStatus WriteBytes(std::FILE* file, const void* data, std::size_t length) {
  if (length == 0) return {};
  if (file == nullptr || !seam::Allow(FileOp::kWrite, {}, file)) {
    return ::zemlo::Fail(FileProblem::kOther);
  }
  errno = 0;
  if (std::fwrite(data, 1, length, file) != length) return LastProblem();
  return {};
}

FileStatus CloseFile(std::FILE* file) {
  if (file == nullptr) return ::zemlo::Fail(FileProblem::kOther);
  // A refused close still lets the stream go, and tells the caller it failed.
  // The observer hears of it before the stream is gone, while the pointer still names it.
  const bool allowed = seam::Allow(FileOp::kClose, {}, file);
  seam::Done(FileOp::kClose, {}, {}, file);
  errno = 0;
  const bool closed = std::fclose(file) == 0;
  if (!closed) return LastProblem();
  if (!allowed) return ::zemlo::Fail(FileProblem::kOther);
  return {};
}

}  // namespace zemlo::files
