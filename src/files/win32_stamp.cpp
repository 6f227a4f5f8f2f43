#include <windows.h>

#include <io.h>

#include "files/file_stamp.h"

namespace zemlo::files {

std::optional<FileStamp> StampOf(std::FILE* file) {
  if (file == nullptr) return std::nullopt;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) {
    return std::nullopt;
  }
  auto wide = [](DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; };
  return FileStamp{info.dwVolumeSerialNumber, wide(info.nFileIndexHigh, info.nFileIndexLow),
                   static_cast<std::int64_t>(wide(info.nFileSizeHigh, info.nFileSizeLow)),
                   static_cast<std::int64_t>(wide(info.ftLastWriteTime.dwHighDateTime,
                                                  info.ftLastWriteTime.dwLowDateTime)),
                   0};
}

}  // namespace zemlo::files
