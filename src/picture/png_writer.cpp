#include "picture/png_writer.h"

#include <cstring>
#include <new>
#include <utility>

#include "core/geometry.h"
#include "files/file_names.h"

// stb_image_write is compiled here and nowhere else. Static: its settings (compression level,
// forced filter, the vertical flip) are globals it only reads while encoding; kept inside
// this file, where nothing ever sets them, encoders on several threads share nothing they
// change. No stdio: every file goes through the file layer.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#endif
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace zemlo {
namespace {

// stb's lowest level (below 5 it still searches as at 5): a whole 800 x 600 picture then
// takes about a third less time, for files a few percent larger. Set once while the program
// starts, before any thread can encode.
[[maybe_unused]] const bool kFastestLevel = [] {
  stbi_write_png_compression_level = 5;
  return true;
}();

constexpr int kRgbBytes = 3;
constexpr int kRgbaBytes = 4;
constexpr std::uint8_t kOpaque = 0xFF;

// Where stb hands the file's bytes, in pieces. Once a piece could not be kept, the later
// ones are not either: an incomplete file is no file.
struct Sink {
  std::vector<std::uint8_t> bytes;
  bool failed = false;
};

void Append(void* context, void* data, int size) {
  auto& sink = *static_cast<Sink*>(context);
  if (sink.failed || size < 0) {
    sink.failed = true;
    return;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  try {
    sink.bytes.insert(sink.bytes.end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    sink.failed = true;
  }
}

// `pixels` rows of `channels` bytes each as a PNG file; empty on failure.
std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> pixels, int width, int height,
                                 int channels) {
  if (width <= 0 || height <= 0 ||
      pixels.size() != std::size_t(width) * std::size_t(height) * std::size_t(channels)) {
    return {};
  }
  Sink sink;
  if (stbi_write_png_to_func(Append, &sink, width, height, channels, pixels.data(),
                             width * channels) == 0 ||
      sink.failed) {
    return {};
  }
  return std::move(sink.bytes);
}

// One picture pixel (blue, green, red) as red, green, blue and, with `alpha`, its opacity.
std::uint8_t* PutPixel(const std::uint8_t* in, std::uint8_t* out, bool alpha,
                       bool black_transparent) {
  out[0] = in[2];
  out[1] = in[1];
  out[2] = in[0];
  if (!alpha) return out + kRgbBytes;
  const bool black = in[0] == 0 && in[1] == 0 && in[2] == 0;
  out[3] = black && black_transparent ? 0 : kOpaque;
  return out + kRgbaBytes;
}

}  // namespace

std::vector<std::uint8_t> IconRgba(std::span<const std::uint8_t> picture, const PictureBox& box,
                                   bool black_transparent) {
  if (box.left < 0 || box.top < 0 || box.width <= 0 || box.height <= 0 ||
      box.width > kPictureWidth - box.left || box.height > kPictureHeight - box.top ||
      picture.size() < kPictureBytes) {
    return {};
  }
  std::vector<std::uint8_t> rgba(std::size_t(box.width) * std::size_t(box.height) * kRgbaBytes);
  std::uint8_t* out = rgba.data();
  for (int y = box.top; y < box.top + box.height; ++y) {
    const std::uint8_t* in =
        picture.data() + (std::size_t(y) * kPictureWidth + std::size_t(box.left)) * kBytesPerPixel;
    for (int x = 0; x < box.width; ++x, in += kBytesPerPixel) {
      out = PutPixel(in, out, true, black_transparent);
    }
  }
  return rgba;
}

std::vector<std::uint8_t> EncodeRgbaPng(std::span<const std::uint8_t> rgba, int width, int height,
                                        std::string& error) {
  if (width <= 0 || height <= 0 ||
      rgba.size() != std::size_t(width) * std::size_t(height) * kRgbaBytes) {
    error = "no pixels to write";
    return {};
  }
  std::vector<std::uint8_t> png = Encode(rgba, width, height, kRgbaBytes);
  if (png.empty()) error = "could not be encoded";
  return png;
}

std::vector<std::uint8_t> EncodePicturePng(std::span<const std::uint8_t> picture,
                                           bool black_transparent) {
  if (picture.size() < kPictureBytes) return {};
  // A picture without see-through pixels needs no alpha: three bytes a pixel, as in the PCX.
  const int channels = black_transparent ? kRgbaBytes : kRgbBytes;
  std::vector<std::uint8_t> pixels;
  try {
    pixels.resize(std::size_t{kPixelCount} * std::size_t(channels));
  } catch (const std::bad_alloc&) {
    return {};
  }
  std::uint8_t* out = pixels.data();
  const std::uint8_t* in = picture.data();
  for (int i = 0; i < kPixelCount; ++i, in += kBytesPerPixel) {
    out = PutPixel(in, out, black_transparent, black_transparent);
  }
  return Encode(pixels, kPictureWidth, kPictureHeight, channels);
}

files::OutputResult WriteRgbaPng(const std::filesystem::path& path,
                                 std::span<const std::uint8_t> rgba, int width, int height,
                                 bool replace) {
  std::string error;
  const std::vector<std::uint8_t> bytes = EncodeRgbaPng(rgba, width, height, error);
  if (bytes.empty()) return files::OutputResult::kFailed;
  const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
  const std::string name = path.filename().string();
  return files::WriteOutputFile(
      folder.c_str(), name.c_str(), bytes.data(), bytes.size(),
      replace ? files::OutputMode::kReplace : files::OutputMode::kCreateNew);
}

bool HasPngExtension(std::string_view name) { return files::EndsWithIgnoringCase(name, ".png"); }

}  // namespace zemlo
