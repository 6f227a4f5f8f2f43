// The parts of stb_image the PNG reader uses, compiled once in stb_image_impl.cpp with only
// its PNG decoder and allocations capped at kPngAllocationLimit.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/result.h"

namespace zemlo::stb {

// The pixels of a PNG as 8-bit red, green, blue, alpha, row after row; freed on destruction.
class RgbaImage {
 public:
  RgbaImage() = default;
  RgbaImage(std::uint8_t* pixels, int width, int height)
      : pixels_(pixels), width_(width), height_(height) {}
  RgbaImage(RgbaImage&& other) noexcept
      : pixels_(other.pixels_), width_(other.width_), height_(other.height_) {
    other.pixels_ = nullptr;
  }
  RgbaImage& operator=(RgbaImage&&) = delete;
  ~RgbaImage();

  bool empty() const { return pixels_ == nullptr; }
  int width() const { return width_; }
  int height() const { return height_; }
  const std::uint8_t* pixels() const { return pixels_; }

 private:
  std::uint8_t* pixels_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

// Decodes `file` with stb_image; when it fails, stb's short reason (a static text, such as
// "bad huffman code").
[[nodiscard]] Result<RgbaImage> DecodeRgba(std::span<const std::uint8_t> file);

}  // namespace zemlo::stb
