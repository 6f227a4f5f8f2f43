#include "app/console/png_writer.h"

#include <png.h>

#include <cstring>

#include "core/geometry.h"
#include "files/file_layer.h"

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

std::vector<std::uint8_t> EncodeRgbaPng(std::span<const std::uint8_t> rgba, int width,
                                        int height, std::string& error) {
  if (width <= 0 || height <= 0 ||
      rgba.size() != std::size_t(width) * std::size_t(height) * kRgbaBytes) {
    error = "no pixels to write";
    return {};
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  // Into memory, so that the file is written through the file layer: the first call
  // measures, the second writes.
  png_alloc_size_t size = 0;
  std::vector<std::uint8_t> bytes;
  bool encoded = png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(),
                                           width * kRgbaBytes, nullptr) != 0;
  if (encoded) {
    bytes.resize(size);
    encoded = png_image_write_to_memory(&image, bytes.data(), &size, 0, rgba.data(),
                                        width * kRgbaBytes, nullptr) != 0;
    bytes.resize(encoded ? size : 0);
  }
  if (!encoded) {
    error = image.message;
    bytes.clear();
  }
  png_image_free(&image);
  return bytes;
}

bool WriteRgbaPng(const std::filesystem::path& path, std::span<const std::uint8_t> rgba,
                  int width, int height, std::string& error, bool replace) {
  const std::vector<std::uint8_t> bytes = EncodeRgbaPng(rgba, width, height, error);
  if (bytes.empty()) return false;
  const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
  const std::string name = path.filename().string();
  switch (files::WriteOutputFile(folder.c_str(), name.c_str(), bytes.data(), bytes.size(),
                                 replace ? files::OutputMode::kReplace
                                         : files::OutputMode::kCreateNew)) {
    case files::OutputResult::kWritten:
      return true;
    case files::OutputResult::kExists:
      error = kOutputExistsText;
      return false;
    case files::OutputResult::kLinkInTheWay:
      error = kOutputLinkText;
      return false;
    case files::OutputResult::kFailed:
      break;
  }
  error = kOutputNotMadeText;
  return false;
}

}  // namespace zemlo::console
