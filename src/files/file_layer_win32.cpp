// The platform's own file calls; names are used exactly as the project file gives them.
#include "files/file_layer.h"

#include <windows.h>

#include <io.h>

#include <cstdio>
#include <string>

namespace zemlo::files {

std::string Resolve(const char* name) { return name == nullptr ? std::string() : name; }

std::FILE* OpenFile(const char* name, const char* mode) {
  if (name == nullptr || name[0] == '\0') return nullptr;
  return std::fopen(name, mode);
}

bool FlushToDisk(std::FILE* file) {
  if (file == nullptr || std::fflush(file) != 0) return false;
  return _commit(_fileno(file)) == 0;
}

bool Exists(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

// Wine reports every regular file with the archive attribute (it keeps only hidden and
// system), so there every source counts as changed and is converted again.
bool ArchiveAttributeSet(const char* name) {
  if (name == nullptr || name[0] == '\0') return true;
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  return (attributes & FILE_ATTRIBUTE_ARCHIVE) != 0;
}

bool SetAttributesNormal(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  return SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL) != 0;
}

bool RenameFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr || from[0] == '\0' || to[0] == '\0') return false;
  // MoveFileA fails when the target exists.
  return MoveFileA(from, to) != 0;
}

bool ReplaceFileAtomically(const char* from, const char* to) {
  if (from == nullptr || to == nullptr || from[0] == '\0' || to[0] == '\0') return false;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  return DeleteFileA(name) != 0;
}

bool MakeDirectory(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  return CreateDirectoryA(name, nullptr) != 0;
}

bool ChangeDirectory(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  return SetCurrentDirectoryA(name) != 0;
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

}  // namespace zemlo::files
