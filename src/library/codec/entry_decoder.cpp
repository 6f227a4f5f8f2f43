#include "library/codec/entry_decoder.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "core/byte_reader.h"
#include "core/status.h"
#include "library/codec/entry_format.h"
#include "library/codec/icon_encoder.h"

namespace zemlo {
namespace {

// Bits of the mask kind byte; X-masked wins whatever the 0-mask bit says.
constexpr std::uint8_t kXMaskBit = 0x80;
constexpr std::uint8_t kZeroMaskBit = 0x40;

// Entries of any other depth are drawn as one byte per pixel, into a picture of that depth.
constexpr std::uint8_t kTrueColourDepth = 24;

inline std::uint64_t NonZeroByteMask(std::uint64_t v) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  const std::uint64_t high = (((v & kLow7) + kLow7) | v) & kHigh;
  return (high >> 7) * 0xFF;
}

// Stores the non-zero bytes of src over dst; zero bytes leave dst as it is.
void OverlayNonZero(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t s, d;
    std::memcpy(&s, src + i, 8);
    if (s == 0) continue;
    std::memcpy(&d, dst + i, 8);
    d = (d & ~NonZeroByteMask(s)) | s;
    std::memcpy(dst + i, &d, 8);
  }
  for (; i < n; ++i) {
    if (src[i] != 0) dst[i] = src[i];
  }
}

// The rows bytes were written into, as they are written.
class DrawnRows {
 public:
  explicit DrawnRows(PictureRows* rows) : rows_(rows) {}
  void Add(std::uint64_t from, std::size_t n) {
    if (rows_ == nullptr || n == 0) return;
    constexpr auto kRow = static_cast<std::uint64_t>(kRowBytes);
    const int first = static_cast<int>(from / kRow);
    const int end = static_cast<int>((from + n - 1) / kRow) + 1;
    if (rows_->first == rows_->end) {
      *rows_ = {first, end};
    } else {
      rows_->first = std::min(rows_->first, first);
      rows_->end = std::max(rows_->end, end);
    }
  }

 private:
  PictureRows* rows_;
};

// Copies or overlays the entry's next n bytes to picture position `out`; false when the
// entry or the picture ended first (what fits is still drawn).
bool Put(ByteReader& entry, std::span<std::uint8_t> picture, std::uint64_t out, std::uint64_t n,
         bool overlay, DrawnRows& drawn) {
  if (out >= picture.size()) return n == 0;
  const std::uint64_t room = picture.size() - out;
  const auto bytes = entry.TakeUpTo(static_cast<std::size_t>(std::min(n, room)));
  drawn.Add(out, bytes.size());
  if (overlay) {
    OverlayNonZero(picture.data() + out, bytes.data(), bytes.size());
  } else if (!bytes.empty()) {
    std::memcpy(picture.data() + out, bytes.data(), bytes.size());
  }
  return bytes.size() == n;
}

}  // namespace

void DecodeEntry(int icon, std::span<const std::uint8_t> entry, std::span<std::uint8_t> picture,
                 const CoordinatesTable& coordinates, StatusPort& port, Owner owner) {
  DecodeEntryAt(coordinates.Get(icon), entry, picture, port, owner);
}

void DecodeEntryAt(const CoordinatesRecord& record, std::span<const std::uint8_t> entry,
                   std::span<std::uint8_t> picture, StatusPort& port, Owner owner,
                   PictureRows* drawn_rows) {
  DrawnRows drawn(drawn_rows);
  if (entry.size() < 2) return;  // no kind byte, nothing to draw
  const std::uint64_t b = entry[0] == kTrueColourDepth ? 3 : 1;
  const std::uint64_t stride = kPictureWidth * b;
  const std::uint8_t kind = entry[1];
  ByteReader pixels(entry.subspan(std::min(kEntryHeaderSize, entry.size())));
  std::uint64_t row_start = record.top * stride + record.left * b;

  if (kind & kXMaskBit) {
    for (unsigned row = 0; row < record.height; ++row, row_start += stride) {
      std::uint64_t out = row_start;
      for (;;) {
        const auto copy = ReadCount(pixels);
        if (!copy) return;
        if (*copy == 0) break;
        const auto skip = ReadCount(pixels);
        if (!skip) return;
        out += *skip * b;  // from where the previous run ended
        if (*copy > static_cast<std::uint64_t>(kPictureWidth)) {
          ShowWarningNumber(port, owner, "Caution! iXLen = %x", static_cast<int>(*copy));
        }
        if (!Put(pixels, picture, out, *copy * b, false, drawn)) return;
        out += *copy * b;
      }
    }
    return;
  }
  const bool overlay = (kind & kZeroMaskBit) != 0;
  const std::uint64_t row_bytes = record.width * b;
  if (row_bytes == 0) return;
  for (unsigned row = 0; row < record.height; ++row, row_start += stride) {
    if (!Put(pixels, picture, row_start, row_bytes, overlay, drawn)) return;
  }
}

void ShowEntry(int icon, std::span<const std::uint8_t> entry, WorkingState& state,
               const Name& single_entry_name, PictureRows* ink) {
  auto picture = state.Picture();
  if (ink == nullptr) {
    std::memset(picture.data(), 0, picture.size());
  } else if (ink->first < ink->end) {
    const auto first = static_cast<std::size_t>(std::clamp(ink->first, 0, kPictureHeight));
    const auto end = static_cast<std::size_t>(std::clamp(ink->end, 0, kPictureHeight));
    if (first < end) std::memset(picture.data() + first * kRowBytes, 0, (end - first) * kRowBytes);
  }
  const CoordinatesTable coordinates(state.coordinates.span());
  if (ink != nullptr) *ink = {0, 0};
  DecodeEntryAt(coordinates.Get(icon), entry, picture, state.port, Owner::kMain, ink);
  state.picture_shown = true;
  if (entry.size() >= 2) {
    const std::string_view word = MaskKindWord(entry[1]);
    if (!word.empty()) {
      // The name is zero-terminated inside its fixed buffer (or fills it).
      const auto end = std::find(single_entry_name.begin(), single_entry_name.end(), '\0');
      const std::string_view name(single_entry_name.data(),
                                  static_cast<std::size_t>(end - single_entry_name.begin()));
      SetStatusTitle(state, name, word, icon);
    }
  }
  Repaint(state.port, false);
}

std::array<LineSegment, 4> DrawCropLines(const CropBox& box) {
  constexpr int bar = kButtonBarHeight;
  return {{{0, box.top + bar, kPictureWidth, box.top + bar},
           {0, box.bottom + bar, kPictureWidth, box.bottom + bar},
           {box.left, bar, box.left, bar + kPictureHeight},
           {box.right, bar, box.right, bar + kPictureHeight}}};
}

}  // namespace zemlo
