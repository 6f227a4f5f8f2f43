// The load steps that bring one source file of an icon into the shared buffers: PCX and IFF
// pictures into the working picture, WAV sounds whole into the picture buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/working_state.h"
#include "picture/png_reader.h"

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
// On kRejected or kNotOpened, `refusal` (when given) says why, as the other loads do.
// Every load that read the file sets `size` (when given) to the file's length as it read it.
SourceLoad LoadPcxSource(const char* name, WorkingState& state, std::string_view* refusal = nullptr,
                         std::uint64_t* size = nullptr);

// A PNG file is read into memory of its own, allocated for the load and no larger than the
// file: decoding it allocates stb's buffers anyway, and a fixed buffer for the largest file
// taken (4 MiB, more than the PCX buffer) would sit unused in nearly every project, once more
// in every helper. One byte past the limit is read, so that a larger file is refused as such.
inline constexpr std::size_t kPngLoadLimit = kPngFileLimit + 1;

struct PngFileRead {
  SourceLoad result = SourceLoad::kNotOpened;  // kRejected: no memory for the bytes
  std::vector<std::uint8_t> bytes;
  std::string_view refusal;  // why it was not read (the file layer's or kPngNoMemory)
  std::uint64_t size = 0;    // the file's length as it was read
};
PngFileRead ReadPngFile(const char* name);

// The reason given when the memory for a PNG file's bytes could not be had.
inline constexpr std::string_view kPngNoMemory = "there is not enough memory to read it";

// Reads the file with ReadPngFile and decodes it with DecodePng into the working picture,
// which it replaces whole (black outside the PNG). On kRejected, `refusal` (when given) says
// why; the picture is then unchanged.
SourceLoad LoadPngSource(const char* name, WorkingState& state, std::string_view* refusal = nullptr,
                         std::uint64_t* size = nullptr);

// Reads at most the picture allowance (485,000 bytes) into the file buffer, decodes them with
// DecodeIlbm into the index and palette buffers and expands them into the working picture.
SourceLoad LoadIlbmSource(const char* name, WorkingState& state,
                          std::string_view* refusal = nullptr, std::uint64_t* size = nullptr);

// The most bytes of a sound source that are loaded; they go into the picture buffer.
inline constexpr std::size_t kWavLoadLimit = 400000;

// Reads at most 400,000 bytes of a WAV file into the picture buffer and returns how many;
// nullopt when it cannot be opened (`refusal`, when given, says why).
std::optional<std::size_t> LoadWavSource(const char* name, WorkingState& state,
                                         std::string_view* refusal = nullptr,
                                         std::uint64_t* size = nullptr);

// Why a WAV file that was read gives no sound: FindSoundData found nothing in it.
inline constexpr std::string_view kWavNoSoundData =
    "no \"data\" chunk with its size: the file holds no sound";

}  // namespace zemlo
