// The creation run: turns the numbered sources of a project into its library, on the
// session's worker thread.
#pragma once

#include <cstddef>
#include <string>

#include "core/status_port.h"
#include "project/project_settings.h"

namespace zemlo {

struct StoreContext;
struct WorkingState;

// A source exists but cannot be used: the icon is kept as it is in the library and the
// source's archive attribute stays set, so the next run tries again.
inline constexpr const char* kPcxNotLoadedFormat = "PCX %s could not be loaded";
inline constexpr const char* kIffNotLoadedFormat = "IFF %s could not be loaded";
inline constexpr const char* kWavNotLoadedFormat = "WAV %s could not be loaded";
inline constexpr const char* kDeadEndFormat = "Load PCX/IFF/WAV at dead end, accessing icon %i";
inline constexpr const char* kWriteErrorFormat = "File %s write error!";
inline constexpr const char* kNotFoundStatus = "not found (neither IFF, PCX nor WAV)";
// An icon whose entry its block file no longer held and that the run could not convert again
// (no usable source, or outside the run's range).
inline constexpr const char* kLostIconFormat =
    "Icon %i is lost: its block file no longer held its entry, and no source converted it "
    "again.";

// Entries longer than this are packed with DPAK 1.
inline constexpr std::size_t kPackThreshold = 500000;

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
};

// Stamps `icon` into the source patterns, decides by the archive test whether the icon must
// be converted and loads its source on the way. Sources that exist but cannot be used are
// reported and come back as skipped.
// With `archive_test` false every existing source is converted, whatever DARC says.
SelectedSource SelectSource(int icon, ProjectSettings& settings, WorkingState& state,
                            bool archive_test = true);

// The run over state.current_icon .. settings.DEND, as "Create ZGL" prepared it; ends with
// the coordinates file written, the block closed and the idle buttons. Stops after the icon
// in hand when state.stop_request is set, or when the library store fails (its warning was
// shown).
void CreationRun(StoreContext& store);

}  // namespace zemlo
