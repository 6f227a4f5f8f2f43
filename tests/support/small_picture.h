// A working picture, black but for three pixels of row 5, for tests of what is cut from a
// picture and written: (5, 5) blue 1, green 2, red 3; (6, 5) black; (7, 5) blue 0, green 9,
// red 8, so that a colour with one zero channel is seen not to be taken for black.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/geometry.h"

namespace zemlo::testing {

inline std::vector<std::uint8_t> SmallPicture() {
  std::vector<std::uint8_t> picture(kPictureBytes, 0);
  const auto put = [&](int x, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    std::uint8_t* p = &picture[(5 * std::size_t{kPictureWidth} + std::size_t(x)) * 3];
    p[0] = b, p[1] = g, p[2] = r;
  };
  put(5, 1, 2, 3);
  put(7, 0, 9, 8);
  return picture;
}

}  // namespace zemlo::testing
