// The load steps that bring one source file of an icon into the shared buffers: PCX and IFF
// pictures into the working picture, WAV sounds whole into the picture buffer.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "core/working_state.h"

namespace zemlo {

enum class SourceLoad {
  kLoaded,     // the working picture holds the source; picture_shown is set
  kNotOpened,  // the file could not be opened; nothing changed
  kRejected,   // the reader refused the bytes; the working picture is unchanged
};

// A run-length PCX file may be larger than its picture: up to two bytes for every picture
// byte, which is what our own writer produces for bright noisy pictures. The file buffer
// (four allowances) is smaller than that, so PCX sources are read into the PCX buffer, where
// every file our writer can produce fits whole. An uncompressed 800 x 600 IFF body with its
// chunks fits one allowance.
inline constexpr std::size_t kPcxLoadLimit = kPcxMaxSize;
inline constexpr std::size_t kIlbmLoadLimit = kPictureAllowance;

// Reads at most 4 x the picture allowance (1,940,000 bytes) into the file buffer and decodes
// them with DecodePcx into the working picture.
// On kRejected, `refusal` (when given) says why.
SourceLoad LoadPcxSource(const char* name, WorkingState& state,
                         std::string_view* refusal = nullptr);

// Reads at most the picture allowance (485,000 bytes) into the file buffer, decodes them with
// DecodeIlbm into the index and palette buffers and expands them into the working picture.
SourceLoad LoadIlbmSource(const char* name, WorkingState& state);

// The most bytes of a sound source that are loaded; they go into the picture buffer.
inline constexpr std::size_t kWavLoadLimit = 400000;

// Reads at most 400,000 bytes of a WAV file into the picture buffer and returns how many;
// nullopt when it cannot be opened.
std::optional<std::size_t> LoadWavSource(const char* name, WorkingState& state);

}  // namespace zemlo
