// Why a file could not be opened, read or written, in words a user can act on. The layer's
// calls that the front ends report on give one of these beside their result; the console says
// its text after the message, the window keeps its boxes as they are.
#pragma once

#include <cstdint>
#include <string_view>

namespace zemlo::files {

enum class FileProblem : std::uint8_t {
  kNone,
  kNoSuchFile,
  kNoSuchFolder,  // a folder on the way is missing
  kNotAFolder,    // something on the way is a file
  kPermissionDenied,
  kIsAFolder,       // a folder stands where a file was meant
  kNotRegularFile,  // a device, a FIFO, a socket
  kLinkRefused,     // a symbolic link (or junction) stands in the way; never followed
  kExists,          // something stands at a name that must be new
  kDiskFull,
  kTooLarge,  // past the largest file the system or the medium takes
  kReadOnly,  // a read-only file system or a write-protected medium
  kInUse,     // another program holds the file (Windows sharing)
  kNameTooLong,
  kBadName,  // a name the system cannot take at all
  kTooManyOpen,
  kBrokenPipe,   // the reader at the other end went away
  kInputOutput,  // the device gave an error
  kOther,
};

// The words for `problem`, lower case, without a full stop ("no such folder"); empty for
// kNone.
[[nodiscard]] std::string_view FileProblemText(FileProblem problem);

// The problem an errno value stands for. ENOENT gives kNoSuchFile: only the caller can tell
// whether the file or a folder on its way is missing.
[[nodiscard]] FileProblem ProblemOfErrno(int error);

#if defined(_WIN32)
// The problem a GetLastError code stands for (the Windows half of the file layer).
[[nodiscard]] FileProblem ProblemOfSystemError(std::uint32_t code);
#endif

}  // namespace zemlo::files
