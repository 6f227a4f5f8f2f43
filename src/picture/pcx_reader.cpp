#include "picture/pcx_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "core/geometry.h"
#include "core/byte_reader.h"

namespace zemlo {
namespace {

constexpr std::uint8_t kManufacturer = 10;
constexpr std::size_t kPlanesOffset = 65;
constexpr int kPlanes = 3;  // 24-bit files only; 8-bit paletted files have one plane
constexpr std::size_t kYMinOffset = 6;
constexpr std::size_t kYMaxOffset = 10;
constexpr std::size_t kBytesPerLineOffset = 66;
constexpr std::size_t kHeaderSize = 128;
constexpr std::uint8_t kRunFlags = 0xC0;  // both top bits set: a run code
constexpr std::uint8_t kRunCountMask = 0x3F;
// A run is written whole as one fixed-size store; the line buffer has this much room past the
// scanline for it (the longest run is 63 bytes).
constexpr std::size_t kRunOvershoot = 64;

struct PcxHeader {
  std::size_t bytes_per_line = 0;
  int rows = 0;  // rows that land in the picture
};

std::optional<PcxHeader> ReadHeader(std::span<const std::uint8_t> file) {
  if (file.size() < kHeaderSize) return std::nullopt;
  if (file[0] != kManufacturer) return std::nullopt;
  if (static_cast<std::int8_t>(file[kPlanesOffset]) != kPlanes) return std::nullopt;
  ByteReader reader(file);
  auto field = [&reader](std::size_t offset) -> std::optional<std::uint16_t> {
    if (!reader.Seek(offset)) return std::nullopt;
    return reader.U16LE();
  };
  const auto y_min = field(kYMinOffset);
  const auto y_max = field(kYMaxOffset);
  const auto bpl = field(kBytesPerLineOffset);
  if (!y_min || !y_max || !bpl) return std::nullopt;
  const int row_count = int{*y_max} - int{*y_min} + 1;
  PcxHeader header;
  header.bytes_per_line = *bpl;
  header.rows = std::clamp(row_count, 0, kPictureHeight);
  return header;
}

// Walks the run codes of `rows` scanlines of `line_bytes` decoded bytes each, the way the
// decoder consumes them, and says whether the loaded bytes hold all of them. Every scanline
// takes at least one code, even when it is empty.
bool ScanlinesComplete(std::span<const std::uint8_t> data, int rows, std::size_t line_bytes) {
  const std::uint8_t* p = data.data();
  const std::size_t size = data.size();
  std::size_t pos = 0;
  for (int r = 0; r < rows; ++r) {
    std::size_t produced = 0;
    do {
      if (pos >= size) return false;
      const std::uint8_t b = p[pos++];
      if (b >= kRunFlags) {
        if (pos >= size) return false;
        ++pos;
        produced += b & kRunCountMask;
      } else {
        ++produced;
      }
    } while (produced < line_bytes);
  }
  return true;
}

}  // namespace

int DecodePcx(std::span<const std::uint8_t> file, std::span<std::uint8_t> picture) {
  if (picture.size() < kPictureBytes) return 0;
  const auto header = ReadHeader(file);
  if (!header) return 0;
  const std::size_t bpl = header->bytes_per_line;
  const std::size_t line_bytes = 3 * bpl;
  const auto data = file.subspan(kHeaderSize);
  // Check first that the data hold every row we will write, so a short file is refused with
  // the picture untouched and the decoding loop below cannot run off the loaded bytes.
  if (!ScanlinesComplete(data, header->rows, line_bytes)) return 0;

  std::vector<std::uint8_t> line(line_bytes + kRunOvershoot);
  const std::uint8_t* in = data.data();
  const std::size_t columns = std::min<std::size_t>(bpl, kPictureWidth);
  for (int r = 0; r < header->rows; ++r) {
    std::uint8_t* out = line.data();
    std::size_t produced = 0;
    do {
      const std::uint8_t b = *in++;
      if (b >= kRunFlags) {
        // Past the scanline end the excess lands in the spare room and is dropped.
        std::memset(out + produced, *in++, kRunOvershoot);
        produced += b & kRunCountMask;
      } else {
        out[produced++] = b;
      }
    } while (produced < line_bytes);

    const std::uint8_t* red = line.data();
    const std::uint8_t* green = red + bpl;
    const std::uint8_t* blue = green + bpl;
    std::uint8_t* row = picture.data() + std::size_t(r) * kRowBytes;
    for (std::size_t x = 0; x < columns; ++x) {
      row[3 * x] = blue[x];
      row[3 * x + 1] = green[x];
      row[3 * x + 2] = red[x];
    }
    std::memset(row + 3 * columns, 0, kRowBytes - 3 * columns);
  }
  return 1;
}

}  // namespace zemlo
