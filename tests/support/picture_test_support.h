// Shared pieces of the picture tests: fixture loading, PPM pixels, random pictures, and the
// plain codecs, written step by step as the formats are described, that the optimised ones
// must match.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "support/iff_builder.h"
#include "support/pcx_plain.h"
#include "support/temp_dir.h"

namespace zemlo::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Fixture(const std::string& relative) {
  const auto path = DataDir() / relative;
  EXPECT_TRUE(std::filesystem::exists(path)) << path;
  return ReadFileBytes(path);
}

// A binary PPM ("P6", maxval 255) as width, height and red, green, blue bytes.
struct Ppm {
  int width = 0;
  int height = 0;
  Bytes rgb;
};

inline std::optional<Ppm> ParsePpm(const Bytes& bytes) {
  std::size_t pos = 0;
  auto token = [&]() -> std::string {
    while (pos < bytes.size()) {
      if (bytes[pos] == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
      } else if (std::isspace(bytes[pos])) {
        ++pos;
      } else {
        break;
      }
    }
    std::string t;
    while (pos < bytes.size() && !std::isspace(bytes[pos])) t += char(bytes[pos++]);
    return t;
  };
  if (token() != "P6") return std::nullopt;
  Ppm ppm;
  ppm.width = std::stoi(token());
  ppm.height = std::stoi(token());
  if (token() != "255") return std::nullopt;
  ++pos;  // the one white-space byte before the pixels
  const std::size_t size = std::size_t(ppm.width) * ppm.height * 3;
  if (bytes.size() < pos + size) return std::nullopt;
  ppm.rgb.assign(bytes.begin() + pos, bytes.begin() + pos + size);
  return ppm;
}

// The working picture: 800 x 600, blue, green, red.
inline Bytes BlankPicture(std::uint8_t fill = 0) { return Bytes(kPictureBytes, fill); }

// A picture that no reader writes by accident: every byte depends on its position.
inline Bytes PatternPicture() {
  Bytes p(kPictureBytes);
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = std::uint8_t(i * 7 + i / 2400 * 13 + 1);
  return p;
}

// Random pictures of the kinds the tool meets: black with sprites (long runs), noise (no
// runs, half the bytes at 192 or above), mixtures with runs of every length, and busy
// photo-like pictures (kind 3): smooth shading with a grain in every byte, so that hardly a
// byte repeats its neighbour, bright areas above 192 next to dark ones, and a few flat
// patches whose runs have the lengths around 63 and end anywhere, the row's end included.
inline Bytes RandomPicture(std::mt19937& rng, int kind) {
  Bytes p(kPictureBytes, 0);
  std::uniform_int_distribution<int> byte(0, 255);
  if (kind == 3) {
    const double fx = 0.002 + (rng() % 100) * 0.0001, fy = 0.003 + (rng() % 100) * 0.0001;
    const int grain = 1 + int(rng() % 12);
    for (int y = 0; y < kPictureHeight; ++y) {
      for (int x = 0; x < kPictureWidth; ++x) {
        for (int c = 0; c < 3; ++c) {
          const double shade =
              150 + 100 * std::sin(x * fx * (c + 1) + y * fy) * std::cos(y * fy * 0.5 + c);
          const int v = int(shade) + int(rng() % (2 * grain + 1)) - grain;
          p[std::size_t(y) * kRowBytes + 3 * x + c] = std::uint8_t(std::clamp(v, 0, 255));
        }
      }
    }
    const int lengths[] = {2, 3, 8, 15, 16, 17, 31, 62, 63, 64, 65, 126, 127, 128, 189, 800};
    for (int patch = 0; patch < 40; ++patch) {
      const int length = lengths[rng() % std::size(lengths)];
      const int y = int(rng() % kPictureHeight);
      const int x0 =
          rng() % 4 == 0 ? kPictureWidth - length : int(rng() % (kPictureWidth - length + 1));
      const std::uint8_t b = std::uint8_t(byte(rng)), g = std::uint8_t(byte(rng)),
                         r = std::uint8_t(byte(rng));
      for (int x = x0; x < x0 + length; ++x) {
        std::uint8_t* px = &p[std::size_t(y) * kRowBytes + 3 * x];
        px[0] = b;
        px[1] = g;
        px[2] = r;
      }
    }
    return p;
  }
  if (kind == 1) {
    for (auto& b : p) b = std::uint8_t(byte(rng));
  } else if (kind == 2) {
    std::size_t i = 0;
    while (i < p.size()) {
      const std::size_t run = std::uniform_int_distribution<std::size_t>(1, 200)(rng);
      const std::uint8_t value = std::uint8_t(byte(rng));
      for (std::size_t k = 0; k < run && i < p.size(); ++k) p[i++] = value;
    }
  } else {
    for (int s = 0; s < 12; ++s) {
      const int w = std::uniform_int_distribution<int>(1, 120)(rng);
      const int h = std::uniform_int_distribution<int>(1, 120)(rng);
      const int x0 = std::uniform_int_distribution<int>(0, kPictureWidth - w)(rng);
      const int y0 = std::uniform_int_distribution<int>(0, kPictureHeight - h)(rng);
      const std::uint8_t b = std::uint8_t(byte(rng)), g = std::uint8_t(byte(rng)),
                         r = std::uint8_t(byte(rng));
      for (int y = y0; y < y0 + h; ++y) {
        for (int x = x0; x < x0 + w; ++x) {
          std::uint8_t* px = &p[std::size_t(y) * kRowBytes + 3 * x];
          px[0] = b;
          px[1] = g;
          px[2] = r;
          if (byte(rng) < 8) px[byte(rng) % 3] = std::uint8_t(byte(rng));
        }
      }
    }
  }
  return p;
}

// ---- PCX file building for reader tests.
inline Bytes PcxHeader(int bytes_per_line, int y_min, int y_max, int planes = 3) {
  Bytes h(128, 0);
  h[0] = 10;
  h[1] = 5;
  h[2] = 1;
  h[3] = 8;
  h[6] = std::uint8_t(y_min);
  h[7] = std::uint8_t(y_min >> 8);
  h[10] = std::uint8_t(y_max);
  h[11] = std::uint8_t(y_max >> 8);
  h[65] = std::uint8_t(planes);
  h[66] = std::uint8_t(bytes_per_line);
  h[67] = std::uint8_t(bytes_per_line >> 8);
  return h;
}

// A PCX file of `rows` rows of `bpl` pixels whose colour bytes come from `colour(x, y, c)`
// (c: 0 red, 1 green, 2 blue), each plane row encoded on its own.
template <typename Colour>
Bytes MakePcx(int bpl, int rows, Colour colour, int y_min = 0) {
  Bytes file = PcxHeader(bpl, y_min, y_min + rows - 1);
  Bytes plane(bpl);
  for (int y = 0; y < rows; ++y) {
    for (int c = 0; c < 3; ++c) {
      for (int x = 0; x < bpl; ++x) plane[x] = colour(x, y, c);
      const Bytes enc = PlainEncodePlane(plane);
      file.insert(file.end(), enc.begin(), enc.end());
    }
  }
  return file;
}

// ---- Plain bit-plane conversion: shift the plane bytes of a column left one bit at a time
// and gather the carried-out bits into one index byte.
inline void PlainConvertColumn(std::uint8_t plane_bytes[8], int planes, std::uint8_t out[8]) {
  for (int bit = 0; bit < 8; ++bit) {
    std::uint8_t index = 0;
    for (int k = 0; k < planes; ++k) {
      index |= std::uint8_t(((plane_bytes[k] >> 7) & 1) << k);
      plane_bytes[k] = std::uint8_t(plane_bytes[k] << 1);
    }
    out[bit] = index;
  }
}

// A full 768-byte palette with distinct colours.
inline Bytes TestPalette() {
  Bytes pal(768);
  for (int i = 0; i < 256; ++i) {
    pal[3 * i] = std::uint8_t(i);
    pal[3 * i + 1] = std::uint8_t(255 - i);
    pal[3 * i + 2] = std::uint8_t(i * 37 + 11);
  }
  return pal;
}

}  // namespace zemlo::testing
