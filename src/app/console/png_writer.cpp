#include "app/console/png_writer.h"

#include <png.h>

#include <cstdio>
#include <cstring>

#include "core/geometry.h"

namespace zemlo::console {
namespace {

constexpr int kRgbaBytes = 4;
constexpr std::uint8_t kOpaque = 0xFF;

}  // namespace

std::vector<std::uint8_t> IconRgba(std::span<const std::uint8_t> picture,
                                   const CoordinatesRecord& box, bool black_transparent) {
  if (box.width == 0 || box.height == 0 || box.left + box.width > kPictureWidth ||
      box.top + box.height > kPictureHeight || picture.size() < kPictureBytes) {
    return {};
  }
  std::vector<std::uint8_t> rgba(std::size_t{box.width} * box.height * kRgbaBytes);
  std::uint8_t* out = rgba.data();
  for (int y = box.top; y < box.top + box.height; ++y) {
    const std::uint8_t* in =
        picture.data() + (std::size_t(y) * kPictureWidth + box.left) * kBytesPerPixel;
    for (int x = 0; x < box.width; ++x, in += kBytesPerPixel, out += kRgbaBytes) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      const bool black = in[0] == 0 && in[1] == 0 && in[2] == 0;
      out[3] = black && black_transparent ? 0 : kOpaque;
    }
  }
  return rgba;
}

bool WriteRgbaPng(const std::filesystem::path& path, std::span<const std::uint8_t> rgba,
                  int width, int height, std::string& error) {
  if (width <= 0 || height <= 0 ||
      rgba.size() != std::size_t(width) * std::size_t(height) * kRgbaBytes) {
    error = "no pixels to write";
    return false;
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  if (file == nullptr) {
    error = "cannot be created";
    return false;
  }
  const bool written = png_image_write_to_stdio(&image, file, 0, rgba.data(),
                                                width * kRgbaBytes, nullptr) != 0;
  if (!written) error = image.message;
  const bool closed = std::fclose(file) == 0;
  if (written && !closed) error = "could not be written to the end";
  png_image_free(&image);
  return written && closed;
}

}  // namespace zemlo::console
