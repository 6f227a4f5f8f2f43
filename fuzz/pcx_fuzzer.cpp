// PCX files of any content into a working picture of exactly 800 x 600 pixels, so that
// AddressSanitizer catches a write one byte past it.
#include <cstdint>
#include <memory>
#include <span>

#include "core/geometry.h"
#include "picture/pcx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::unique_ptr<std::uint8_t[]> picture(new std::uint8_t[zemlo::kPictureBytes]());
  zemlo::DecodePcx(std::span<const std::uint8_t>(data, size),
                   std::span<std::uint8_t>(picture.get(), zemlo::kPictureBytes));
  return 0;
}
