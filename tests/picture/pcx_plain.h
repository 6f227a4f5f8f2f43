// The PCX codecs written step by step as the format is described: the reference that the
// fast reader and writer must match, in the tests and in the PCX fuzz target (so without
// GoogleTest here).
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "core/geometry.h"

namespace zemlo::testing {

using Bytes = std::vector<std::uint8_t>;

// ---- Plain PCX reader: one scanline into a line buffer, run by run, then the pixels. Rows
// are clipped to the picture; the data must hold every row that lands in it.
inline int PlainDecodePcx(std::span<const std::uint8_t> file, std::span<std::uint8_t> picture) {
  if (file.size() < 128 || file[0] != 10 || std::int8_t(file[65]) != 3) return 0;
  const int bpl = file[66] | file[67] << 8;
  const int row_count = (file[10] | file[11] << 8) - (file[6] | file[7] << 8) + 1;
  const int rows = std::min(std::max(row_count, 0), kPictureHeight);
  Bytes out(picture.begin(), picture.end());
  std::vector<std::uint8_t> line(3 * std::size_t(bpl) + 500);
  std::size_t pos = 128;
  for (int r = 0; r < rows; ++r) {
    int produced = 0;
    do {
      if (pos >= file.size()) return 0;
      const std::uint8_t b = file[pos++];
      int count = 1;
      std::uint8_t value = b;
      if (b >= 192) {
        if (pos >= file.size()) return 0;
        count = b & 63;
        value = file[pos++];
      }
      for (int k = 0; k < count; ++k) line[produced++] = value;
    } while (produced < 3 * bpl);
    for (int x = 0; x < kPictureWidth; ++x) {
      std::uint8_t* px = &out[std::size_t(r) * kRowBytes + 3 * x];
      if (x < bpl) {
        px[0] = line[2 * bpl + x];
        px[1] = line[bpl + x];
        px[2] = line[x];
      } else {
        px[0] = px[1] = px[2] = 0;
      }
    }
  }
  std::copy(out.begin(), out.end(), picture.begin());
  return 1;
}

// ---- Plain PCX plane encoder: a run counter that restarts at 63 with the value kept.
inline Bytes PlainEncodePlane(std::span<const std::uint8_t> plane) {
  Bytes out;
  auto emit = [&out](std::uint8_t value, int length) {
    if (length == 0) return;
    if (length == 1 && value < 192) {
      out.push_back(value);
    } else {
      out.push_back(std::uint8_t(192 + length));
      out.push_back(value);
    }
  };
  if (plane.empty()) return out;
  std::uint8_t value = plane[0];
  int length = 1;
  for (std::size_t i = 1; i < plane.size(); ++i) {
    if (plane[i] == value) {
      if (++length == 63) {
        emit(value, length);
        length = 0;
      }
    } else {
      emit(value, length);
      value = plane[i];
      length = 1;
    }
  }
  emit(value, length);
  return out;
}

}  // namespace zemlo::testing
