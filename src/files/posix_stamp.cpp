#include <sys/stat.h>

#include "files/file_stamp.h"

namespace zemlo::files {

std::optional<FileStamp> StampOf(std::FILE* file) {
  struct stat st;
  if (file == nullptr || ::fstat(::fileno(file), &st) != 0) return std::nullopt;
  auto nanoseconds = [](const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  };
  return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                   static_cast<std::int64_t>(st.st_size), nanoseconds(st.st_mtim),
                   nanoseconds(st.st_ctim)};
}

}  // namespace zemlo::files
