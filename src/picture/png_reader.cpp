#include "picture/png_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "core/byte_reader.h"
#include "picture/stb_image_impl.h"

namespace zemlo {
namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {137, 'P', 'N', 'G', 13, 10, 26, 10};
constexpr std::uint32_t kIhdrLength = 13;
// A chunk's length, type and CRC around its data.
constexpr std::size_t kChunkFraming = 12;
// Pixels whose alpha is below this become black.
constexpr std::uint8_t kOpaqueFrom = 128;

constexpr std::uint32_t Type(const char (&letters)[5]) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(letters[0])) << 24 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(letters[1])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(letters[2])) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(letters[3]));
}
constexpr std::uint32_t kIhdr = Type("IHDR");
constexpr std::uint32_t kPlte = Type("PLTE");
constexpr std::uint32_t kIdat = Type("IDAT");
constexpr std::uint32_t kIend = Type("IEND");
// A chunk whose first letter is upper case is critical: a decoder that does not know it must
// not show the picture.
constexpr std::uint32_t kAncillaryBit = std::uint32_t{1} << 29;

Failure<Reason> Refused(std::string_view reason) { return Fail(Reason{reason}); }

// The bit depths PNG allows for each colour type.
bool AllowedDepth(std::uint8_t colour_type, std::uint8_t depth) {
  switch (colour_type) {
    case 0:  // grey
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:  // palette
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:  // RGB
    case 4:  // grey and alpha
    case 6:  // RGBA
      return depth == 8 || depth == 16;
    default:
      return false;
  }
}

// The header and the chunk layout up to IEND, before stb allocates anything: the picture's
// size and kind, and every chunk whole within the file. Empty when the file may be decoded.
std::string_view CheckLayout(std::span<const std::uint8_t> file) {
  ByteReader reader(file);
  if (!reader.LooksAt(kSignature)) return "not a PNG file (no PNG signature)";
  (void)reader.Skip(kSignature.size());

  const auto length = reader.U32BE();
  const auto type = reader.U32BE();
  if (!length || !type) return "the file ends inside its header";
  if (*type != kIhdr || *length != kIhdrLength) {
    return "the file does not start with its header (IHDR)";
  }
  const auto header = reader.Sub(kIhdrLength);
  if (!header || !reader.Skip(4)) return "the file ends inside its header";
  ByteReader fields = *header;
  const auto width = fields.U32BE();
  const auto height = fields.U32BE();
  const auto depth = fields.U8();
  const auto colour_type = fields.U8();
  const auto compression = fields.U8();
  const auto filter = fields.U8();
  const auto interlace = fields.U8();
  if (!width || !height || !depth || !colour_type || !compression || !filter || !interlace) {
    return "the file ends inside its header";
  }
  if (*width == 0 || *height == 0) return "the picture has no pixels (a width or height of 0)";
  if (*width > std::uint32_t{kPictureWidth}) return "the picture is wider than 800 pixels";
  if (*height > std::uint32_t{kPictureHeight}) return "the picture is taller than 600 pixels";
  if (!AllowedDepth(*colour_type, *depth)) {
    return "the header gives a colour type and bit depth PNG does not have";
  }
  if (*compression != 0 || *filter != 0 || *interlace > 1) {
    return "the header gives a compression, filter or interlace method PNG does not have";
  }

  for (;;) {
    const auto chunk_length = reader.U32BE();
    const auto chunk_type = reader.U32BE();
    if (!chunk_length || !chunk_type) return "the file ends before its last chunk (IEND)";
    if (!reader.Skip(*chunk_length) || !reader.Skip(4)) {
      return "the file ends inside a chunk";
    }
    if (*chunk_type == kIend) return {};
    if (*chunk_type == kIhdr) return "the file has two headers (IHDR)";
    if ((*chunk_type & kAncillaryBit) == 0 && *chunk_type != kPlte && *chunk_type != kIdat) {
      return "the file has a critical chunk this reader does not know";
    }
  }
}

// stb's short reasons, as the user is told them.
std::string_view Explained(std::string_view stb_reason) {
  struct Reason {
    std::string_view stb;
    std::string_view told;
  };
  static constexpr Reason kReasons[] = {
      {"outofmem", "the image data unpack to more than an 800 x 600 picture needs"},
      {"not enough pixels", "the image data end before the last row"},
      {"outofdata", "the image data end early"},
      {"read past buffer", "the image data end early"},
      {"no IDAT", "the file has no image data (IDAT)"},
      {"no PLTE", "a palette picture without a palette (PLTE)"},
      {"invalid PLTE", "the palette (PLTE) is damaged"},
      {"tRNS before PLTE", "the transparency (tRNS) comes before the palette"},
      {"tRNS after IDAT", "the transparency (tRNS) comes after the image data"},
      {"bad tRNS len", "the transparency (tRNS) does not fit the picture"},
      {"tRNS with alpha", "a picture with an alpha channel has a transparency chunk (tRNS)"},
      {"invalid filter", "a row of the image data has a filter PNG does not have"},
  };
  for (const Reason& reason : kReasons) {
    if (reason.stb == stb_reason) return reason.told;
  }
  return "the compressed image data are damaged";
}

}  // namespace

Status DecodePng(std::span<const std::uint8_t> file, std::span<std::uint8_t> picture) {
  if (picture.size() < kPictureBytes) return Refused("the picture buffer is too small");
  if (file.size() > kPngFileLimit) return Refused("the file is larger than 4 MiB");
  if (const std::string_view layout = CheckLayout(file); !layout.empty()) return Refused(layout);

  const Result<stb::RgbaImage> decoded = stb::DecodeRgba(file);
  if (!decoded) return Refused(Explained(decoded.error().text));
  const stb::RgbaImage& image = *decoded;
  // The layout check read the size stb decoded; a disagreement would be stb's own fault.
  if (image.width() > kPictureWidth || image.height() > kPictureHeight) {
    return Refused("the picture is larger than 800 x 600 pixels");
  }

  const auto width = static_cast<std::size_t>(image.width());
  const auto height = static_cast<std::size_t>(image.height());
  std::fill(picture.begin(), picture.begin() + kPictureBytes, std::uint8_t{0});
  for (std::size_t y = 0; y < height; ++y) {
    const std::uint8_t* in = image.pixels() + y * width * 4;
    std::uint8_t* out = picture.data() + y * kRowBytes;
    for (std::size_t x = 0; x < width; ++x, in += 4, out += 3) {
      if (in[3] < kOpaqueFrom) continue;
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  }
  return {};
}

}  // namespace zemlo
