// KZP packing (BM_PackEntry: chunks the compressor wrote whole taken as verified;
// BM_PackEntryWalked: every chunk's tags walked against the source, as a chunk changed after
// packing is), the compressor's match search alone (BM_CompressChunk: the chunks compressed
// without verification), the plain exhaustive compressor it must equal,
// and unpacking, on entries like a run's; liblz4 on the same payloads for comparison.
#include <benchmark/benchmark.h>
#include <lz4.h>

#include <algorithm>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "packer/kzp.h"
#include "packer/pack_entry_seam.h"
#include "support/kzp_reference.h"
#include "support/packer_samples.h"
#include "support/recording_port.h"

namespace {

using zemlo::samples::Bytes;

enum Payload { kSpritePlain, kSpriteXMasked, kBusyPlain, kPaintedPlain, kRun, kRandom };
const char* const kPayloadNames[] = {
    "sprite_plain", "sprite_xmasked", "busy_plain", "painted_plain", "run", "random"};

const Bytes& PayloadBytes(int which) {
  static const std::map<int, Bytes> payloads = [] {
    namespace s = zemlo::samples;
    std::map<int, Bytes> m;
    const auto sprite = s::SpritePicture(320, 240, 1);
    m[kSpritePlain] = s::PlainEntry(sprite);
    m[kSpriteXMasked] = s::XMaskedEntry(sprite);
    m[kBusyPlain] = s::PlainEntry(s::BusyPicture(320, 240, 2));
    m[kPaintedPlain] = s::PlainEntry(s::PaintedPicture(320, 240, 2));
    m[kRun] = s::Run(230404, 0);
    m[kRandom] = s::RandomBytes(230404, 3);
    return m;
  }();
  return payloads.at(which);
}

void Finish(benchmark::State& state, std::size_t source_size, std::size_t packed_size) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(source_size));
  state.counters["ratio"] = static_cast<double>(packed_size) / static_cast<double>(source_size);
  state.counters["bytes"] = static_cast<double>(source_size);
  state.SetLabel(kPayloadNames[state.range(0)]);
}

void BM_PackEntry(benchmark::State& state) {
  const Bytes& source = PayloadBytes(static_cast<int>(state.range(0)));
  zemlo::testing::RecordingPort port;
  Bytes out(zemlo::PackedBound(source.size()));
  std::size_t n = 0;
  for (auto _ : state) {
    n = zemlo::PackEntry(source, out, port, zemlo::Owner::kMain, "ZCreate - bench (X) - 1");
    benchmark::DoNotOptimize(out.data());
    port.Clear();
  }
  Finish(state, source.size(), n);
}

void BM_PackEntryWalked(benchmark::State& state) {
  const Bytes& source = PayloadBytes(static_cast<int>(state.range(0)));
  zemlo::testing::RecordingPort port;
  Bytes out(zemlo::PackedBound(source.size()));
  std::size_t n = 0;
  const zemlo::PackedChunkHook walk_every_chunk = [](std::span<std::uint8_t>, std::size_t) {};
  for (auto _ : state) {
    n = zemlo::PackEntryWithHook(source, out, port, zemlo::Owner::kMain, "ZCreate - bench (X) - 1",
                                 walk_every_chunk);
    benchmark::DoNotOptimize(out.data());
    port.Clear();
  }
  Finish(state, source.size(), n);
}

void BM_CompressChunk(benchmark::State& state) {
  const Bytes& source = PayloadBytes(static_cast<int>(state.range(0)));
  zemlo::testing::RecordingPort port;
  Bytes out(zemlo::PackedBound(source.size()));
  std::size_t n = 0;
  for (auto _ : state) {
    n = 0;
    for (std::size_t start = 0; start < source.size(); start += zemlo::kKzpChunkSize) {
      const std::size_t count = std::min(zemlo::kKzpChunkSize, source.size() - start);
      n += zemlo::CompressChunk(source, start, std::span(out).subspan(n), count, port,
                                zemlo::Owner::kMain);
    }
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, source.size(), n + zemlo::kKzpMagicSize);
}

void BM_ReferenceCompressor(benchmark::State& state) {
  const Bytes& source = PayloadBytes(static_cast<int>(state.range(0)));
  std::size_t n = 0;
  for (auto _ : state) {
    const Bytes packed = zemlo::reference::PackReference(source);
    n = packed.size();
    benchmark::DoNotOptimize(packed.data());
  }
  Finish(state, source.size(), n);
}

void BM_UnpackEntry(benchmark::State& state) {
  const Bytes& source = PayloadBytes(static_cast<int>(state.range(0)));
  const Bytes packed = zemlo::reference::PackReference(source);
  Bytes out(source.size());
  for (auto _ : state) {
    const auto n = zemlo::UnpackEntry(packed, out);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(out.data());
  }
  if (out != source) state.SkipWithError("unpacked bytes differ from the source");
  Finish(state, source.size(), packed.size());
}

void BM_Lz4Compress(benchmark::State& state) {
  const Bytes& source = PayloadBytes(static_cast<int>(state.range(0)));
  std::vector<char> out(LZ4_compressBound(static_cast<int>(source.size())));
  int n = 0;
  for (auto _ : state) {
    n = LZ4_compress_default(reinterpret_cast<const char*>(source.data()), out.data(),
                             static_cast<int>(source.size()), static_cast<int>(out.size()));
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, source.size(), static_cast<std::size_t>(n));
}

void BM_Lz4Decompress(benchmark::State& state) {
  const Bytes& source = PayloadBytes(static_cast<int>(state.range(0)));
  std::vector<char> packed(LZ4_compressBound(static_cast<int>(source.size())));
  const int n =
      LZ4_compress_default(reinterpret_cast<const char*>(source.data()), packed.data(),
                           static_cast<int>(source.size()), static_cast<int>(packed.size()));
  std::vector<char> out(source.size());
  for (auto _ : state) {
    const int m = LZ4_decompress_safe(packed.data(), out.data(), n, static_cast<int>(out.size()));
    benchmark::DoNotOptimize(m);
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, source.size(), static_cast<std::size_t>(n));
}

constexpr int kPayloads = 6;

}  // namespace

BENCHMARK(BM_PackEntry)->DenseRange(0, kPayloads - 1);
BENCHMARK(BM_PackEntryWalked)->DenseRange(0, kPayloads - 1);
BENCHMARK(BM_CompressChunk)->DenseRange(0, kPayloads - 1);
BENCHMARK(BM_ReferenceCompressor)->DenseRange(0, kPayloads - 1);
BENCHMARK(BM_UnpackEntry)->DenseRange(0, kPayloads - 1);
BENCHMARK(BM_Lz4Compress)->DenseRange(0, kPayloads - 1);
BENCHMARK(BM_Lz4Decompress)->DenseRange(0, kPayloads - 1);

BENCHMARK_MAIN();
