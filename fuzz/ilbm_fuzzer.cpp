// IFF pictures of any content: indices and palette into buffers of exactly their minimum
// sizes, then expanded into an exact working picture when the reader accepts the file.
#include <cstdint>
#include <memory>
#include <span>

#include "core/geometry.h"
#include "picture/ilbm_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::unique_ptr<std::uint8_t[]> index(new std::uint8_t[zemlo::kPixelCount]());
  static const std::unique_ptr<std::uint8_t[]> palette(new std::uint8_t[zemlo::kPaletteSize]());
  static const std::unique_ptr<std::uint8_t[]> picture(new std::uint8_t[zemlo::kPictureBytes]());
  const std::span<std::uint8_t> index_span(index.get(), zemlo::kPixelCount);
  const std::span<std::uint8_t> palette_span(palette.get(), zemlo::kPaletteSize);
  if (zemlo::DecodeIlbm(std::span<const std::uint8_t>(data, size), index_span, palette_span)) {
    zemlo::ExpandPalette(index_span, std::span<std::uint8_t>(picture.get(), zemlo::kPictureBytes),
                         palette_span);
  }
  return 0;
}
