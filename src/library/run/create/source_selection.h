// Choosing the source of one icon: the stamped patterns, the archive test and the load, with
// the warnings for sources that exist but cannot be used.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "core/message_format.h"
#include "core/status_port.h"
#include "core/working_state.h"
#include "library/run/source_loading.h"
#include "project/project_settings.h"

namespace zemlo {

// A source exists but cannot be used: the icon is kept as it is in the library and the
// source's archive attribute stays set, so the next run tries again.
inline constexpr TextFormat kPcxNotLoadedFormat = "PCX %s could not be loaded";
inline constexpr TextFormat kIffNotLoadedFormat = "IFF %s could not be loaded";
inline constexpr TextFormat kWavNotLoadedFormat = "WAV %s could not be loaded";
inline constexpr TextFormat kPngNotLoadedFormat = "PNG %s could not be loaded";
inline constexpr NumberFormat kDeadEndFormat = "Load PCX/IFF/WAV at dead end, accessing icon %i";

enum class SourceOutcome {
  kConverted,  // a source was loaded; `name` is its file
  kSkipped,    // the library keeps the icon's entry; `name` is the single entry file
  kNotFound,   // no source exists
};

struct SelectedSource {
  SourceOutcome outcome = SourceOutcome::kNotFound;
  std::string name;
  // Sound numbers: the WAV bytes loaded into the picture buffer.
  std::size_t sound_length = 0;
  // kConverted: the source file's length as its load read it, where the loader knows it.
  std::optional<std::uint64_t> source_size;
};

// Where the chosen source goes. The run loads into the shared buffers; icons prepared ahead
// load into buffers of their own.
class SourceLoader {
 public:
  virtual ~SourceLoader() = default;
  virtual SourceLoad LoadPcx(const char* name) = 0;
  virtual SourceLoad LoadIlbm(const char* name) = 0;
  // Replaces the whole working picture when loaded.
  virtual SourceLoad LoadPng(const char* name) = 0;
  // The bytes loaded; nullopt when the file cannot be opened.
  virtual std::optional<std::span<const std::uint8_t>> LoadWav(const char* name) = 0;
  // Why the last load did not load, when the reader or the file layer could say; a static
  // text.
  virtual std::string_view Refusal() const { return {}; }
  // The length of the file the last load read, as it read it (the checksum file records it
  // with the icon's sum); nullopt where the loader does not know.
  virtual std::optional<std::uint64_t> LoadedSize() const { return std::nullopt; }
};

// LoadPcxSource, LoadIlbmSource, LoadPngSource and LoadWavSource on the shared buffers.
class SharedBufferLoader final : public SourceLoader {
 public:
  explicit SharedBufferLoader(WorkingState& state) : state_(state) {}
  // Each load starts without a reason or a size, so that none is left over from an earlier
  // icon.
  SourceLoad LoadPcx(const char* name) override {
    Start();
    return LoadPcxSource(name, state_, &refusal_, &size_);
  }
  SourceLoad LoadIlbm(const char* name) override {
    Start();
    return LoadIlbmSource(name, state_, &refusal_, &size_);
  }
  SourceLoad LoadPng(const char* name) override {
    Start();
    return LoadPngSource(name, state_, &refusal_, &size_);
  }
  std::optional<std::span<const std::uint8_t>> LoadWav(const char* name) override;
  std::string_view Refusal() const override { return refusal_; }
  std::optional<std::uint64_t> LoadedSize() const override {
    return size_ != 0 ? std::optional(size_) : std::nullopt;
  }

 private:
  void Start() {
    refusal_ = {};
    size_ = 0;
  }
  WorkingState& state_;
  std::string_view refusal_;
  std::uint64_t size_ = 0;
};

// What the choice asks the file system about sources and single entry files.
class SourceFacts {
 public:
  virtual ~SourceFacts() = default;
  virtual bool Exists(const char* name) = 0;
  virtual bool ArchiveAttributeSet(const char* name) = 0;
};

// The file system as it is now.
class FileSystemFacts final : public SourceFacts {
 public:
  bool Exists(const char* name) override;
  bool ArchiveAttributeSet(const char* name) override;
};

struct SourceChoice {
  ProjectSettings& settings;  // its patterns are stamped
  SourceFacts& facts;
  // The offsets table the archive test consults: an icon without an entry is converted.
  std::span<std::uint8_t> offsets;
  StatusPort& port;  // sources that cannot be used are reported here
  SourceLoader& loader;
  bool archive_test = true;
  // Icons converted without the archive test even where it is made; null: none.
  const std::set<int>* force_icons = nullptr;
};

// Stamps `icon` into the source patterns, asks `facts` which sources exist, decides by the archive
// test whether the icon must be converted and loads its source on the way. Sources that exist but
// cannot be used are reported and come back as skipped. A picture number takes its PCX file; only
// where none exists its IFF file, and only where neither exists its PNG file (FPNG), so projects
// that had PCX or IFF sources build as they did. A project without FPNG never asks for a PNG.
SelectedSource ChooseSource(int icon, const SourceChoice& choice);

// ChooseSource on the shared buffers. With `archive_test` false every existing source is
// converted, whatever DARC says.
SelectedSource SelectSource(int icon, ProjectSettings& settings, WorkingState& state,
                            bool archive_test = true, const std::set<int>* force_icons = nullptr);

}  // namespace zemlo
