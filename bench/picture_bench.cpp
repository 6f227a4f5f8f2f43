// Speed of the picture codecs on a whole 800 x 600 working picture, in picture bytes
// (1,440,000 per picture) per second: a sprite-like icon picture (black with a few sprites),
// a busy photo-like one (smooth shading with fine grain, hardly a run) and, as the worst case
// for the run-length coders, pure noise.
//
// `picture_bench --save-pictures DIR` writes the sprite and busy pictures as PCX files and as
// raw RGB (sprites.pcx, busy.pcx, sprites.rgb, busy.rgb) so that other programs can be timed
// on the same pictures (bench/peer_codecs.sh).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "picture/ilbm_reader.h"
#include "picture/pcx_reader.h"
#include "picture/pcx_writer.h"
#include "support/iff_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace zemlo;
using testing::ByteRun1;
using testing::PutChunk;

enum Kind { kSprites = 0, kBusy = 1, kNoise = 2 };
const char* const kKindNames[] = {"sprites", "busy", "noise"};

// One colour index per pixel; the pictures are these indices through a fixed palette.
Bytes MakePhoto();

Bytes MakeIndices(Kind kind) {
  Bytes idx(kPixelCount, 0);
  std::mt19937 rng(42);
  if (kind != kSprites) {
    // The photo reduced to 6 x 6 x 6 colour levels, as a quantiser would.
    const Bytes photo = MakePhoto();
    for (std::size_t p = 0; p < idx.size(); ++p) {
      idx[p] =
          std::uint8_t(photo[3 * p] / 43 * 36 + photo[3 * p + 1] / 43 * 6 + photo[3 * p + 2] / 43);
    }
    return idx;
  }
  for (int s = 0; s < 8; ++s) {
    const int x0 = 40 + s * 90, y0 = 60 + (s % 3) * 150, w = 70, h = 110;
    for (int y = y0; y < y0 + h; ++y) {
      for (int x = x0; x < x0 + w; ++x) {
        const bool edge = (x - x0) % 17 == 0 || (y - y0) % 13 == 0;
        idx[std::size_t(y) * kPictureWidth + x] =
            std::uint8_t(edge ? 1 + rng() % 255 : 20 + s * 25);
      }
    }
  }
  return idx;
}

Bytes Palette() {
  Bytes pal(768);
  for (int i = 0; i < 256; ++i) {
    pal[3 * i] = std::uint8_t(i);
    pal[3 * i + 1] = std::uint8_t(i * 3);
    pal[3 * i + 2] = std::uint8_t(255 - i);
  }
  pal[0] = pal[1] = pal[2] = 0;
  return pal;
}

// Smooth shading over the picture in each channel plus a grain of +-8: like a photo, bright
// and dark areas are large and neighbouring pixels almost never repeat.
Bytes MakePhoto() {
  Bytes pic(kPictureBytes);
  std::mt19937 rng(7);
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      for (int c = 0; c < 3; ++c) {
        const double shade = 127.5 + 120 * std::sin(x * (0.004 + 0.003 * c) + y * 0.006 * (c + 1)) *
                                         std::cos(y * 0.003 + c);
        const int v = int(shade) + int(rng() % 17) - 8;
        pic[std::size_t(y) * kRowBytes + 3 * x + c] = std::uint8_t(std::clamp(v, 0, 255));
      }
    }
  }
  return pic;
}

Bytes MakePicture(Kind kind) {
  if (kind == kBusy) return MakePhoto();
  Bytes pic(kPictureBytes);
  if (kind == kNoise) {
    std::mt19937 rng(9);
    for (auto& b : pic) b = std::uint8_t(rng());
    return pic;
  }
  ExpandPalette(MakeIndices(kind), pic, Palette());
  return pic;
}

// A compressed 800 x 600 IFF file of the indices, bit-plane or chunky.
Bytes MakeIff(Kind kind, bool planes) {
  const Bytes idx = MakeIndices(kind);
  Bytes bmhd{3, 0x20, 2, 0x58, 0, 0, 0, 0, 8, 0, 1, 0, 0, 0, 1, 1, 3, 0x20, 2, 0x58};
  Bytes body;
  for (int y = 0; y < kPictureHeight; ++y) {
    const std::uint8_t* row = &idx[std::size_t(y) * kPictureWidth];
    if (!planes) {
      const Bytes enc = ByteRun1({row, std::size_t{kPictureWidth}});
      body.insert(body.end(), enc.begin(), enc.end());
      continue;
    }
    for (int k = 0; k < 8; ++k) {
      Bytes plane(kPictureWidth / 8, 0);
      for (int x = 0; x < kPictureWidth; ++x) {
        if (row[x] >> k & 1) plane[x / 8] |= std::uint8_t(0x80 >> (x % 8));
      }
      const Bytes enc = ByteRun1(plane);
      body.insert(body.end(), enc.begin(), enc.end());
    }
  }
  Bytes form{'P', 'B', 'M', ' '};
  if (planes) std::memcpy(form.data(), "ILBM", 4);
  PutChunk(form, "BMHD", bmhd);
  PutChunk(form, "CMAP", Palette());
  PutChunk(form, "BODY", body);
  Bytes file{'F', 'O', 'R', 'M', 0, 0, 0, 0};
  file.insert(file.end(), form.begin(), form.end());
  return file;
}

void BM_DecodePcx(benchmark::State& state) {
  const Bytes pic = MakePicture(Kind(state.range(0)));
  Bytes file(kPcxMaxSize);
  file.resize(EncodePcx(pic, file));
  Bytes out(kPictureBytes);
  for (auto _ : state) {
    benchmark::DoNotOptimize(DecodePcx(file, out));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kPictureBytes));
  state.counters["file_bytes"] = double(file.size());
  state.SetLabel(kKindNames[state.range(0)]);
}

void BM_EncodePcx(benchmark::State& state) {
  const Bytes pic = MakePicture(Kind(state.range(0)));
  Bytes out(kPcxMaxSize);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EncodePcx(pic, out));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kPictureBytes));
  state.SetLabel(kKindNames[state.range(0)]);
}

void BM_DecodeIlbmAndExpand(benchmark::State& state) {
  const Bytes file = MakeIff(Kind(state.range(0)), state.range(1) != 0);
  Bytes index(kIndexBufferSize), palette(768), pic(kPictureBytes);
  for (auto _ : state) {
    benchmark::DoNotOptimize(DecodeIlbm(file, index, palette));
    ExpandPalette(index, pic, palette);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kPictureBytes));
  state.counters["file_bytes"] = double(file.size());
  state.SetLabel(kKindNames[state.range(0)]);
}

// Arguments: picture kind (0 sprites, 1 busy photo, 2 noise); for IFF also the layout
// (1 bit-planes, 0 chunky).
BENCHMARK(BM_DecodePcx)
    ->ArgName("kind")
    ->Arg(kSprites)
    ->Arg(kBusy)
    ->Arg(kNoise)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodePcx)
    ->ArgName("kind")
    ->Arg(kSprites)
    ->Arg(kBusy)
    ->Arg(kNoise)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeIlbmAndExpand)
    ->ArgNames({"kind", "planes"})
    ->Args({kSprites, 1})
    ->Args({kBusy, 1})
    ->Args({kSprites, 0})
    ->Args({kBusy, 0})
    ->Unit(benchmark::kMicrosecond);

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The working picture is blue, green, red; raw pictures are red, green, blue.
Bytes RgbOf(const Bytes& picture) {
  Bytes rgb(picture.size());
  for (std::size_t i = 0; i < picture.size(); i += 3) {
    rgb[i] = picture[i + 2];
    rgb[i + 1] = picture[i + 1];
    rgb[i + 2] = picture[i];
  }
  return rgb;
}

int SavePictures(const std::string& dir) {
  for (auto [kind, name] : {std::pair{kSprites, "sprites"}, std::pair{kBusy, "busy"}}) {
    const Bytes pic = MakePicture(kind);
    Bytes file(kPcxMaxSize);
    file.resize(EncodePcx(pic, file));
    WriteFile(dir + "/" + name + ".pcx", file);
    WriteFile(dir + "/" + name + ".rgb", RgbOf(pic));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--save-pictures") return SavePictures(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
