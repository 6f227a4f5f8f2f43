#include "picture/pcx_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "core/geometry.h"
#include "picture/pcx_header.h"
#include "picture/pcx_scanlines.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zemlo {
namespace {

using pcx::Cursor;
using pcx::FinishScanline;
using pcx::kRunOvershoot;
using pcx::PcxHeader;
using pcx::PcxKind;

// The three planes of one scanline as blue, green, red pixels.
void InterleaveRow(const std::uint8_t* red, const std::uint8_t* green, const std::uint8_t* blue,
                   std::size_t columns, std::uint8_t* row) {
  std::size_t x = 0;
#if defined(__SSE2__)
  // Sixteen pixels at a time: the planes are interleaved into blue, green, red, 0 words, each
  // pair of them is closed up to six bytes and stored as eight, the last two bytes being
  // overwritten by the next store. The loop stops while a pixel of the row is still to come,
  // so the last store's two extra bytes never leave the pixels of this row.
  const __m128i zero = _mm_setzero_si128();
  const __m128i low_pixel = _mm_set1_epi64x(0x0000000000FFFFFFll);
  const __m128i high_pixel = _mm_set1_epi64x(0x0000FFFFFF000000ll);
  for (; x + 17 <= columns; x += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blue + x));
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + x));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(red + x));
    const __m128i bg_low = _mm_unpacklo_epi8(b, g);
    const __m128i bg_high = _mm_unpackhi_epi8(b, g);
    const __m128i r_low = _mm_unpacklo_epi8(r, zero);
    const __m128i r_high = _mm_unpackhi_epi8(r, zero);
    const __m128i quads[4] = {_mm_unpacklo_epi16(bg_low, r_low), _mm_unpackhi_epi16(bg_low, r_low),
                              _mm_unpacklo_epi16(bg_high, r_high),
                              _mm_unpackhi_epi16(bg_high, r_high)};
    std::uint8_t* out = row + 3 * x;
    for (const __m128i& quad : quads) {
      const __m128i pairs = _mm_or_si128(_mm_and_si128(quad, low_pixel),
                                         _mm_and_si128(_mm_srli_epi64(quad, 8), high_pixel));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), pairs);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6), _mm_srli_si128(pairs, 8));
      out += 12;
    }
  }
#endif
  for (; x < columns; ++x) {
    row[3 * x] = blue[x];
    row[3 * x + 1] = green[x];
    row[3 * x + 2] = red[x];
  }
}

// The columns from the first to just past the last where any of the three planes is not 0,
// in whole groups of sixteen where the row has them (the last group may end at `columns`);
// from == to when every plane is 0.
std::pair<std::size_t, std::size_t> InkColumns(const std::uint8_t* red, const std::uint8_t* green,
                                               const std::uint8_t* blue, std::size_t columns) {
  constexpr std::size_t kGroup = 16;
  const std::size_t groups = (columns + kGroup - 1) / kGroup;
  auto black = [&](std::size_t group) {
    const std::size_t x = group * kGroup;
    const std::size_t n = std::min(kGroup, columns - x);
#if defined(__SSE2__)
    if (n == kGroup) {
      const __m128i any =
          _mm_or_si128(_mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(red + x)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + x))),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(blue + x)));
      return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
    }
#endif
    std::uint8_t any = 0;
    for (std::size_t i = x; i < x + n; ++i) any |= red[i] | green[i] | blue[i];
    return any == 0;
  };
  std::size_t first = 0;
  while (first < groups && black(first)) ++first;
  if (first == groups) return {0, 0};
  std::size_t last = groups - 1;
  while (black(last)) --last;
  return {first * kGroup, std::min(columns, (last + 1) * kGroup)};
}

// Where the codes of each scanline that lands in the picture begin, and where the last one
// ends (rows + 1 places); empty when the data end first.
std::vector<const std::uint8_t*> FindScanlines(const PcxHeader& header) {
  const std::size_t line_bytes = std::size_t(header.planes) * header.bytes_per_line;
  const std::uint8_t* const end = header.data.data() + header.data.size();
  std::vector<const std::uint8_t*> starts(std::size_t(header.rows) + 1);
  starts[0] = header.data.data();
  for (int r = 0; r < header.rows; ++r) {
    starts[r + 1] = pcx::SkipScanline(starts[r], end, line_bytes);
    if (!starts[r + 1]) return {};
  }
  return starts;
}

// One pixel's colour index: its bits in each plane, plane 0 the lowest, the leftmost pixel in
// the highest bits of a byte.
int PixelIndex(std::span<const std::uint8_t> line, std::size_t bytes_per_line, int planes, int bits,
               std::size_t x) {
  const std::size_t bit = x * std::size_t(bits);
  const int shift = 8 - bits - int(bit % 8);
  const int mask = (1 << bits) - 1;
  int index = 0;
  for (int k = 0; k < planes; ++k) {
    index |= (line[std::size_t(k) * bytes_per_line + bit / 8] >> shift & mask) << (k * bits);
  }
  return index;
}

// Indexed scanlines one at a time, each through the palette into blue, green, red pixels.
void DecodeIndexedRows(const PcxHeader& header, const std::vector<const std::uint8_t*>& starts,
                       std::span<std::uint8_t> picture) {
  const std::size_t line_bytes = std::size_t(header.planes) * header.bytes_per_line;
  const std::uint8_t* const end = header.data.data() + header.data.size();
  std::vector<std::uint8_t> line(line_bytes + kRunOvershoot);
  for (int r = 0; r < header.rows; ++r) {
    if (line_bytes != 0) {
      Cursor c{starts[r]};
      FinishScanline<true>(c, end, line_bytes, line.data());
    }
    const auto row = picture.subspan(std::size_t(r) * kRowBytes, kRowBytes);
    for (std::size_t x = 0; x < header.columns; ++x) {
      const int index = PixelIndex(line, header.bytes_per_line, header.planes, header.bits, x);
      const auto rgb = header.palette.subspan(3 * std::size_t(index), 3);
      row[3 * x] = rgb[2];
      row[3 * x + 1] = rgb[1];
      row[3 * x + 2] = rgb[0];
    }
    std::fill(row.begin() + 3 * std::ptrdiff_t(header.columns), row.end(), std::uint8_t{0});
  }
}

// Whether the codes of a scanline, from `from` to `to`, are run codes of value 0 and nothing
// else (a black background's scanline from most writers): a scanline of literal zeros is
// black too, but is decoded as any other.
bool OnlyRunsOfZero(const std::uint8_t* from, const std::uint8_t* to) {
  if ((to - from) % 2 != 0) return false;
#if defined(__SSE2__)
  // Eight codes and their values at a time: every even byte a run code, every odd one 0.
  const __m128i run_flags = _mm_set1_epi8(static_cast<char>(pcx::kRunFlags));
  for (; to - from >= 16; from += 16) {
    const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const auto codes = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(sixteen, run_flags), run_flags)));
    const auto zeros =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(sixteen, _mm_setzero_si128())));
    if ((codes & 0x5555u) != 0x5555u || (zeros & 0xAAAAu) != 0xAAAAu) return false;
  }
#endif
  for (; from != to; from += 2) {
    if (from[0] < pcx::kRunFlags || from[1] != 0) return false;
  }
  return true;
}

// The first and one past the last column from `from` to `to` (a range InkColumns gave) where a
// plane is not 0: the range's first and last group are looked into pixel by pixel.
std::pair<int, int> ExactInk(const std::uint8_t* red, const std::uint8_t* green,
                             const std::uint8_t* blue, std::size_t from, std::size_t to) {
  auto inked = [&](std::size_t x) { return (red[x] | green[x] | blue[x]) != 0; };
  while (!inked(from)) ++from;
  while (!inked(to - 1)) --to;
  return {static_cast<int>(from), static_cast<int>(to)};
}

// The crop box of rows as they are decoded, each row's ink added as it comes.
class InkBox {
 public:
  void Add(int row, std::pair<int, int> columns) {
    box_.top = std::min(box_.top, row);
    box_.bottom = std::max(box_.bottom, row);
    box_.left = std::min(box_.left, columns.first);
    box_.right = std::max(box_.right, columns.second - 1);
  }
  const CropBox& box() const { return box_; }

 private:
  CropBox box_{kPictureHeight, 0, kPictureWidth, 0};
};

// The 24-bit scanlines two at a time, their planes interleaved into blue, green, red pixels.
void DecodeTrueColourRows(const PcxHeader& header, const std::vector<const std::uint8_t*>& starts,
                          std::span<std::uint8_t> picture, PictureRows inked, InkBox& ink) {
  const std::size_t bpl = header.bytes_per_line;
  const std::size_t line_bytes = 3 * bpl;
  const std::uint8_t* const end = header.data.data() + header.data.size();
  const int rows = header.rows;
  const std::size_t columns = std::min<std::size_t>(bpl, kPictureWidth);
  std::vector<std::uint8_t> lines(2 * (line_bytes + kRunOvershoot));
  std::uint8_t* const line_pair[2] = {lines.data(), lines.data() + line_bytes + kRunOvershoot};
  for (int r = 0; r < rows; r += 2) {
    const int count = std::min(2, rows - r);
    // A scanline of nothing but runs of 0 is black: it is not decoded or looked at again.
    bool black[2] = {false, false};
    for (int k = 0; k < count && line_bytes != 0; ++k) {
      black[k] = OnlyRunsOfZero(starts[r + k], starts[r + k + 1]);
    }
    if (line_bytes != 0) {
      if (count == 2 && !black[0] && !black[1]) {
        pcx::DecodeScanlinePair(starts[r], starts[r + 1], end, line_bytes, line_pair[0],
                                line_pair[1]);
      } else {
        for (int k = 0; k < count; ++k) {
          if (black[k]) continue;
          Cursor c{starts[r + k]};
          FinishScanline<true>(c, end, line_bytes, line_pair[k]);
        }
      }
    }
    for (int k = 0; k < count; ++k) {
      std::uint8_t* row = picture.data() + std::size_t(r + k) * kRowBytes;
      if (black[k]) {
        if (r + k >= inked.first && r + k < inked.end) std::memset(row, 0, kRowBytes);
        continue;
      }
      const std::uint8_t* line = line_pair[k];
      // Only the columns between the first and the last that is not black in some plane are
      // interleaved; a sprite's picture is mostly black rows and black around the sprite.
      const auto [from, to] = InkColumns(line, line + bpl, line + 2 * bpl, columns);
      if (from != to) ink.Add(r + k, ExactInk(line, line + bpl, line + 2 * bpl, from, to));
      std::memset(row, 0, 3 * from);
      InterleaveRow(line + from, line + bpl + from, line + 2 * bpl + from, to - from,
                    row + 3 * from);
      std::memset(row + 3 * to, 0, kRowBytes - 3 * to);
    }
  }
}

}  // namespace

int PcxPictureRows(std::span<const std::uint8_t> file) {
  const auto header = pcx::CheckHeader(file);
  return header ? header->rows : 0;
}

Result<int> DecodePcx(std::span<const std::uint8_t> file, std::span<std::uint8_t> picture,
                      std::optional<CropBox>* ink, PictureRows inked) {
  if (ink != nullptr) ink->reset();
  if (picture.size() < kPictureBytes) return Fail(Reason{"the picture buffer is too small"});
  const auto header = pcx::CheckHeader(file);
  if (!header) return Fail(header.error());
  // Check first that the data hold every row we will write, so a short file is refused with
  // the picture untouched and the decoding below cannot run off the loaded bytes. The walk
  // keeps where each scanline begins, so the decoding can take them two at a time.
  const auto starts = FindScanlines(*header);
  if (starts.empty()) return Fail(Reason{"the picture data end before its last row"});
  if (header->kind == PcxKind::kIndexed) {
    DecodeIndexedRows(*header, starts, picture);
  } else {
    InkBox box;
    DecodeTrueColourRows(*header, starts, picture, inked, box);
    if (ink != nullptr) *ink = box.box();
  }
  return header->rows;
}

}  // namespace zemlo
