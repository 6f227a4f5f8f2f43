#include "picture/ilbm_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "core/byte_reader.h"
#include "core/geometry.h"

namespace zemlo {
namespace {

constexpr std::size_t kTagSize = 4;
constexpr std::size_t kChunkHeaderSize = 8;  // tag and big-endian size
// Offsets after the "BMHD" tag.
constexpr std::size_t kWidthOffset = 8;
constexpr std::size_t kHeightOffset = 10;
constexpr std::size_t kPlanesOffset = 16;
constexpr std::size_t kMaskingOffset = 17;
constexpr std::size_t kCompressionOffset = 18;
constexpr std::uint8_t kByteRun1 = 1;
constexpr std::uint8_t kHasMaskPlane = 1;  // an extra plane per row, no colour bit
constexpr int kMaxPlanes = 8;
constexpr std::size_t kPaletteBytes = 768;  // 256 colours of red, green, blue
// The scan jumps over a whole 256-colour CMAP chunk and tests the byte after it for "BODY"
// only, which is why a chunk right behind a CMAP is never seen.
constexpr std::size_t kCmapJump = kChunkHeaderSize + kPaletteBytes;
// A ByteRun1 run that passes the row end is written whole (at most 128 bytes).
constexpr std::size_t kRunOvershoot = 128;

struct IlbmLayout {
  std::size_t width = 0;
  std::size_t height = 0;
  bool compressed = false;
  bool bit_planes = false;
  int planes = kMaxPlanes;
  bool mask_plane = false;
  std::optional<std::array<std::uint8_t, kPaletteBytes>> palette;
  std::size_t body = 0;  // first byte of the body data
};

bool TagAt(std::span<const std::uint8_t> file, std::size_t pos, const char (&tag)[5]) {
  return pos + kTagSize <= file.size() && std::memcmp(file.data() + pos, tag, kTagSize) == 0;
}

// The chunk search is a plain byte scan from byte 1, not a walk over chunk sizes: every tag it
// meets acts wherever it stands, and the tests at one position go in this order.
Result<IlbmLayout> FindChunks(std::span<const std::uint8_t> file) {
  IlbmLayout layout;
  std::size_t pos = 1;
  while (pos + kTagSize <= file.size()) {
    if (TagAt(file, pos, "ILBM")) layout.bit_planes = true;
    if (TagAt(file, pos, "BMHD")) {
      if (pos + kCompressionOffset >= file.size()) return Fail(Reason{kIlbmHeaderCut});
      ByteReader reader(file);
      auto field = [&reader](std::size_t offset) -> std::optional<std::uint16_t> {
        if (!reader.Seek(offset)) return std::nullopt;
        return reader.U16BE();
      };
      const auto width = field(pos + kWidthOffset);
      const auto height = field(pos + kHeightOffset);
      if (!width || !height) return Fail(Reason{kIlbmHeaderCut});
      layout.width = *width;
      layout.height = *height;
      layout.planes = file[pos + kPlanesOffset];
      layout.mask_plane = file[pos + kMaskingOffset] == kHasMaskPlane;
      layout.compressed = file[pos + kCompressionOffset] == kByteRun1;
    }
    if (TagAt(file, pos, "CMAP")) {
      // A full 256-colour map is taken as 768 bytes whatever its size says. A smaller map
      // (fewer colours) is taken for its own size, the missing colours black, and the jump
      // stops at its end so it cannot pass over a "BODY" behind it.
      ByteReader reader(file);
      std::uint32_t size = kPaletteBytes;
      if (reader.Seek(pos + kTagSize)) size = reader.U32BE().value_or(kPaletteBytes);
      const std::size_t colours = std::min<std::size_t>(size, kPaletteBytes);
      const std::size_t jump =
          size >= kPaletteBytes ? kCmapJump : kChunkHeaderSize + colours + (colours & 1);
      layout.palette.emplace();
      layout.palette->fill(0);
      const auto source = file.subspan(std::min(file.size(), pos + kChunkHeaderSize));
      std::memcpy(layout.palette->data(), source.data(), std::min(colours, source.size()));
      pos += jump;
    }
    if (TagAt(file, pos, "BODY")) {
      layout.body = std::min(file.size(), pos + kChunkHeaderSize);
      return layout;
    }
    ++pos;
  }
  return Fail(Reason{file.empty() ? kIlbmEmpty : kIlbmNoBody});
}

// Decodes one stored row of `length` bytes into `line` (which has kRunOvershoot spare bytes)
// and returns the bytes produced, or nullopt when the body ends first.
std::optional<std::size_t> DecodeRow(ByteReader& body, bool compressed, std::uint8_t* line,
                                     std::size_t length) {
  if (!compressed) {
    const auto bytes = body.Bytes(length);
    if (!bytes) return std::nullopt;
    std::memcpy(line, bytes->data(), length);
    return length;
  }
  // Runs are checked against the spare bytes past the row, never against the row alone: a
  // run may pass the row end by up to 127 bytes, as writers' files do.
  static_assert(kRunOvershoot >= 128);
  std::size_t produced = 0;
  while (produced < length) {
    const auto control = body.U8();
    if (!control) return std::nullopt;
    const int n = static_cast<std::int8_t>(*control);
    if (n >= 0) {
      const auto bytes = body.Bytes(std::size_t(n) + 1);
      if (!bytes) return std::nullopt;
      std::memcpy(line + produced, bytes->data(), bytes->size());
      produced += bytes->size();
    } else if (n != -128) {
      const auto value = body.U8();
      if (!value) return std::nullopt;
      const std::size_t count = std::size_t(1 - n);
      std::memset(line + produced, *value, count);
      produced += count;
    }
  }
  return produced;
}

// Lane j (the byte at address j) of kSpread[b] is bit 7 - j of b: the eight pixels of one
// plane byte, leftmost first, each as bit 0 of its index byte.
constexpr std::array<std::uint64_t, 256> MakeSpreadTable() {
  std::array<std::uint64_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    std::array<std::uint8_t, 8> lanes{};
    for (int j = 0; j < 8; ++j) lanes[j] = static_cast<std::uint8_t>((b >> (7 - j)) & 1);
    table[b] = std::bit_cast<std::uint64_t>(lanes);
  }
  return table;
}
constexpr auto kSpread = MakeSpreadTable();

// Turns `byte_columns` columns of the plane rows in `line` (plane k at k x plane_bytes) into
// eight indices each. Every lane holds 0 or 1 before the shift by k < 8, so no bit crosses
// into the next pixel.
void ConvertPlanes(const std::uint8_t* line, std::size_t plane_bytes, int planes,
                   std::size_t byte_columns, std::uint8_t* index_row) {
  for (std::size_t c = 0; c < byte_columns; ++c) {
    std::uint64_t pixels = 0;
    for (int k = 0; k < planes; ++k) pixels |= kSpread[line[k * plane_bytes + c]] << k;
    std::memcpy(index_row + 8 * c, &pixels, 8);
  }
}

}  // namespace

Result<IlbmDecode> DecodeIlbm(std::span<const std::uint8_t> file, std::span<std::uint8_t> index,
                              std::span<std::uint8_t> palette) {
  const auto refuse = [](std::string_view why) { return Fail(Reason{why}); };
  if (index.size() < std::size_t{kPixelCount} || palette.size() < kPaletteBytes) {
    return refuse(kIlbmNoRoom);
  }
  const auto layout = FindChunks(file);
  if (!layout) return Fail(layout.error());
  if (layout->bit_planes && layout->width > 0 &&
      (layout->planes < 1 || layout->planes > kMaxPlanes)) {
    return refuse(layout->planes < 1 ? kIlbmNoPlanes : kIlbmTooManyPlanes);
  }

  const std::size_t width = layout->width;
  const std::size_t columns = std::min<std::size_t>(width, kPictureWidth);
  const std::size_t rows = std::min<std::size_t>(layout->height, kPictureHeight);
  // Writers store each plane row as whole 16-bit words and a chunky row of odd width with a
  // filler byte; for widths that are multiples of 16 both are just width bytes per row.
  const std::size_t plane_bytes = (width + 15) / 16 * 2;
  const int stored_planes = layout->planes + (layout->mask_plane ? 1 : 0);
  const std::size_t row_length =
      layout->bit_planes ? plane_bytes * stored_planes : width + (width & 1);

  ByteReader body(file.subspan(layout->body));
  std::vector<std::uint8_t> line(row_length + kRunOvershoot);
  // An overshooting run in a chunky row shows as pixels right of the width, as far as the
  // row reaches; in bit-plane mode it is dropped.
  const std::size_t byte_columns = std::min((columns + 7) / 8, plane_bytes);
  for (std::size_t r = 0; r < rows; ++r) {
    std::uint8_t* index_row = index.data() + r * kPictureWidth;
    const auto produced = DecodeRow(body, layout->compressed, line.data(), row_length);
    if (!produced) return refuse(kIlbmBodyCut);
    if (layout->bit_planes) {
      ConvertPlanes(line.data(), plane_bytes, layout->planes, byte_columns, index_row);
      std::memset(index_row + columns, 0, kPictureWidth - columns);
    } else {
      const std::size_t shown = std::min<std::size_t>(*produced, kPictureWidth);
      std::memcpy(index_row, line.data(), shown);
      std::memset(index_row + shown, 0, kPictureWidth - shown);
      if (row_length > width && width < kPictureWidth) index_row[width] = 0;
    }
  }
  std::memset(index.data() + rows * kPictureWidth, 0, (kPictureHeight - rows) * kPictureWidth);
  if (layout->palette) std::memcpy(palette.data(), layout->palette->data(), kPaletteBytes);
  return IlbmDecode{layout->palette.has_value()};
}

void ExpandPalette(std::span<const std::uint8_t> index, std::span<std::uint8_t> picture,
                   std::span<const std::uint8_t> palette) {
  // Each pixel is stored as four bytes (blue, green, red, 0) and the next pixel overwrites the
  // fourth; the last pixel is written as three.
  std::array<std::array<std::uint8_t, 4>, 256> colours{};
  for (std::size_t i = 0; i < 256 && 3 * i + 2 < palette.size(); ++i) {
    colours[i] = {palette[3 * i + 2], palette[3 * i + 1], palette[3 * i], 0};
  }
  const std::size_t pixels =
      std::min({index.size(), picture.size() / kBytesPerPixel, std::size_t{kPixelCount}});
  if (pixels == 0) return;
  const std::uint8_t* in = index.data();
  std::uint8_t* out = picture.data();
  for (std::size_t p = 0; p + 1 < pixels; ++p) std::memcpy(out + 3 * p, colours[in[p]].data(), 4);
  std::memcpy(out + 3 * (pixels - 1), colours[in[pixels - 1]].data(), 3);
}

}  // namespace zemlo
