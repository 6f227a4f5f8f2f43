// A blank 800 x 600 character picture that tests draw into pixel by pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/geometry.h"

namespace zemlo::testing {

class DrawnPicture {
 public:
  DrawnPicture() : bytes_(kPictureBytes, 0) {}

  void Set(int x, int y, std::uint8_t blue, std::uint8_t green = 0, std::uint8_t red = 0) {
    const std::size_t at = Offset(x, y);
    bytes_[at] = blue;
    bytes_[at + 1] = green;
    bytes_[at + 2] = red;
  }
  std::uint8_t Blue(int x, int y) const { return bytes_[Offset(x, y)]; }
  std::uint8_t Red(int x, int y) const { return bytes_[Offset(x, y) + 2]; }
  bool RowIsBlack(int y) const {
    for (std::size_t i = 0; i < kRowBytes; ++i) {
      if (bytes_[static_cast<std::size_t>(y) * kRowBytes + i] != 0) return false;
    }
    return true;
  }

  std::span<std::uint8_t> span() { return bytes_; }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  static std::size_t Offset(int x, int y) {
    return static_cast<std::size_t>(y) * kRowBytes + static_cast<std::size_t>(x) * 3;
  }
  std::vector<std::uint8_t> bytes_;
};

}  // namespace zemlo::testing
