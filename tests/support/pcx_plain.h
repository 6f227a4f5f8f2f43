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
//
// 24-bit files (three planes, unless of 1 bit) show bytes-per-line columns. Indexed files
// (one plane of 1, 4 or 8 bits, four planes of 1 bit) show Xmax - Xmin + 1 columns, at most
// what a scanline holds, each pixel's index gathered bit by bit (plane 0 the lowest bits)
// and looked up in the palette: the 769 bytes at the end of an 8-bit file (a 12, then the
// colours), the header's sixteen colours for 4 bits, its first two for 1 bit (black and white
// when those two are the same colour).
inline int PlainDecodePcx(std::span<const std::uint8_t> file, std::span<std::uint8_t> picture) {
  if (file.size() < 128 || file[0] != 10) return 0;
  const int planes = std::int8_t(file[65]);
  const int bits = file[3];
  const bool true_colour = planes == 3 && bits != 1;
  const bool indexed =
      (planes == 1 && (bits == 1 || bits == 4 || bits == 8)) || (planes == 4 && bits == 1);
  if (!true_colour && !indexed) return 0;
  std::size_t data_end = file.size();
  Bytes palette;  // red, green, blue
  if (indexed && bits == 8) {
    if (file.size() < 128 + 769 || file[file.size() - 769] != 12) return 0;
    data_end = file.size() - 769;
    palette.assign(file.end() - 768, file.end());
  } else if (indexed) {
    palette.assign(file.begin() + 16, file.begin() + 64);
    if (planes == 1 && bits == 1 && palette[0] == palette[3] && palette[1] == palette[4] &&
        palette[2] == palette[5]) {
      palette = {0, 0, 0, 255, 255, 255};
    }
  }
  const int bpl = file[66] | file[67] << 8;
  const int row_count = (file[10] | file[11] << 8) - (file[6] | file[7] << 8) + 1;
  const int rows = std::min(std::max(row_count, 0), kPictureHeight);
  int width = bpl;
  if (indexed) {
    width = std::max((file[8] | file[9] << 8) - (file[4] | file[5] << 8) + 1, 0);
    width = std::min(width, bpl * 8 / bits);
  }
  const int line_bytes = (true_colour ? 3 : planes) * bpl;
  Bytes out(picture.begin(), picture.end());
  std::vector<std::uint8_t> line(std::size_t(line_bytes) + 500);
  std::size_t pos = 128;
  for (int r = 0; r < rows; ++r) {
    int produced = 0;
    do {
      if (pos >= data_end) return 0;
      const std::uint8_t b = file[pos++];
      int count = 1;
      std::uint8_t value = b;
      if (b >= 192) {
        if (pos >= data_end) return 0;
        count = b & 63;
        value = file[pos++];
      }
      for (int k = 0; k < count; ++k) line[produced++] = value;
    } while (produced < line_bytes);
    for (int x = 0; x < kPictureWidth; ++x) {
      std::uint8_t* px = &out[std::size_t(r) * kRowBytes + 3 * x];
      if (x >= width) {
        px[0] = px[1] = px[2] = 0;
      } else if (true_colour) {
        px[0] = line[2 * bpl + x];
        px[1] = line[bpl + x];
        px[2] = line[x];
      } else {
        int index = 0;
        for (int k = 0; k < planes; ++k) {
          int value = 0;
          for (int i = 0; i < bits; ++i) {
            const int at = x * bits + i;  // bit of the plane row, from the left
            value = value << 1 | (line[k * bpl + at / 8] >> (7 - at % 8) & 1);
          }
          index |= value << (k * bits);
        }
        px[0] = palette[3 * index + 2];
        px[1] = palette[3 * index + 1];
        px[2] = palette[3 * index];
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
