// Output files on Windows, never written through a link.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "files/file_layer.h"
#include "files/file_names.h"
#include "files/file_seam.h"
#include "files/win32_listings.h"
#include "files/win32_problems.h"

// ---- Outputs ----------------------------------------------------------------------------
// Each folder on the way is looked at before it is used: one that is a reparse point (a
// symbolic link or a junction) is refused. The file is created with CREATE_NEW, which fails
// on anything standing at its name, and FILE_FLAG_OPEN_REPARSE_POINT, so that nothing is
// opened through a link. Unlike the POSIX half this looks at each folder by its whole name,
// so a folder swapped for a link between the look and the use is not noticed.

namespace zemlo::files {
namespace {

// Beside a file being replaced; the move over it never crosses volumes.
constexpr const char* kOutputTemporarySuffix = ".zgl-out";

// The parts of a relative output name (SplitRelativeName); a name on a drive or naming a
// stream of a file (a ":" anywhere) is no relative name here.
bool SplitOutputName(const char* name, std::vector<std::string>& parts) {
  return name != nullptr && std::strchr(name, ':') == nullptr && SplitRelativeName(name, parts);
}

enum class Kind { kMissing, kFile, kFolder, kLink, kError };

Kind KindAt(const std::string& path) {
  const DWORD attributes = AttributesOf(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::kMissing
                                                                          : Kind::kError;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Kind::kLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Kind::kFolder;
  return Kind::kFile;
}

std::string BaseOf(const char* base) {
  std::string path = base == nullptr ? std::string() : base;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path;
}

// Through the folders of `parts` but the last (all with `all`), made when missing and `make`;
// `path` ends up naming the last folder reached (ending in '\\'), `relative` the same below
// the base.
OutputResult WalkFolders(const std::vector<std::string>& parts, bool all, bool make,
                         std::string& path, std::string& relative, std::string* blocker,
                         bool* missing = nullptr, FileProblem* problem = nullptr) {
  const std::size_t count = all ? parts.size() : parts.size() - 1;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string folder = path + parts[i];
    Kind kind = KindAt(folder);
    if (kind == Kind::kMissing && make) {
      CreateDirectoryA(folder.c_str(), nullptr);
      EntriesChanged(folder.c_str());
      kind = KindAt(folder);
    }
    switch (kind) {
      case Kind::kFolder:
        break;
      case Kind::kLink:
        if (blocker != nullptr) *blocker = relative + parts[i];
        return OutputResult::kLinkInTheWay;
      case Kind::kMissing:
        if (missing != nullptr) *missing = true;
        return Noted(problem, FileProblem::kNoSuchFolder, OutputResult::kFailed);
      case Kind::kFile:
        if (blocker != nullptr) *blocker = relative + parts[i];
        return OutputResult::kExists;
      case Kind::kError:
        return Noted(problem, LastProblem(), OutputResult::kFailed);
    }
    path = folder + "\\";
    relative += parts[i] + "\\";
  }
  return OutputResult::kWritten;
}

OutputResult CreateOutput(const std::string& path, const std::uint8_t* data, std::size_t size,
                          FileProblem* problem) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  EntriesChanged(path.c_str());
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      return Noted(problem, ProblemOfSystemError(error), OutputResult::kFailed);
    }
    return KindAt(path) == Kind::kLink ? OutputResult::kLinkInTheWay : OutputResult::kExists;
  }
  // A device name ("NUL", "COM1.pcx") opens the device: nothing is written there.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return Noted(problem, FileProblem::kNotRegularFile, OutputResult::kFailed);
  }
  bool ok = true;
  FileProblem why = FileProblem::kOther;
  while (ok && size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    ok = WriteFile(file, data, chunk, &written, nullptr) && written == chunk;
    if (!ok)
      why = written < chunk && GetLastError() == ERROR_SUCCESS ? FileProblem::kDiskFull
                                                               : LastProblem();
    data += chunk;
    size -= chunk;
  }
  if (!CloseHandle(file) && ok) {
    why = LastProblem();
    ok = false;
  }
  if (!ok) {
    DeleteFileA(path.c_str());
    EntriesChanged(path.c_str());
  }
  return ok ? OutputResult::kWritten : Noted(problem, why, OutputResult::kFailed);
}

}  // namespace

OutputResult WriteOutputFile(const char* base, const char* name, const std::uint8_t* data,
                             std::size_t size, OutputMode mode, bool make_folders,
                             std::string* blocker, FileProblem* problem) {
  if (!seam::Allow(FileOp::kOpen, name == nullptr ? std::string() : name)) {
    return Noted(problem, FileProblem::kOther, OutputResult::kFailed);
  }
  std::vector<std::string> parts;
  std::string path = BaseOf(base);
  if (path.empty() || (data == nullptr && size > 0) || !SplitOutputName(name, parts)) {
    return Noted(problem, FileProblem::kBadName, OutputResult::kFailed);
  }
  std::string relative;
  const OutputResult way =
      WalkFolders(parts, false, make_folders, path, relative, blocker, nullptr, problem);
  if (way != OutputResult::kWritten) return way;
  const std::string target = path + parts.back();
  const auto blocked = [&](OutputResult result) {
    if (blocker != nullptr) *blocker = relative + parts.back();
    return result;
  };
  switch (KindAt(target)) {
    case Kind::kMissing: {
      const OutputResult made = CreateOutput(target, data, size, problem);
      return made == OutputResult::kWritten || made == OutputResult::kFailed ? made : blocked(made);
    }
    case Kind::kLink:
      return blocked(OutputResult::kLinkInTheWay);
    case Kind::kFolder:
      return blocked(OutputResult::kExists);
    case Kind::kError:
      return Noted(problem, LastProblem(), OutputResult::kFailed);
    case Kind::kFile:
      break;
  }
  if (mode == OutputMode::kCreateNew) return blocked(OutputResult::kExists);
  // Moved over the file in one step; MoveFileEx replaces the entry at the name (should it
  // have become a link, the link itself), never a link's target.
  const std::string temporary = target + kOutputTemporarySuffix;
  DeleteFileA(temporary.c_str());
  EntriesChanged(temporary.c_str());
  FileProblem why = FileProblem::kOther;
  if (CreateOutput(temporary, data, size, &why) != OutputResult::kWritten) {
    return Noted(problem, why, OutputResult::kFailed);
  }
  const BOOL moved = MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
  EntriesChanged(temporary.c_str());
  EntriesChanged(target.c_str());
  if (!moved) {
    why = LastProblem();
    DeleteFileA(temporary.c_str());
    EntriesChanged(temporary.c_str());
    return Noted(problem, why, OutputResult::kFailed);
  }
  return OutputResult::kWritten;
}

OutputResult MakeOutputFolder(const char* base, const char* name, std::string* blocker) {
  if (!seam::Allow(FileOp::kMakeFolder, name == nullptr ? std::string() : name)) {
    return OutputResult::kFailed;
  }
  std::vector<std::string> parts;
  std::string path = BaseOf(base);
  if (path.empty() || !SplitOutputName(name, parts)) return OutputResult::kFailed;
  std::string relative;
  return WalkFolders(parts, true, true, path, relative, blocker);
}

OutputState ProbeOutput(const char* base, const char* name, std::string* blocker) {
  std::vector<std::string> parts;
  std::string path = BaseOf(base);
  if (path.empty() || !SplitOutputName(name, parts)) return OutputState::kOther;
  std::string relative;
  bool missing = false;
  switch (WalkFolders(parts, false, false, path, relative, blocker, &missing)) {
    case OutputResult::kWritten:
      break;
    case OutputResult::kLinkInTheWay:
      return OutputState::kLink;
    case OutputResult::kExists:
      return OutputState::kOther;
    case OutputResult::kFailed:
      return missing ? OutputState::kMissing : OutputState::kOther;
  }
  const Kind kind = KindAt(path + parts.back());
  if (kind != Kind::kMissing && blocker != nullptr) *blocker = relative + parts.back();
  switch (kind) {
    case Kind::kMissing:
      return OutputState::kMissing;
    case Kind::kFile:
      return OutputState::kFile;
    case Kind::kLink:
      return OutputState::kLink;
    default:
      return OutputState::kOther;
  }
}

}  // namespace zemlo::files
