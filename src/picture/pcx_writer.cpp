#include "picture/pcx_writer.h"

#include <array>
#include <cstring>
#include <vector>

#include "core/geometry.h"

namespace zemlo {
namespace {

constexpr std::uint8_t kRunCode = 0xC0;  // 192 + count; lower bytes stand for themselves
constexpr std::size_t kLongestRun = 63;

// Little-endian 16-bit fields of the one header every file gets.
constexpr std::array<std::uint8_t, kPcxHeaderSize> MakeHeader() {
  std::array<std::uint8_t, kPcxHeaderSize> h{};
  auto put16 = [&h](std::size_t at, int value) {
    h[at] = static_cast<std::uint8_t>(value & 0xFF);
    h[at + 1] = static_cast<std::uint8_t>(value >> 8);
  };
  h[0] = 10;  // manufacturer
  h[1] = 5;   // version
  h[2] = 1;   // run-length encoding
  h[3] = 8;   // bits per pixel and plane
  put16(4, 0);
  put16(6, 0);
  put16(8, kPictureWidth - 1);
  put16(10, kPictureHeight - 1);
  put16(12, 300);  // resolution
  put16(14, 300);
  h[65] = 3;  // planes
  put16(66, kPictureWidth);  // bytes per line
  put16(68, 1);  // palette info
  put16(70, kPictureWidth);  // screen size
  put16(72, kPictureHeight);
  return h;
}
constexpr auto kHeader = MakeHeader();

// The end of the run of bytes equal to plane[start], at most `end`. Long runs (the black
// background of icons) are compared eight bytes at a time.
std::size_t RunEnd(const std::uint8_t* plane, std::size_t start, std::size_t end) {
  const std::uint8_t value = plane[start];
  const std::uint64_t pattern = 0x0101010101010101ull * value;
  std::size_t i = start + 1;
  while (i + 8 <= end) {
    std::uint64_t chunk;
    std::memcpy(&chunk, plane + i, 8);
    if (chunk != pattern) break;
    i += 8;
  }
  while (i < end && plane[i] == value) ++i;
  return i;
}

// Encodes into `out`, which has room for two bytes per plane byte, so no write is checked.
// A run of equal bytes goes out as runs of 63 and one of what is left, which is what restarting
// the count at 63 with the value kept amounts to.
std::size_t EncodeUnchecked(const std::uint8_t* plane, std::size_t count, std::uint8_t* out) {
  std::uint8_t* o = out;
  std::size_t i = 0;
  while (i < count) {
    const std::uint8_t value = plane[i];
    const std::size_t end = RunEnd(plane, i, count);
    std::size_t length = end - i;
    i = end;
    for (; length >= kLongestRun; length -= kLongestRun) {
      o[0] = kRunCode + kLongestRun;
      o[1] = value;
      o += 2;
    }
    if (length == 1) {
      // One byte when it cannot be taken for a run code, else a run of one.
      const bool coded = value >= kRunCode;
      o[0] = coded ? std::uint8_t(kRunCode + 1) : value;
      o[1] = value;
      o += 1 + coded;
    } else if (length > 1) {
      o[0] = static_cast<std::uint8_t>(kRunCode + length);
      o[1] = value;
      o += 2;
    }
  }
  return static_cast<std::size_t>(o - out);
}

}  // namespace

std::size_t EncodePcxPlane(std::span<const std::uint8_t> plane, std::span<std::uint8_t> out) {
  if (plane.empty()) return 0;
  if (out.size() / 2 >= plane.size()) return EncodeUnchecked(plane.data(), plane.size(), out.data());
  // Too little room for the worst case: encode through a scratch copy and take it only whole.
  std::vector<std::uint8_t> scratch(2 * plane.size());
  const std::size_t length = EncodeUnchecked(plane.data(), plane.size(), scratch.data());
  if (length > out.size()) return 0;
  std::memcpy(out.data(), scratch.data(), length);
  return length;
}

std::size_t EncodePcx(std::span<const std::uint8_t> picture, std::span<std::uint8_t> out) {
  if (picture.size() < kPictureBytes || out.size() < kPcxHeaderSize) return 0;
  std::memcpy(out.data(), kHeader.data(), kPcxHeaderSize);
  std::size_t length = kPcxHeaderSize;
  std::array<std::uint8_t, 3 * kPictureWidth> line;
  std::uint8_t* red = line.data();
  std::uint8_t* green = red + kPictureWidth;
  std::uint8_t* blue = green + kPictureWidth;
  for (int r = 0; r < kPictureHeight; ++r) {
    const std::uint8_t* row = picture.data() + std::size_t(r) * kRowBytes;
    for (int x = 0; x < kPictureWidth; ++x) {
      blue[x] = row[3 * x];
      green[x] = row[3 * x + 1];
      red[x] = row[3 * x + 2];
    }
    for (const std::uint8_t* plane : {red, green, blue}) {
      const std::size_t written =
          EncodePcxPlane({plane, std::size_t{kPictureWidth}}, out.subspan(length));
      if (written == 0) return 0;
      length += written;
    }
  }
  return length;
}

}  // namespace zemlo
