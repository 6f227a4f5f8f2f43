// PNG files of any content into a working picture of exactly 800 x 600 pixels, so that
// AddressSanitizer catches a write one byte past it. A refused file must leave the picture as
// it was and say why; a decoded one must leave every pixel outside its size black.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "core/geometry.h"
#include "picture/png_reader.h"

namespace {

using zemlo::kPictureBytes;

void Fail(const char* what) {
  std::fprintf(stderr, "png: %s\n", what);
  std::abort();
}

std::uint32_t BigEndian(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::unique_ptr<std::uint8_t[]> picture(new std::uint8_t[kPictureBytes]);
  static const std::unique_ptr<std::uint8_t[]> pattern = [] {
    std::unique_ptr<std::uint8_t[]> p(new std::uint8_t[kPictureBytes]);
    for (std::size_t i = 0; i < kPictureBytes; ++i) p[i] = std::uint8_t(i * 7 + 1);
    return p;
  }();
  std::memcpy(picture.get(), pattern.get(), kPictureBytes);
  const zemlo::Status result =
      zemlo::DecodePng(std::span<const std::uint8_t>(data, size),
                       std::span<std::uint8_t>(picture.get(), kPictureBytes));
  if (!result) {
    if (result.error().text.empty()) Fail("refused without a reason");
    if (std::memcmp(picture.get(), pattern.get(), kPictureBytes) != 0) {
      Fail("a refused file changed the picture");
    }
    return 0;
  }
  // A decoded file has its header at byte 16: width, then height.
  const std::uint32_t width = BigEndian(data + 16);
  const std::uint32_t height = BigEndian(data + 20);
  if (width == 0 || height == 0 || width > 800 || height > 600) Fail("decoded a size refused");
  for (std::size_t y = 0; y < 600; ++y) {
    for (std::size_t x = 0; x < 800; ++x) {
      if (x < width && y < height) continue;
      const std::uint8_t* pixel = picture.get() + (y * 800 + x) * 3;
      if (pixel[0] != 0 || pixel[1] != 0 || pixel[2] != 0) Fail("a pixel outside is not black");
    }
  }
  return 0;
}
