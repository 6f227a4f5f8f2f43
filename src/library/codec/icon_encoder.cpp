#include "library/codec/icon_encoder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "core/bit_count.h"
#include "core/byte_reader.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zemlo {
namespace {

constexpr int kW = kPictureWidth;
constexpr int kH = kPictureHeight;
constexpr std::size_t kRow = kRowBytes;

// Smoothing tiles: 7 x 7, the replacement window shifted this far down and right of the
// averaging window; channels within this distance of the average are flattened.
constexpr int kTile = 7;
constexpr int kReplaceShift = 3;
constexpr int kTolerance = 6;
constexpr int kMinAverage = 2;  // a flattened pixel is never black

// Mask kind by the most transitions in one row: 0-1 unmasked, 2-5 X-masked, 6 or more
// 0-masked (run-length rows with that many runs would outgrow the plain rows).
constexpr int kXMaskedFrom = 2;
constexpr int kZeroMaskedFrom = 6;

constexpr std::uint8_t kSoundMagic[4] = {'d', 'a', 't', 'a'};
constexpr std::size_t kSoundHeaderSize = 8;  // "data" and the 32-bit size

inline bool IsBlack(const std::uint8_t* p) { return (p[0] | p[1] | p[2]) == 0; }

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// True when any of the bytes [begin, end) is not zero; 32 bytes at a time.
bool AnyNonZero(const std::uint8_t* begin, const std::uint8_t* end) {
#if defined(__SSE2__)
  // In the vector unit: as 64-bit words a 32-bit processor took twice the instructions.
  const __m128i zero = _mm_setzero_si128();
  while (end - begin >= 32) {
    const __m128i any = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(begin)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + 16)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) != 0xFFFF) return true;
    begin += 32;
  }
  std::uint8_t acc = 0;
#else
  std::uint64_t acc = 0;
  while (end - begin >= 32) {
    acc |= Load64(begin) | Load64(begin + 8) | Load64(begin + 16) | Load64(begin + 24);
    if (acc != 0) return true;
    begin += 32;
  }
#endif
  while (begin < end) acc |= *begin++;
  return acc != 0;
}

// Index of the first non-zero byte in [begin, end), or end - begin when there is none.
std::size_t FirstNonZero(const std::uint8_t* begin, const std::uint8_t* end) {
  const std::uint8_t* p = begin;
  while (end - p >= 8) {
    const std::uint64_t v = Load64(p);
    if (v != 0) {
      if constexpr (std::endian::native == std::endian::little) {
        return static_cast<std::size_t>(p - begin) + TrailingZeroBits(v) / 8;
      }
      break;
    }
    p += 8;
  }
  while (p < end && *p == 0) ++p;
  return static_cast<std::size_t>(p - begin);
}

// Number of bytes after the last non-zero byte in [begin, end) (end - begin when none).
std::size_t TrailingZeros(const std::uint8_t* begin, const std::uint8_t* end) {
  const std::uint8_t* p = end;
  while (p - begin >= 8) {
    const std::uint64_t v = Load64(p - 8);
    if (v != 0) {
      if constexpr (std::endian::native == std::endian::little) {
        return static_cast<std::size_t>(end - p) + LeadingZeroBits(v) / 8;
      }
      break;
    }
    p -= 8;
  }
  while (p > begin && p[-1] == 0) --p;
  return static_cast<std::size_t>(end - p);
}

bool BoxIsInside(const CropBox& box) {
  return box.top >= 0 && box.top <= box.bottom && box.bottom < kH && box.left >= 0 &&
         box.left <= box.right && box.right < kW;
}

// Transitions between black and non-black along one row of the box. The state starts from
// the blue byte alone, so a row opening with pure red or green counts one more.
int RowTransitions(const std::uint8_t* p, int count) {
  bool non_black = p[0] != 0;
  int transitions = 0;
  for (int i = 0; i < count; ++i, p += 3) {
    const bool here = !IsBlack(p);
    transitions += here != non_black;
    non_black = here;
  }
  return transitions;
}

// Appends to the output span, refusing (and remembering it) what does not fit.
class EntryWriter {
 public:
  explicit EntryWriter(std::span<std::uint8_t> out) : out_(out) {}
  bool ok() const { return ok_; }
  std::size_t size() const { return pos_; }
  std::size_t room() const { return out_.size() - pos_; }

  void Byte(std::uint8_t b) {
    if (!ok_ || room() < 1) return Fail();
    out_[pos_++] = b;
  }
  void Count(std::size_t v) {
    if (!ok_) return;
    const std::size_t n = WriteCount(v, out_.subspan(pos_));
    if (n == 0) return Fail();
    pos_ += n;
  }
  void Bytes(const std::uint8_t* p, std::size_t n) {
    if (!ok_ || room() < n) return Fail();
    std::memcpy(out_.data() + pos_, p, n);
    pos_ += n;
  }

 private:
  void Fail() { ok_ = false; }
  std::span<std::uint8_t> out_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

void WritePlainRows(const std::uint8_t* picture, const CropBox& box, EntryWriter& w) {
  const std::size_t row_bytes = static_cast<std::size_t>(box.right - box.left + 1) * 3;
  for (int y = box.top; y <= box.bottom; ++y) {
    w.Bytes(picture + y * kRow + static_cast<std::size_t>(box.left) * 3, row_bytes);
  }
}

void WriteMaskedRows(const std::uint8_t* picture, const CropBox& box, EntryWriter& w) {
  for (int y = box.top; y <= box.bottom && w.ok(); ++y) {
    const std::uint8_t* row = picture + y * kRow;
    int x = box.left;
    const int end = box.right + 1;
    while (x < end) {
      const int skip_from = x;
      while (x < end && IsBlack(row + x * 3)) ++x;
      const int copy_from = x;
      while (x < end && !IsBlack(row + x * 3)) ++x;
      const int copy = x - copy_from;
      if (copy > 0) {
        // The copy count goes first although the skip lies first on the row.
        w.Count(static_cast<std::size_t>(copy));
        w.Count(static_cast<std::size_t>(copy_from - skip_from));
        w.Bytes(row + copy_from * 3, static_cast<std::size_t>(copy) * 3);
      }
    }
    w.Count(0);
  }
}

std::size_t EncodeSound(std::span<const std::uint8_t> source, std::span<std::uint8_t> out) {
  // A plain byte search, not a walk over the RIFF chunks: files whose text chunks mention
  // "data" have always been cut at that first mention, and stored libraries hold them so.
  const auto found = FindSoundData(source);
  if (!found) return 0;
  ByteReader wav(source);
  if (!wav.Skip(*found + sizeof kSoundMagic)) return 0;
  const auto size = wav.U32LE();
  if (!size) return 0;
  // A size field beyond the loaded bytes (a cut-off file) keeps what is there.
  const auto samples = wav.TakeUpTo(std::min<std::size_t>(*size, out.size()));
  if (!samples.empty()) std::memcpy(out.data(), samples.data(), samples.size());
  return samples.size();
}

}  // namespace

std::optional<std::size_t> FindSoundData(std::span<const std::uint8_t> wav) {
  const auto found =
      std::search(wav.begin(), wav.end(), std::begin(kSoundMagic), std::end(kSoundMagic));
  if (found == wav.end()) return std::nullopt;
  const auto at = static_cast<std::size_t>(found - wav.begin());
  if (wav.size() - at < kSoundHeaderSize) return std::nullopt;
  return at;
}

bool IsSoundNumber(int icon) { return icon >= 9000 && icon <= 9999; }

bool IsSmoothed(int icon) {
  return (icon >= 4000 && icon <= 4999) || (icon >= 6000 && icon <= 8999) || icon >= 12000;
}

CropBox FindCropBox(std::span<const std::uint8_t> picture, const CropBox* within) {
  CropBox box{kH, 0, kW, 0};
  if (picture.size() < kPictureBytes) return box;
  if (within != nullptr && !BoxIsInside(*within)) return box;  // all black
  // The rows searched, and the bytes of each: the whole picture, or the box around which
  // everything is black.
  const int top_row = within != nullptr ? within->top : 0;
  const int bottom_row = within != nullptr ? within->bottom : kH - 1;
  const std::size_t from = within != nullptr ? std::size_t(within->left) * 3 : 0;
  const std::size_t to = within != nullptr ? std::size_t(within->right + 1) * 3 : kRow;
  const std::uint8_t* p = picture.data();
  auto row_empty = [p, from, to](int y) {
    return !AnyNonZero(p + y * kRow + from, p + y * kRow + to);
  };
  int top = top_row;
  while (top <= bottom_row && row_empty(top)) ++top;
  if (top > bottom_row) return box;  // all black
  box.top = top;
  int bottom = bottom_row;
  while (bottom > top && row_empty(bottom)) --bottom;
  box.bottom = bottom;
  // Rows outside top..bottom are empty, so only these decide the columns. Each row is only
  // searched where it could still widen the box found so far.
  std::size_t first = to;       // byte index of the leftmost non-zero byte
  std::size_t last_end = from;  // byte index just after the rightmost non-zero byte
  for (int y = top; y <= bottom; ++y) {
    const std::uint8_t* row = p + y * kRow;
    first = std::min(first, from + FirstNonZero(row + from, row + first));
    if (last_end < to) {
      last_end = std::max(last_end, to - TrailingZeros(row + last_end, row + to));
    }
  }
  box.left = static_cast<int>(first / 3);
  box.right = static_cast<int>((last_end - 1) / 3);
  return box;
}

std::uint8_t ChooseMaskKind(std::span<const std::uint8_t> picture, const CropBox& box) {
  if (picture.size() < kPictureBytes || !BoxIsInside(box)) return kUnmasked;
  const int width = box.right - box.left + 1;
  int most = 0;
  for (int y = box.top; y <= box.bottom; ++y) {
    most = std::max(most, RowTransitions(picture.data() + y * kRow + box.left * 3, width));
    if (most >= kZeroMaskedFrom) return kZeroMasked;  // no row can change it any more
  }
  return most >= kXMaskedFrom ? kXMasked : kUnmasked;
}

void SmoothColours(std::span<std::uint8_t> picture, const CropBox* crop_box) {
  if (picture.size() < kPictureBytes) return;
  std::uint8_t* const p = picture.data();
  // Every pixel outside the crop box is black, so a tile reaching out of it stays as it is:
  // only the tiles inside are averaged (a sprite covers a small part of the picture). A dark
  // average may paint black pixels past the box, but no further than three past a tile inside
  // it: a tile reaching out past the right (bottom) has its last column (row) outside, seven
  // past the last column of a tile inside, and one reaching out past the left (top) lies
  // before every tile inside. Either keeps a black pixel.
  const CropBox ink = crop_box != nullptr ? *crop_box : FindCropBox(picture);
  for (int ty = 0; ty < kH - 3; ty += kTile) {
    // Pixels outside the picture count as black, so a tile reaching below it stays.
    if (ty + kTile > kH) continue;
    if (ty < ink.top || ty + kTile - 1 > ink.bottom) continue;
    for (int tx = 0; tx < kW - 3; tx += kTile) {
      if (tx + kTile > kW) continue;
      if (tx < ink.left || tx + kTile - 1 > ink.right) continue;
      // Sums and the black test without branches: busy art has no black, and every tile
      // of it must be averaged.
      unsigned sum[3] = {0, 0, 0};
      unsigned black = 0;
      const std::uint8_t* a = p + ty * kRow + tx * 3;
      for (int y = 0; y < kTile; ++y, a += kRow) {
        for (int i = 0; i < kTile; ++i) {
          const unsigned b = a[3 * i], g = a[3 * i + 1], r = a[3 * i + 2];
          black |= (b | g | r) == 0;
          sum[0] += b;
          sum[1] += g;
          sum[2] += r;
        }
      }
      if (black) continue;
      // Each channel is near its average when c - (average - 5), taken unsigned, is at most
      // the band's width (the band is cut at 0 and 255). Pixels are blended with a mask,
      // not branched on: in busy art whether a pixel is flattened is a coin toss.
      unsigned low[3], width[3], avg[3];
      for (int c = 0; c < 3; ++c) {
        const int v = std::max(static_cast<int>(sum[c] / (kTile * kTile)), kMinAverage);
        const int lo = std::max(v - (kTolerance - 1), 0);
        const int hi = std::min(v + (kTolerance - 1), 255);
        avg[c] = static_cast<unsigned>(v);
        low[c] = static_cast<unsigned>(lo);
        width[c] = static_cast<unsigned>(hi - lo);
      }
      const int y_end = std::min(ty + kReplaceShift + kTile, kH);
      const int x_end = std::min(tx + kReplaceShift + kTile, kW);
      const int count = x_end - (tx + kReplaceShift);
      std::uint8_t* q = p + (ty + kReplaceShift) * kRow + (tx + kReplaceShift) * 3;
      for (int y = ty + kReplaceShift; y < y_end; ++y, q += kRow) {
        for (int i = 0; i < count; ++i) {
          std::uint8_t* px = q + 3 * i;
          const unsigned b = px[0], g = px[1], r = px[2];
          const unsigned near = static_cast<unsigned>(b - low[0] <= width[0]) &
                                static_cast<unsigned>(g - low[1] <= width[1]) &
                                static_cast<unsigned>(r - low[2] <= width[2]);
          const unsigned mask = 0u - near;
          px[0] = static_cast<std::uint8_t>(b ^ ((b ^ avg[0]) & mask));
          px[1] = static_cast<std::uint8_t>(g ^ ((g ^ avg[1]) & mask));
          px[2] = static_cast<std::uint8_t>(r ^ ((r ^ avg[2]) & mask));
        }
      }
    }
  }
}

namespace {

// Where SmoothColours given `box` may change a pixel: the tiles inside the box replace the
// pixels kReplaceShift down and right of them, so up to that far past its right and bottom.
CropBox SmoothingReach(const CropBox& box) {
  if (!BoxIsInside(box)) return box;
  return {box.top, std::min(box.bottom + kReplaceShift, kH - 1), box.left,
          std::min(box.right + kReplaceShift, kW - 1)};
}

}  // namespace

std::size_t EncodeIcon(int icon, std::span<std::uint8_t> source, std::span<std::uint8_t> out,
                       CoordinatesTable& coordinates, CropBox& crop_box) {
  std::optional<CoordinatesRecord> record;
  const std::size_t length = EncodeIconEntry(icon, source, out, record, crop_box);
  if (record) coordinates.Set(icon, *record);
  return length;
}

std::size_t EncodeIconEntry(int icon, std::span<std::uint8_t> source, std::span<std::uint8_t> out,
                            std::optional<CoordinatesRecord>& record, CropBox& crop_box,
                            const CropBox* known_box) {
  const bool smoothed = IsSmoothed(icon);
  if (smoothed) SmoothColours(source, source.size() >= kPictureBytes ? known_box : nullptr);
  if (IsSoundNumber(icon)) return EncodeSound(source, out);
  if (source.size() < kPictureBytes) return 0;

  // Smoothing may paint black pixels just past the box it was given: the box is found again,
  // within the reach of the tiles it averaged.
  const CropBox reach = known_box != nullptr ? SmoothingReach(*known_box) : CropBox{};
  const CropBox box = known_box == nullptr ? FindCropBox(source)
                      : smoothed           ? FindCropBox(source, &reach)
                                           : *known_box;
  const std::uint8_t kind = ChooseMaskKind(source, box);
  EntryWriter writer(out);
  const std::uint8_t header[kEntryHeaderSize] = {kEntryBitsPerPixel, kind, 0, 0};
  writer.Bytes(header, sizeof header);
  if (BoxIsInside(box)) {
    if (kind == kXMasked) {
      WriteMaskedRows(source.data(), box, writer);
    } else {
      WritePlainRows(source.data(), box, writer);
    }
  }
  if (!writer.ok()) return 0;

  // An all-black picture has no box: its record says "nothing", so decoding draws nothing
  // (the box's own edges would give a width of 1 - 800 and a height of 1 - 600).
  CoordinatesRecord& placed = record.emplace();
  if (BoxIsInside(box)) {
    placed.width = static_cast<std::uint16_t>(box.right - box.left + 1);
    placed.height = static_cast<std::uint16_t>(box.bottom - box.top + 1);
    placed.left = static_cast<std::uint16_t>(box.left);
    placed.top = static_cast<std::uint16_t>(box.top);
  }
  crop_box = box;
  return writer.size();
}

}  // namespace zemlo
