// Entries like the ones the packer gets in a run, built here so the packer's tests and benchmark
// do not depend on the icon encoder: 24-bit sprites on black (plain and X-masked rows), busy
// and painted pictures, runs, short repeats and random bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace zemlo::samples {

using Bytes = std::vector<std::uint8_t>;

inline Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

inline Bytes Run(std::size_t n, std::uint8_t value) { return Bytes(n, value); }

// A pattern of `period` random bytes repeated, with a random byte changed now and then.
inline Bytes ShortRepeats(std::size_t n, std::size_t period, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes pattern(period);
  for (auto& b : pattern) b = static_cast<std::uint8_t>(rng());
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = pattern[i % period];
    if (rng() % 97 == 0) out[i] = static_cast<std::uint8_t>(rng());
  }
  return out;
}

// Blue, green, red per pixel, top row first.
struct Picture {
  int width = 0;
  int height = 0;
  Bytes pixels;
  std::uint8_t* At(int x, int y) { return &pixels[(std::size_t(y) * width + x) * 3]; }
  const std::uint8_t* At(int x, int y) const { return &pixels[(std::size_t(y) * width + x) * 3]; }
};

// A sprite as artists draw them: a few shaded blobs in a small palette on a black background,
// with a dark outline, so rows hold runs of equal pixels and black gaps between the blobs.
inline Picture SpritePicture(int width, int height, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Picture pic{width, height, Bytes(std::size_t(width) * height * 3, 0)};
  struct Blob {
    double cx, cy, rx, ry;
    std::uint8_t b, g, r;
  };
  std::vector<Blob> blobs;
  for (int i = 0; i < 5; ++i) {
    blobs.push_back({width * (0.15 + 0.7 * (rng() % 1000) / 1000.0),
                     height * (0.15 + 0.7 * (rng() % 1000) / 1000.0),
                     width * (0.05 + 0.12 * (rng() % 1000) / 1000.0),
                     height * (0.05 + 0.12 * (rng() % 1000) / 1000.0),
                     static_cast<std::uint8_t>(40 + rng() % 200),
                     static_cast<std::uint8_t>(40 + rng() % 200),
                     static_cast<std::uint8_t>(40 + rng() % 200)});
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (const Blob& blob : blobs) {
        const double dx = (x - blob.cx) / blob.rx;
        const double dy = (y - blob.cy) / blob.ry;
        const double dist = dx * dx + dy * dy;
        if (dist > 1.0) continue;
        std::uint8_t* px = pic.At(x, y);
        if (dist > 0.85) {  // outline
          px[0] = 16, px[1] = 16, px[2] = 24;
        } else {
          // Four shading bands, lighter towards the top left.
          const int band = static_cast<int>((dx + dy + 2.0) * 1.0) & 3;
          const int shade = 100 - band * 20;
          px[0] = static_cast<std::uint8_t>(blob.b * shade / 100);
          px[1] = static_cast<std::uint8_t>(blob.g * shade / 100);
          px[2] = static_cast<std::uint8_t>(blob.r * shade / 100);
        }
      }
    }
  }
  return pic;
}

// A busy picture, photo-like: colour fields that change from pixel to pixel with sensor
// noise on every fourth pixel, hardly ever black; four equal bytes within 32 are rare.
inline Picture BusyPicture(int width, int height, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Picture pic{width, height, Bytes(std::size_t(width) * height * 3)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = pic.At(x, y);
      const int wave = (x * x / 53 + y * y / 71 + x * y / 97) % 200;
      int b = 30 + (wave & ~7);
      int g = 40 + ((x * 3 + wave) % 180 & ~7);
      int r = 50 + ((y * 5 + wave / 2) % 170 & ~7);
      if (rng() % 4 == 0) {
        b += static_cast<int>(rng() % 9) - 4;
        g += static_cast<int>(rng() % 9) - 4;
        r += static_cast<int>(rng() % 9) - 4;
      }
      px[0] = static_cast<std::uint8_t>(b);
      px[1] = static_cast<std::uint8_t>(g);
      px[2] = static_cast<std::uint8_t>(r);
    }
  }
  return pic;
}

// A painted background: the same kind of colour fields in blocks of 4 x 3 pixels, as paint
// programs leave them, with noise on every sixth pixel. Short repeats everywhere: about a
// third packs away, in a tag every eight bytes.
inline Picture PaintedPicture(int width, int height, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Picture pic{width, height, Bytes(std::size_t(width) * height * 3)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = pic.At(x, y);
      const int u = x / 4;
      const int v = y / 3;
      const int wave = (u * u / 7 + v * v / 9 + u * v / 11) % 200;
      int b = 30 + (wave & ~7);
      int g = 40 + ((u * 3 + wave) % 180 & ~7);
      int r = 50 + ((v * 5 + wave / 2) % 170 & ~7);
      if (rng() % 6 == 0) {
        b += static_cast<int>(rng() % 9) - 4;
        g += static_cast<int>(rng() % 9) - 4;
        r += static_cast<int>(rng() % 9) - 4;
      }
      px[0] = static_cast<std::uint8_t>(b);
      px[1] = static_cast<std::uint8_t>(g);
      px[2] = static_cast<std::uint8_t>(r);
    }
  }
  return pic;
}

inline bool IsBlack(const std::uint8_t* px) { return px[0] == 0 && px[1] == 0 && px[2] == 0; }

// Header 24, kind 0, 0, 0 and the rows as they are.
inline Bytes PlainEntry(const Picture& pic) {
  Bytes out(4 + pic.pixels.size());
  out[0] = 24;
  std::copy(pic.pixels.begin(), pic.pixels.end(), out.begin() + 4);
  return out;
}

inline void PutCount(Bytes& out, std::size_t v) {
  while (v > 254) {
    out.push_back(255);
    v -= 255;
  }
  out.push_back(static_cast<std::uint8_t>(v));
}

// Header 24, 128, 0, 0; per row segments (copy count, skip count, pixels) and a 0.
inline Bytes XMaskedEntry(const Picture& pic) {
  Bytes out = {24, 128, 0, 0};
  for (int y = 0; y < pic.height; ++y) {
    int x = 0;
    while (x < pic.width) {
      int skip = 0;
      while (x < pic.width && IsBlack(pic.At(x, y))) ++skip, ++x;
      const int first = x;
      while (x < pic.width && !IsBlack(pic.At(x, y))) ++x;
      const int copy = x - first;
      if (copy == 0) continue;
      PutCount(out, copy);
      PutCount(out, skip);
      out.insert(out.end(), pic.At(first, y), pic.At(first, y) + copy * 3);
    }
    out.push_back(0);
  }
  return out;
}

}  // namespace zemlo::samples
