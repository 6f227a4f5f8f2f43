// PCX files of any content into a working picture of exactly 800 x 600 pixels, so that
// AddressSanitizer catches a write one byte past it. The fast reader must agree with the
// plain one in the result and every pixel, and the plane rows of the first decoded rows must
// encode as the plain writer encodes them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "core/geometry.h"
#include "picture/pcx_reader.h"
#include "picture/pcx_writer.h"
#include "support/pcx_plain.h"

namespace {

using zemlo::kPictureBytes;

void Fail(const char* what) {
  std::fprintf(stderr, "pcx: %s\n", what);
  std::abort();
}

// A picture that no reader writes by accident, the same for both readers every time.
const std::uint8_t* Pattern() {
  static const std::unique_ptr<std::uint8_t[]> pattern = [] {
    std::unique_ptr<std::uint8_t[]> p(new std::uint8_t[kPictureBytes]);
    for (std::size_t i = 0; i < kPictureBytes; ++i) p[i] = std::uint8_t(i * 7 + 1);
    return p;
  }();
  return pattern.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::unique_ptr<std::uint8_t[]> picture(new std::uint8_t[kPictureBytes]);
  static const std::unique_ptr<std::uint8_t[]> plain(new std::uint8_t[kPictureBytes]);
  std::memcpy(picture.get(), Pattern(), kPictureBytes);
  std::memcpy(plain.get(), Pattern(), kPictureBytes);
  const std::span<const std::uint8_t> file(data, size);
  const int fast =
      zemlo::DecodePcx(file, std::span<std::uint8_t>(picture.get(), kPictureBytes)).ok() ? 1 : 0;
  const int slow =
      zemlo::testing::PlainDecodePcx(file, std::span<std::uint8_t>(plain.get(), kPictureBytes));
  if (fast != slow) Fail("the readers disagree on taking the file");
  if (std::memcmp(picture.get(), plain.get(), kPictureBytes) != 0) {
    Fail("the readers' pictures differ");
  }
  if (fast == 0) return 0;

  const int rows = std::clamp((data[10] | data[11] << 8) - (data[6] | data[7] << 8) + 1, 0, 8);
  std::vector<std::uint8_t> plane(zemlo::kPictureWidth);
  std::vector<std::uint8_t> encoded(2 * plane.size());
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < 3; ++c) {
      for (int x = 0; x < zemlo::kPictureWidth; ++x) {
        plane[x] = picture[std::size_t(r) * zemlo::kRowBytes + 3 * std::size_t(x) + c];
      }
      const std::size_t n = zemlo::EncodePcxPlane(plane, encoded);
      const auto expected = zemlo::testing::PlainEncodePlane(plane);
      if (n != expected.size() || !std::equal(expected.begin(), expected.end(), encoded.begin())) {
        Fail("the writers encode a plane row differently");
      }
    }
  }
  return 0;
}
