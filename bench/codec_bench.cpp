// Encoding and decoding icon entries. Every picture of a creation run passes through
// EncodeIcon and is drawn back with DecodeEntry, so both must keep up with the disk.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "library/codec/entry_decoder.h"
#include "library/codec/icon_encoder.h"
#include "support/recording_port.h"

namespace zemlo {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int W = kPictureWidth;
constexpr int H = kPictureHeight;

void Put(Bytes& pic, int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  std::uint8_t* p = &pic[(static_cast<std::size_t>(y) * W + x) * 3];
  p[0] = b;
  p[1] = g;
  p[2] = r;
}

// Painted art: smooth gradients with a little grain and no black, so that every smoothing
// tile is averaged and many are flattened.
Bytes BusyPicture() {
  Bytes pic(kPictureBytes);
  std::mt19937 rng(1);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      Put(pic, x, y, static_cast<std::uint8_t>(20 + (x / 4) % 200 + rng() % 4),
          static_cast<std::uint8_t>(30 + (y / 3) % 200 + rng() % 4),
          static_cast<std::uint8_t>(40 + ((x + y) / 8) % 200 + rng() % 12));
  return pic;
}

// A sprite of about 700 x 500 pixels on black. Unmasked: rows left-aligned from a blue
// pixel; X-masked: a ring (up to four transitions a row); 0-masked: the ring with a
// dither of holes.
Bytes SpritePicture(std::uint8_t kind) {
  Bytes pic(kPictureBytes, 0);
  std::mt19937 rng(2);
  const double cx = 400, cy = 300, rx = 350, ry = 250;
  for (int y = 50; y < 550; ++y) {
    const double dy = (y - cy) / ry;
    const double half = rx * std::sqrt(std::max(0.0, 1 - dy * dy));
    const int x0 = static_cast<int>(cx - half), x1 = static_cast<int>(cx + half);
    const double inner = 0.5 * half;
    for (int x = 50; x < 750; ++x) {
      bool on;
      if (kind == kUnmasked) {
        on = x <= 50 + (x1 - x0);
      } else {
        on = x >= x0 && x <= x1 && std::abs(x - cx) >= inner;
        if (kind == kZeroMasked && (x + y) % 16 == 0) on = false;
      }
      if (on) {
        Put(pic, x, y, static_cast<std::uint8_t>(1 + rng() % 255), static_cast<std::uint8_t>(rng()),
            static_cast<std::uint8_t>(rng()));
      }
    }
  }
  return pic;
}

struct Codec {
  testing::RecordingPort port;
  Bytes table = Bytes(kCoordinatesTableSize, 0);
  CoordinatesTable coordinates{table};
  Bytes out = Bytes(kMaxPictureEntry);
  CropBox box;
};

void BM_SmoothColours(benchmark::State& state) {
  const Bytes original = BusyPicture();
  Bytes pic = original;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(pic.data(), original.data(), pic.size());
    state.ResumeTiming();
    SmoothColours(pic);
    benchmark::DoNotOptimize(pic.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPictureBytes);
}
BENCHMARK(BM_SmoothColours)->Unit(benchmark::kMillisecond);

// Busy picture, numbers 4000 (smoothed first) and 3000 (not).
void BM_EncodeBusy(benchmark::State& state) {
  const int icon = static_cast<int>(state.range(0));
  const Bytes original = BusyPicture();
  Bytes pic = original;
  Codec c;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(pic.data(), original.data(), pic.size());
    state.ResumeTiming();
    benchmark::DoNotOptimize(EncodeIcon(icon, pic, c.out, c.coordinates, c.box));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPictureBytes);
}
BENCHMARK(BM_EncodeBusy)->Arg(4000)->Arg(3000)->Unit(benchmark::kMillisecond);

// Sprites of each kind, not smoothed; the argument is the kind.
void BM_EncodeSprite(benchmark::State& state) {
  const auto kind = static_cast<std::uint8_t>(state.range(0));
  Bytes pic = SpritePicture(kind);
  Codec c;
  std::size_t n = 0;
  for (auto _ : state) {
    n = EncodeIcon(3000, pic, c.out, c.coordinates, c.box);
    benchmark::DoNotOptimize(n);
  }
  if (c.out[1] != kind) state.SkipWithError("sprite has the wrong mask kind");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPictureBytes);
  state.counters["entry_bytes"] = static_cast<double>(n);
}
BENCHMARK(BM_EncodeSprite)
    ->Arg(kUnmasked)
    ->Arg(kXMasked)
    ->Arg(kZeroMasked)
    ->Unit(benchmark::kMicrosecond);

void BM_DecodeEntry(benchmark::State& state) {
  const auto kind = static_cast<std::uint8_t>(state.range(0));
  Bytes pic = SpritePicture(kind);
  Codec c;
  const std::size_t n = EncodeIcon(3000, pic, c.out, c.coordinates, c.box);
  if (c.out[1] != kind) state.SkipWithError("sprite has the wrong mask kind");
  const std::span<const std::uint8_t> entry(c.out.data(), n);
  Bytes target(kPictureBytes, 0);
  for (auto _ : state) {
    DecodeEntry(3000, entry, target, c.coordinates, c.port, Owner::kNone);
    benchmark::DoNotOptimize(target.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_DecodeEntry)
    ->Arg(kUnmasked)
    ->Arg(kXMasked)
    ->Arg(kZeroMasked)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zemlo

BENCHMARK_MAIN();
