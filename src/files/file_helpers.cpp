#include "files/file_helpers.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "files/file_layer.h"

namespace zemlo {

std::FILE* Unbuffered(std::FILE* file) {
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

namespace {

// Writes `data` to an open stream and closes it; true only if every byte got there.
bool WriteAndClose(std::FILE* file, std::span<const std::uint8_t> data, bool to_disk) {
  bool ok = files::WriteBytes(file, data.data(), data.size()).ok();
  if (ok && to_disk) ok = files::FlushToDisk(file).ok();
  return files::CloseFile(file) && ok;
}

}  // namespace

std::int64_t FileLength(const char* name) {
  std::FILE* file = files::OpenFile(name, "rb").value_or(nullptr);
  if (file == nullptr) return 0;
  const std::int64_t length = files::SeekToEnd(file).value_or(0);
  // Only read: closing it cannot lose anything.
  (void)files::CloseFile(file);
  return length;
}

std::optional<std::size_t> ReadWholeFile(const char* name, std::span<std::uint8_t> buffer,
                                         std::size_t limit, files::FileProblem* problem,
                                         std::uint64_t* size) {
  const auto opened = files::OpenFile(name, "rb");
  if (!opened) {
    if (problem != nullptr) *problem = opened.error();
    return std::nullopt;
  }
  std::FILE* file = Unbuffered(*opened);
  std::size_t count = 0;
  std::size_t room = 0;
  if (!buffer.empty()) {
    room = std::min(limit, buffer.size() - 1);
    count = files::ReadBytes(file, buffer.data(), room);
    buffer[count] = 0;
  }
  if (size != nullptr) {
    // A read that stopped short of the room met the end of the file (or an error, after
    // which the open file is asked all the same).
    if (count < room && std::feof(file) != 0) {
      *size = count;
    } else {
      *size =
          static_cast<std::uint64_t>(std::max<std::int64_t>(files::SeekToEnd(file).value_or(0), 0));
    }
  }
  // Only read: closing it cannot lose anything.
  (void)files::CloseFile(file);
  return count;
}

bool WriteWholeFile(const char* name, std::span<const std::uint8_t> data) {
  std::FILE* file = files::OpenFile(name, "wb").value_or(nullptr);
  if (file == nullptr) return false;
  return WriteAndClose(file, data, false);
}

bool WriteZeroFile(const char* name, std::size_t length) {
  std::FILE* file = files::OpenFile(name, "wb").value_or(nullptr);
  if (file == nullptr) return false;
  static constexpr std::array<std::uint8_t, 4096> kZeros{};
  bool ok = true;
  while (ok && length > 0) {
    const std::size_t n = std::min(length, kZeros.size());
    ok = files::WriteBytes(file, kZeros.data(), n).ok();
    length -= n;
  }
  return files::CloseFile(file) && ok;
}

std::string TemporaryNameOf(const char* name) {
  if (name == nullptr || name[0] == '\0') return {};
  return std::string(name) + kReplaceSuffix;
}

bool RemoveLeftoverTemporary(const char* name) {
  const std::string temporary = TemporaryNameOf(name);
  return !temporary.empty() && files::RemoveFile(temporary.c_str()).ok();
}

bool CreateWholeFile(const char* name, std::span<const std::uint8_t> data) {
  const std::string temporary = TemporaryNameOf(name);
  if (temporary.empty() || files::Exists(name)) return false;
  std::FILE* file = Unbuffered(files::OpenReplacement(temporary.c_str()).value_or(nullptr));
  if (file == nullptr) return false;
  if (!WriteAndClose(file, data, true) || !files::RenameFile(temporary.c_str(), name)) {
    // Tidying up after the failure the caller hears of; a copy left behind is removed by
    // RemoveLeftoverTemporary on the next run.
    (void)files::RemoveFile(temporary.c_str());
    return false;
  }
  // Should only the folder's flush fail, `name` holds the new file all the same: it counts
  // as created, as ReplaceWholeFile counts its file replaced.
  (void)files::FlushFolderOf(name);
  return true;
}

bool ReplaceWholeFile(const char* name, std::span<const std::uint8_t> data, Durability durability) {
  const std::string temporary = TemporaryNameOf(name);
  if (temporary.empty()) return false;
  std::FILE* file = Unbuffered(files::OpenReplacement(temporary.c_str()).value_or(nullptr));
  if (file == nullptr) return false;
  if (durability != Durability::kFlushToDisk) {
    // Moved through the stream that wrote it (which saves Windows opening it again by name).
    bool ok = files::WriteBytes(file, data.data(), data.size()).ok();
    if (ok && durability == Durability::kForCommit) ok = files::FlushBeforeCommit(file).ok();
    if (!ok) {
      (void)files::CloseFile(file);
    } else if (files::MoveOverAndClose(file, temporary.c_str(), name)) {
      return true;
    }
    // Tidying up after the failure the caller hears of (see CreateWholeFile).
    (void)files::RemoveFile(temporary.c_str());
    return false;
  }
  if (!WriteAndClose(file, data, true) || !files::ReplaceFileAtomically(temporary.c_str(), name)) {
    // Tidying up after the failure the caller hears of (see CreateWholeFile).
    (void)files::RemoveFile(temporary.c_str());
    return false;
  }
  // The move itself reaches the disk too before the caller goes on to rely on it. Should
  // only that fail, `name` holds the new content all the same, so it counts as replaced.
  (void)files::FlushFolderOf(name);
  return true;
}

}  // namespace zemlo
