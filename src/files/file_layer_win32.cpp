// The platform's own file calls; names are used exactly as the project file gives them.
#include "files/file_layer.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace zemlo::files {

std::string Resolve(const char* name) { return name == nullptr ? std::string() : name; }

std::FILE* OpenFile(const char* name, const char* mode) {
  if (name == nullptr || name[0] == '\0' || mode == nullptr) return nullptr;
  const bool update = std::strchr(mode, '+') != nullptr;
  DWORD access = 0;
  DWORD disposition = 0;
  int flags = _O_BINARY;
  switch (mode[0]) {
    case 'r':
      access = GENERIC_READ | (update ? GENERIC_WRITE : 0);
      disposition = OPEN_EXISTING;
      flags |= update ? _O_RDWR : _O_RDONLY;
      break;
    case 'w':
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = CREATE_ALWAYS;
      flags |= update ? _O_RDWR : _O_WRONLY;
      break;
    case 'a':
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = OPEN_ALWAYS;
      flags |= (update ? _O_RDWR : _O_WRONLY) | _O_APPEND;
      break;
    default:
      return nullptr;
  }
  // Opened by hand rather than with fopen so that the kind of file is known before a byte
  // moves: a device ("CON", "NUL", "COM1", even with an extension), a pipe or a folder would
  // be read or written as if it held a library file, and a console or pipe read can wait
  // for good. Only files on disk are used. The sharing is what fopen grants.
  const HANDLE handle = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(handle);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);  // closes the handle too
  return file;
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
