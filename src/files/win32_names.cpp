// The platform's own file calls; names are used exactly as the project file gives them.
// Here: the system's reasons, names and what stands at them.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "files/file_layer.h"
#include "files/file_seam.h"
#include "files/win32_listings.h"
#include "files/win32_problems.h"

namespace zemlo::files {

FileProblem ProblemOfSystemError(std::uint32_t code) {
  switch (code) {
    case ERROR_SUCCESS:
      return FileProblem::kNone;
    case ERROR_FILE_NOT_FOUND:
      return FileProblem::kNoSuchFile;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return FileProblem::kNoSuchFolder;
    case ERROR_DIRECTORY:
      return FileProblem::kNotAFolder;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return FileProblem::kPermissionDenied;
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME:
      return FileProblem::kLinkRefused;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FileProblem::kExists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileProblem::kDiskFull;
    case ERROR_FILE_TOO_LARGE:
      return FileProblem::kTooLarge;
    case ERROR_WRITE_PROTECT:
      return FileProblem::kReadOnly;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return FileProblem::kInUse;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return FileProblem::kNameTooLong;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return FileProblem::kBadName;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FileProblem::kTooManyOpen;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return FileProblem::kBrokenPipe;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
      return FileProblem::kInputOutput;
    default:
      return FileProblem::kOther;
  }
}

std::string Resolve(const char* name) { return name == nullptr ? std::string() : name; }

FileProblem LastProblem() { return ProblemOfSystemError(GetLastError()); }

std::wstring SystemName(const char* name) {
  const UINT code_page = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  const int length = MultiByteToWideChar(code_page, 0, name, -1, nullptr, 0);  // with the 0
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(code_page, 0, name, -1, wide.data(), length) != length) return {};
  wide.pop_back();
  return wide;
}

bool Exists(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  return AttributesOf(name) != INVALID_FILE_ATTRIBUTES;
}

// Wine reports every regular file with the archive attribute (it keeps only hidden and
// system), so there every source counts as changed and is converted again.
bool ArchiveAttributeSet(const char* name) {
  if (name == nullptr || name[0] == '\0') return true;
  const DWORD attributes = AttributesOf(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  return (attributes & FILE_ATTRIBUTE_ARCHIVE) != 0;
}

bool SetAttributesNormal(const char* name) {
  if (name == nullptr || name[0] == '\0' || !seam::Allow(FileOp::kSetNormal, name)) return false;
  if (SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL) == 0) return false;
  seam::Done(FileOp::kSetNormal, name);
  return true;
}

std::string CurrentDirectory() {
  const DWORD needed = GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return {};
  std::string path(needed, '\0');
  const DWORD written = GetCurrentDirectoryA(needed, path.data());
  if (written == 0 || written >= needed) return {};
  path.resize(written);
  return path;
}

std::uint64_t ProcessId() { return GetCurrentProcessId(); }

bool IsSymbolicLink(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  const DWORD attributes = AttributesOf(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace zemlo::files
