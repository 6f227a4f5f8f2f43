// PCX files of any content into a working picture of exactly 800 x 600 pixels, so that
// AddressSanitizer catches a write one byte past it. The fast reader must agree with the
// plain one in the result and every pixel, and a decoded picture must come back unchanged
// through the writer and the reader.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "app/geometry.h"
#include "picture/pcx_plain.h"
#include "picture/pcx_reader.h"
#include "picture/pcx_writer.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "pcx: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using zemlo::kPictureBytes;
  static const std::unique_ptr<std::uint8_t[]> picture(new std::uint8_t[kPictureBytes]);
  static const std::unique_ptr<std::uint8_t[]> plain(new std::uint8_t[kPictureBytes]);
  static const std::unique_ptr<std::uint8_t[]> encoded(new std::uint8_t[zemlo::kPcxMaxSize]);
  // The same starting picture for both readers; rows a file does not reach keep it.
  for (std::size_t i = 0; i < kPictureBytes; ++i) picture[i] = plain[i] = std::uint8_t(i * 7 + 1);
  const std::span<const std::uint8_t> file(data, size);
  const int fast = zemlo::DecodePcx(file, std::span<std::uint8_t>(picture.get(), kPictureBytes));
  const int slow =
      zemlo::testing::PlainDecodePcx(file, std::span<std::uint8_t>(plain.get(), kPictureBytes));
  if (fast != slow) Fail("the readers disagree on taking the file");
  if (std::memcmp(picture.get(), plain.get(), kPictureBytes) != 0) {
    Fail("the readers' pictures differ");
  }
  if (fast == 0) return 0;

  const std::size_t length =
      zemlo::EncodePcx(std::span<const std::uint8_t>(picture.get(), kPictureBytes),
                       std::span<std::uint8_t>(encoded.get(), zemlo::kPcxMaxSize));
  if (length == 0) Fail("the writer refused a picture");
  if (zemlo::DecodePcx(std::span<const std::uint8_t>(encoded.get(), length),
                       std::span<std::uint8_t>(plain.get(), kPictureBytes)) != 1) {
    Fail("the reader refused the writer's file");
  }
  if (std::memcmp(picture.get(), plain.get(), kPictureBytes) != 0) {
    Fail("the round trip changed the picture");
  }
  return 0;
}
