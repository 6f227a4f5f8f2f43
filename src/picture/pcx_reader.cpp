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
  const std::uint64_t codes =
      (even_stretches & kEven) | (stretches & ~even_stretches & ~kEven);
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
void DecodeScanlinePair(const std::uint8_t* in_a, const std::uint8_t* in_b,
                        const std::uint8_t* end, std::size_t line_bytes, std::uint8_t* line_a,
                        std::uint8_t* line_b) {
  Cursor a{in_a}, b{in_b};
  while (a.produced < line_bytes && b.produced < line_bytes && end - a.in > 9 &&
         end - b.in > 9) {
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

}  // namespace

int PcxPictureRows(std::span<const std::uint8_t> file) {
  const auto header = ReadHeader(file);
  return header ? header->rows : 0;
}

std::string_view PcxRefusal(std::span<const std::uint8_t> file) {
  if (file.size() < kHeaderSize) return "shorter than a PCX header";
  if (file[0] != kManufacturer) return "not a PCX file";
  if (static_cast<std::int8_t>(file[kPlanesOffset]) != kPlanes) {
    return "not a 24-bit PCX file; this version reads 24-bit 3-plane PCX";
  }
  const auto header = ReadHeader(file);
  if (!header) return "shorter than a PCX header";
  const auto data = file.subspan(kHeaderSize);
  const std::uint8_t* at = data.data();
  for (int r = 0; r < header->rows && at != nullptr; ++r) {
    at = SkipScanline(at, data.data() + data.size(), 3 * header->bytes_per_line);
  }
  if (at == nullptr) return "the picture data end before its last row";
  return {};
}

int DecodePcx(std::span<const std::uint8_t> file, std::span<std::uint8_t> picture) {
  if (picture.size() < kPictureBytes) return 0;
  const auto header = ReadHeader(file);
  if (!header) return 0;
  const std::size_t bpl = header->bytes_per_line;
  const std::size_t line_bytes = 3 * bpl;
  const auto data = file.subspan(kHeaderSize);
  const std::uint8_t* const end = data.data() + data.size();
  // Check first that the data hold every row we will write, so a short file is refused with
  // the picture untouched and the decoding below cannot run off the loaded bytes. The walk
  // keeps where each scanline begins, so the decoding can take them two at a time.
  const int rows = header->rows;
  std::vector<const std::uint8_t*> starts(std::size_t(rows) + 1);
  starts[0] = data.data();
  for (int r = 0; r < rows; ++r) {
    starts[r + 1] = SkipScanline(starts[r], end, line_bytes);
    if (!starts[r + 1]) return 0;
  }

  const std::size_t columns = std::min<std::size_t>(bpl, kPictureWidth);
  std::vector<std::uint8_t> lines(2 * (line_bytes + kRunOvershoot));
  std::uint8_t* const line_pair[2] = {lines.data(), lines.data() + line_bytes + kRunOvershoot};
  for (int r = 0; r < rows; r += 2) {
    const int count = std::min(2, rows - r);
    if (line_bytes != 0) {
      if (count == 2) {
        DecodeScanlinePair(starts[r], starts[r + 1], end, line_bytes, line_pair[0],
                           line_pair[1]);
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
