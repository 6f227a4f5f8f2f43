#include "picture/pcx_header.h"

#include <algorithm>
#include <optional>

#include "core/byte_reader.h"
#include "core/geometry.h"

namespace zemlo::pcx {
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
// 256-colour files end with this byte and the 768 bytes of their palette.
constexpr std::uint8_t kEndPaletteMark = 12;
constexpr std::size_t kEndPaletteSize = 768;

// Pillow writes its 1-bit files with a header palette of eight black and eight white entries,
// and it and ImageMagick read 1-bit files as black and white whatever the header says; netpbm
// puts the two colours there and reads them back. Taking the first two header colours unless
// they are the same gives each writer its own picture.
constexpr std::uint8_t kBlackWhite[6] = {0, 0, 0, 255, 255, 255};

Failure<Reason> Refused(std::string_view why) { return Fail(Reason{why}); }

// The palette and the kind of an indexed file of `planes` planes of `bits` bits, and where its
// scanlines end; the refusal for the kinds that are not read.
Status CheckIndexed(std::span<const std::uint8_t> file, int planes, int bits, PcxHeader& header) {
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
  return {};
}

}  // namespace

Result<PcxHeader> CheckHeader(std::span<const std::uint8_t> file) {
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
  if (planes == 3) return header;

  ZGL_TRY(CheckIndexed(file, planes, bits, header));
  // Bits past Xmax - Xmin + 1 only pad the scanline to whole (often even) bytes; the columns
  // they would make stay black, as a 24-bit writer's zero filler byte shows.
  const int width = std::max(int{*x_max} - int{*x_min} + 1, 0);
  const std::size_t held = header.bytes_per_line * 8 / std::size_t(bits);
  header.columns = std::min({std::size_t(width), held, std::size_t{kPictureWidth}});
  return header;
}

}  // namespace zemlo::pcx
