#include <windows.h>

#include <io.h>
#include <winternl.h>

#include "files/file_stamp.h"

namespace zemlo::files {
namespace {

// FILE_INTERNAL_INFORMATION: the file's index on its volume, as GetFileInformationByHandle
// gives it in two halves.
constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
struct InternalInformation {
  LARGE_INTEGER index;
};

std::int64_t Wide(LARGE_INTEGER value) { return static_cast<std::int64_t>(value.QuadPart); }

}  // namespace

// Not GetFileInformationByHandle: it also asks for the volume's serial number, which Wine
// answers through its mount manager, another process, and show's helpers stamp the offsets
// file for every icon. The volume stays 0: the stamp is only ever compared with one taken of
// the same name, and another volume mounted there would give another index as well.
std::optional<FileStamp> StampOf(std::FILE* file) {
  if (file == nullptr) return std::nullopt;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  FILE_BASIC_INFO basic{};
  FILE_STANDARD_INFO standard{};
  InternalInformation internal{};
  IO_STATUS_BLOCK status{};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) ||
      !NT_SUCCESS(NtQueryInformationFile(handle, &status, &internal, sizeof internal,
                                         kFileInternalInformation))) {
    return std::nullopt;
  }
  return FileStamp{0, static_cast<std::uint64_t>(internal.index.QuadPart), Wide(standard.EndOfFile),
                   Wide(basic.LastWriteTime), Wide(basic.ChangeTime)};
}

}  // namespace zemlo::files
