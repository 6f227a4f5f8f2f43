#include "picture/pcx_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "core/byte_reader.h"
#include "core/geometry.h"
#include "picture/byte_flags.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zemlo {
namespace {

constexpr std::uint8_t kManufacturer = 10;
constexpr std::size_t kBitsOffset = 3;
constexpr std::size_t kXMinOffset = 4;
constexpr std::size_t kYMinOffset = 6;
constexpr std::size_t kXMaxOffset = 8;
constexpr std::size_t kYMaxOffset = 10;
constexpr std::size_t kHeaderPaletteOffset = 16;  // sixteen colours, red, green, blue
constexpr std::size_t kHeaderPaletteSize = 48;
constexpr std::size_t kPlanesOffset = 65;
constexpr std::size_t kBytesPerLineOffset = 66;
constexpr std::size_t kHeaderSize = 128;
// 256-colour files end with this byte and the 768 bytes of their palette.
constexpr std::uint8_t kEndPaletteMark = 12;
constexpr std::size_t kEndPaletteSize = 768;
constexpr std::uint8_t kRunFlags = 0xC0;  // both top bits set: a run code
constexpr std::uint8_t kRunCountMask = 0x3F;
// A run is written whole as one fixed-size store; the line buffer has this much room past the
// scanline for it (the longest run is 63 bytes).
constexpr std::size_t kRunOvershoot = 64;

// Pillow writes its 1-bit files with a header palette of eight black and eight white entries,
// and it and ImageMagick read 1-bit files as black and white whatever the header says; netpbm
// puts the two colours there and reads them back. Taking the first two header colours unless
// they are the same gives each writer its own picture.
constexpr std::uint8_t kBlackWhite[6] = {0, 0, 0, 255, 255, 255};

enum class PcxKind {
  kTrueColour,  // three planes of 8 bits: red, green, blue
  kIndexed,     // 1, 4 or 8 bits of colour index per pixel, in one plane or four of 1 bit
};

// What the header says, checked: how to walk the scanlines and, for indexed files, how to
// colour them.
struct PcxHeader {
  PcxKind kind = PcxKind::kTrueColour;
  std::size_t bytes_per_line = 0;
  int planes = 3;
  int rows = 0;  // rows that land in the picture
  // The codes of the scanlines: everything after the header, up to the palette that ends a
  // 256-colour file.
  std::span<const std::uint8_t> data;
  // Indexed files only.
  int bits = 8;                           // bits per pixel in each plane
  std::size_t columns = 0;                // pixels per row that land in the picture
  std::span<const std::uint8_t> palette;  // red, green, blue of each index the file can hold
};

struct HeaderCheck {
  std::optional<PcxHeader> header;
  std::string_view refusal;  // why there is no header
};

HeaderCheck Refused(std::string_view why) { return {std::nullopt, why}; }

// The one place that decides which files are taken: DecodePcx, PcxPictureRows and PcxRefusal
// all start here.
HeaderCheck CheckHeader(std::span<const std::uint8_t> file) {
  if (file.size() < kHeaderSize) return Refused("shorter than a PCX header");
  if (file[0] != kManufacturer) return Refused("not a PCX file");
  ByteReader reader(file);
  auto field = [&reader](std::size_t offset) -> std::optional<std::uint16_t> {
    if (!reader.Seek(offset)) return std::nullopt;
    return reader.U16LE();
  };
  const auto x_min = field(kXMinOffset);
  const auto y_min = field(kYMinOffset);
  const auto x_max = field(kXMaxOffset);
  const auto y_max = field(kYMaxOffset);
  const auto bpl = field(kBytesPerLineOffset);
  if (!x_min || !y_min || !x_max || !y_max || !bpl) return Refused("shorter than a PCX header");
  PcxHeader header;
  header.bytes_per_line = *bpl;
  header.rows = std::clamp(int{*y_max} - int{*y_min} + 1, 0, kPictureHeight);
  header.data = file.subspan(kHeaderSize);
  const int planes = static_cast<std::int8_t>(file[kPlanesOffset]);
  const int bits = file[kBitsOffset];
  // Three planes have always been read as 24-bit whatever the bits field says; only netpbm's
  // eight-colour kind, three planes of 1 bit, is told apart (it used to come out as noise).
  if (planes == 3 && bits == 1) {
    return Refused(
        "PCX of three 1-bit planes (8 colours); this version reads 1-, 4-, 8- and 24-bit PCX");
  }
  if (planes == 3) return {header, {}};

  header.kind = PcxKind::kIndexed;
  header.planes = planes;
  header.bits = bits;
  const auto header_palette = file.subspan(kHeaderPaletteOffset, kHeaderPaletteSize);
  if (planes == 1 && bits == 8) {
    if (file.size() < kHeaderSize + 1 + kEndPaletteSize ||
        file[file.size() - kEndPaletteSize - 1] != kEndPaletteMark) {
      return Refused("8-bit PCX without its 256-colour palette at the end");
    }
    header.palette = file.last(kEndPaletteSize);
    header.data = file.subspan(kHeaderSize, file.size() - kHeaderSize - kEndPaletteSize - 1);
  } else if ((planes == 1 && bits == 4) || (planes == 4 && bits == 1)) {
    header.palette = header_palette;
  } else if (planes == 1 && bits == 1) {
    const bool same = std::ranges::equal(header_palette.first(3), header_palette.subspan(3, 3));
    header.palette = same ? std::span<const std::uint8_t>(kBlackWhite) : header_palette.first(6);
  } else if (planes == 1 && bits == 2) {
    return Refused("2-bit PCX (4 colours); this version reads 1-, 4-, 8- and 24-bit PCX");
  } else if (planes == 2 && bits == 1) {
    return Refused(
        "PCX of two 1-bit planes (4 colours); this version reads 1-, 4-, 8- and 24-bit PCX");
  } else if (planes == 4 && bits == 8) {
    return Refused("32-bit PCX (four 8-bit planes); this version reads 1-, 4-, 8- and 24-bit PCX");
  } else {
    return Refused(
        "PCX with a number of planes or bits per pixel that no known kind has; this version "
        "reads 1-, 4-, 8- and 24-bit PCX");
  }
  // Bits past Xmax - Xmin + 1 only pad the scanline to whole (often even) bytes; the columns
  // they would make stay black, as a 24-bit writer's zero filler byte shows.
  const int width = std::max(int{*x_max} - int{*x_min} + 1, 0);
  const std::size_t held = header.bytes_per_line * 8 / std::size_t(bits);
  header.columns = std::min({std::size_t(width), held, std::size_t{kPictureWidth}});
  return {header, {}};
}

// Where the codes of one scanline are read and how many bytes they have produced.
struct Cursor {
  const std::uint8_t* in;
  std::size_t produced = 0;
};

// One step over the codes of a scanline of `line_bytes` bytes (not 0, not yet complete) with
// at least ten bytes of data left at the cursor. With kStore the decoded bytes go to `line`
// (line_bytes + kRunOvershoot bytes); without it the codes are only walked.
//
// Busy pictures are mostly literal bytes with a run code every few bytes, so a branch per code
// would be mispredicted at every turn. A step takes the literals among the next seven bytes up
// to the first run code, stores them as one 8-byte word, then that run as one fixed-size fill,
// with no branch on what the bytes were.
template <bool kStore>
inline void FastStep(Cursor& c, std::size_t line_bytes, std::uint8_t* line) {
  using namespace byte_flags;
  const std::uint64_t eight = Load8(c.in);
  const std::uint64_t codes = HighBytes(eight);
  // At most seven literals a step: the last byte is taken as a stop, which is a run code only
  // when it really is one.
  const std::size_t literals = FirstFlagged(codes | kLastByte);
  const std::uint64_t run = FlagAt(codes, literals);
  if constexpr (kStore) Store8(line + c.produced, eight);
  const std::size_t room = line_bytes - c.produced;
  if (literals >= room) {
    c.in += room;
    c.produced = line_bytes;
    return;
  }
  c.in += literals;
  c.produced += literals;
  // Without a run the fill lands where the next codes write (or past the scanline) and counts
  // nothing. Past the scanline end a run's excess lands in the spare room and is dropped.
  if constexpr (kStore) std::memset(line + c.produced, c.in[1], kRunOvershoot);
  c.produced += (c.in[0] & kRunCountMask) & (0 - run);
  c.in += 2 * run;
}

// Takes the codes from the cursor to the end of its scanline: fast steps while ten bytes are
// left, then code by code. False when the data end first.
template <bool kStore>
bool FinishScanline(Cursor& c, const std::uint8_t* end, std::size_t line_bytes,
                    std::uint8_t* line) {
  while (c.produced < line_bytes && end - c.in > 9) FastStep<kStore>(c, line_bytes, line);
  while (c.produced < line_bytes) {
    if (c.in == end) return false;
    const std::uint8_t b = *c.in++;
    if (b >= kRunFlags) {
      if (c.in == end) return false;
      if constexpr (kStore) std::memset(line + c.produced, *c.in, kRunOvershoot);
      ++c.in;
      c.produced += b & kRunCountMask;
    } else {
      if constexpr (kStore) line[c.produced] = b;
      ++c.produced;
    }
  }
  return true;
}

#if defined(__SSE2__)
// The bytes produced by the 64 code bytes at `p`, counted all at once; `value_first` says
// that p[0] is the value of a run code before it, and `value_next` is set when p[63] is a run
// code whose value is the next byte.
//
// Run codes and their values are told apart by position alone. Each stretch of bytes of 192
// and above begins with a run code (the byte before it is a literal or a value, after either
// of which a code follows); within the stretch codes and values alternate, and after a stretch
// of odd length the next byte is the last code's value. Adding one at the start of each
// stretch that begins at an even position clears exactly those stretches, which marks them;
// their codes are the even positions in them, the codes of the others the odd positions.
std::size_t BlockProduced(const std::uint8_t* p, bool value_first, bool& value_next) {
  const __m128i run_flags = _mm_set1_epi8(static_cast<char>(kRunFlags));
  __m128i bytes[4];
  std::uint64_t high = 0;  // one bit per byte of 192 and above
  for (int k = 0; k < 4; ++k) {
    bytes[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i is_high = _mm_cmpeq_epi8(_mm_and_si128(bytes[k], run_flags), run_flags);
    high |= std::uint64_t(static_cast<std::uint32_t>(_mm_movemask_epi8(is_high))) << (16 * k);
  }
  constexpr std::uint64_t kEven = 0x5555555555555555ull;
  const std::uint64_t stretches = high & ~std::uint64_t{value_first};
  const std::uint64_t starts = stretches & ~(stretches << 1);
  const std::uint64_t even_stretches = stretches & ((stretches + (starts & kEven)) ^ stretches);
  const std::uint64_t codes = (even_stretches & kEven) | (stretches & ~even_stretches & ~kEven);
  value_next = codes >> 63;

  // The counts of the codes, and how many codes there are, summed over the four sixteens.
  const __m128i zero = _mm_setzero_si128();
  const __m128i count_mask = _mm_set1_epi8(kRunCountMask);
  const __m128i one = _mm_set1_epi8(1);
  __m128i count_sums = zero;
  __m128i code_sums = zero;
  for (int k = 0; k < 4; ++k) {
    // This sixteen's code flags, one bit to a byte, then as whole-byte masks.
    const std::uint64_t bits = codes >> (16 * k);
    constexpr std::uint64_t kBitOfByte = 0x8040201008040201ull;
    const std::uint64_t low = ((bits & 0xFF) * 0x0101010101010101ull) & kBitOfByte;
    const std::uint64_t high8 = ((bits >> 8 & 0xFF) * 0x0101010101010101ull) & kBitOfByte;
    const __m128i not_code = _mm_cmpeq_epi8(
        _mm_set_epi64x(static_cast<long long>(high8), static_cast<long long>(low)), zero);
    const __m128i counts = _mm_andnot_si128(not_code, _mm_and_si128(bytes[k], count_mask));
    count_sums = _mm_add_epi64(count_sums, _mm_sad_epu8(counts, zero));
    code_sums = _mm_add_epi64(code_sums, _mm_sad_epu8(_mm_andnot_si128(not_code, one), zero));
  }
  alignas(16) std::uint64_t run_bytes[2];
  alignas(16) std::uint64_t code_count[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(run_bytes), count_sums);
  _mm_store_si128(reinterpret_cast<__m128i*>(code_count), code_sums);
  // Literals are the bytes that are neither codes nor values: 64 less two per code, less the
  // value carried in, plus the value that lies past the block.
  const std::size_t literals = 64 - 2 * std::size_t(code_count[0] + code_count[1]) -
                               std::size_t{value_first} + std::size_t{value_next};
  return literals + std::size_t(run_bytes[0] + run_bytes[1]);
}
#endif

// Where the codes of the scanline that begins at `in` end, or nullptr when the data end
// first. Every scanline takes at least one code, even an empty one.
const std::uint8_t* SkipScanline(const std::uint8_t* in, const std::uint8_t* end,
                                 std::size_t line_bytes) {
  if (line_bytes == 0) {
    if (in == end) return nullptr;
    if (*in++ < kRunFlags) return in;
    if (in == end) return nullptr;
    return in + 1;
  }
  Cursor c{in};
#if defined(__SSE2__)
  // Whole blocks of 64 code bytes while the scanline goes on past them; the block in which it
  // ends is walked code by code.
  bool value_first = false;
  while (end - c.in >= 64) {
    bool value_next = false;
    const std::size_t produced = BlockProduced(c.in, value_first, value_next);
    if (c.produced + produced >= line_bytes) break;
    c.produced += produced;
    c.in += 64;
    value_first = value_next;
  }
  if (value_first) {
    // The value of the last code counted lies here.
    if (c.in == end) return nullptr;
    ++c.in;
  }
#endif
  return FinishScanline<false>(c, end, line_bytes, nullptr) ? c.in : nullptr;
}

// Decodes two whole scanlines (not empty) whose codes are known to be complete. Each step
// depends on the one before through the position of the next code, so a scanline alone
// leaves the processor waiting; two independent ones side by side fill that time.
void DecodeScanlinePair(const std::uint8_t* in_a, const std::uint8_t* in_b, const std::uint8_t* end,
                        std::size_t line_bytes, std::uint8_t* line_a, std::uint8_t* line_b) {
  Cursor a{in_a}, b{in_b};
  while (a.produced < line_bytes && b.produced < line_bytes && end - a.in > 9 && end - b.in > 9) {
    FastStep<true>(a, line_bytes, line_a);
    FastStep<true>(b, line_bytes, line_b);
  }
  FinishScanline<true>(a, end, line_bytes, line_a);
  FinishScanline<true>(b, end, line_bytes, line_b);
}

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

// Where the codes of each scanline that lands in the picture begin, and where the last one
// ends (rows + 1 places); empty when the data end first.
std::vector<const std::uint8_t*> FindScanlines(const PcxHeader& header) {
  const std::size_t line_bytes = std::size_t(header.planes) * header.bytes_per_line;
  const std::uint8_t* const end = header.data.data() + header.data.size();
  std::vector<const std::uint8_t*> starts(std::size_t(header.rows) + 1);
  starts[0] = header.data.data();
  for (int r = 0; r < header.rows; ++r) {
    starts[r + 1] = SkipScanline(starts[r], end, line_bytes);
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

}  // namespace

int PcxPictureRows(std::span<const std::uint8_t> file) {
  const auto header = CheckHeader(file).header;
  return header ? header->rows : 0;
}

std::string_view PcxRefusal(std::span<const std::uint8_t> file) {
  const auto check = CheckHeader(file);
  if (!check.header) return check.refusal;
  if (FindScanlines(*check.header).empty()) return "the picture data end before its last row";
  return {};
}

int DecodePcx(std::span<const std::uint8_t> file, std::span<std::uint8_t> picture) {
  if (picture.size() < kPictureBytes) return 0;
  const auto header = CheckHeader(file).header;
  if (!header) return 0;
  // Check first that the data hold every row we will write, so a short file is refused with
  // the picture untouched and the decoding below cannot run off the loaded bytes. The walk
  // keeps where each scanline begins, so the decoding can take them two at a time.
  const auto starts = FindScanlines(*header);
  if (starts.empty()) return 0;
  if (header->kind == PcxKind::kIndexed) {
    DecodeIndexedRows(*header, starts, picture);
    return 1;
  }

  const std::size_t bpl = header->bytes_per_line;
  const std::size_t line_bytes = 3 * bpl;
  const std::uint8_t* const end = header->data.data() + header->data.size();
  const int rows = header->rows;
  const std::size_t columns = std::min<std::size_t>(bpl, kPictureWidth);
  std::vector<std::uint8_t> lines(2 * (line_bytes + kRunOvershoot));
  std::uint8_t* const line_pair[2] = {lines.data(), lines.data() + line_bytes + kRunOvershoot};
  for (int r = 0; r < rows; r += 2) {
    const int count = std::min(2, rows - r);
    if (line_bytes != 0) {
      if (count == 2) {
        DecodeScanlinePair(starts[r], starts[r + 1], end, line_bytes, line_pair[0], line_pair[1]);
      } else {
        Cursor c{starts[r]};
        FinishScanline<true>(c, end, line_bytes, line_pair[0]);
      }
    }
    for (int k = 0; k < count; ++k) {
      const std::uint8_t* line = line_pair[k];
      std::uint8_t* row = picture.data() + std::size_t(r + k) * kRowBytes;
      InterleaveRow(line, line + bpl, line + 2 * bpl, columns, row);
      std::memset(row + 3 * columns, 0, kRowBytes - 3 * columns);
    }
  }
  return 1;
}

}  // namespace zemlo
