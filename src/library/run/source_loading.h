// The load steps that bring one source file of an icon into the shared buffers: PCX and IFF
// pictures into the working picture, WAV sounds whole into the picture buffer.
#pragma once

#include <cstddef>
#include <optional>

#include "core/working_state.h"

namespace zemlo {

enum class SourceLoad {
  kLoaded,     // the working picture holds the source; picture_shown is set
  kNotOpened,  // the file could not be opened; nothing changed
  kRejected,   // the reader refused the bytes; the working picture is unchanged
};

// Reads at most 4 x the picture allowance (1,940,000 bytes) into the file buffer and decodes
// them with DecodePcx into the working picture.
SourceLoad LoadPcxSource(const char* name, WorkingState& state);

// Reads at most the picture allowance (485,000 bytes) into the file buffer, decodes them with
// DecodeIlbm into the index and palette buffers and expands them into the working picture.
SourceLoad LoadIlbmSource(const char* name, WorkingState& state);

// The most bytes of a sound source that are loaded; they go into the picture buffer.
inline constexpr std::size_t kWavLoadLimit = 400000;

// Reads at most 400,000 bytes of a WAV file into the picture buffer and returns how many;
// nullopt when it cannot be opened.
std::optional<std::size_t> LoadWavSource(const char* name, WorkingState& state);

}  // namespace zemlo
