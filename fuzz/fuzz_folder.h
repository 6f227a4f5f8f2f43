// For fuzz targets that work on a library's files: a folder of their own, entered for the
// whole run, emptied before each input and removed at the end, with the working state; and
// the small file chores.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/working_state.h"
#include "fuzz_assert.h"
#include "project/project_settings.h"
#include "support/recording_port.h"

namespace zemlo::fuzzing {

class FuzzFolder {
 public:
  explicit FuzzFolder(const std::string& prefix)
      : dir_(std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  ~FuzzFolder() {
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
    std::filesystem::remove_all(dir_, ec);
  }
  FuzzFolder(const FuzzFolder&) = delete;
  FuzzFolder& operator=(const FuzzFolder&) = delete;

  // Files of the previous input would otherwise answer for this one.
  void Clear() const {
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      std::error_code ec;
      std::filesystem::remove_all(entry.path(), ec);
    }
  }
  const std::filesystem::path& path() const { return dir_; }

 private:
  const std::filesystem::path dir_;
};

// The folder and the state a library's functions work on, kept for the whole run.
struct LibraryFixture {
  explicit LibraryFixture(const std::string& prefix) : folder(prefix) {}
  FuzzFolder folder;
  testing::RecordingPort port;
  WorkingState state{port};
};

inline void SetName(Name& name, const char* text) {
  name.fill(0);
  std::strncpy(name.data(), text, name.size() - 1);
}

// The file names every library fuzz target writes its inputs under.
inline void NameLibraryFiles(ProjectSettings& settings) {
  SetName(settings.FOFS, "OFFS.DAT");
  SetName(settings.FCOO, "COORD.DAT");
  SetName(settings.FBLK, "BLK00.ZGL");
  SetName(settings.FSEP, "E0000000.ENT");
}

// The input's bytes as a file; the harness cannot go on without it.
inline void WriteFile(const char* name, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(name, "wb");
  FUZZ_ASSERT(f != nullptr);
  FUZZ_ASSERT(size == 0 || std::fwrite(data, 1, size, f) == size);
  std::fclose(f);
}

// The whole file, or nullopt when there is none.
inline std::optional<std::vector<std::uint8_t>> ReadFile(const char* name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<std::uint8_t>{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
}

}  // namespace zemlo::fuzzing
