// Any bytes packed and unpacked again must come back unchanged; every chunk's tags must pass
// the verifier and stand for the whole chunk, the whole stream the walk under the packer's
// rules, and the packer must never have to show a mismatch. Inputs up to a little past one chunk
// are also packed by the plain exhaustive compressor, whose bytes the fast search must give exactly
// (longer ones would make the plain search too slow for fuzzing).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "core/status_port.h"
#include "packer/kzp.h"
#include "packer/kzp_tag.h"
#include "support/kzp_reference.h"

namespace {

class CountingPort : public zemlo::StatusPort {
 public:
  void SetTitle(std::string_view) override {}
  int ShowMessage(zemlo::Owner, std::string_view, std::string_view text,
                  zemlo::MessageIcon) override {
    std::fprintf(stderr, "packer message: %.*s\n", static_cast<int>(text.size()), text.data());
    ++messages;
    return 1;
  }
  void Repaint(bool) override {}
  void RunStarted() override {}
  void RunEnded() override {}
  void SetProgress(int) override {}
  int messages = 0;
};

void Fail(const char* what) {
  std::fprintf(stderr, "pack round trip: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> source(data, size);
  CountingPort port;

  // Each chunk compressed and verified on its own, matches reaching back into the one before.
  std::vector<std::uint8_t> tags(zemlo::PackedBound(zemlo::kKzpChunkSize));
  for (std::size_t start = 0; start < size; start += zemlo::kKzpChunkSize) {
    const std::size_t count = std::min(zemlo::kKzpChunkSize, size - start);
    std::size_t covered = 0;
    const std::size_t written =
        zemlo::CompressChunk(source, start, tags, count, port, zemlo::Owner::kNone, &covered);
    if (!zemlo::VerifyChunk(source, start, count, std::span(tags).first(written), port,
                            zemlo::Owner::kNone)) {
      Fail("chunk does not verify");
    }
    // With room for every tag, the tags stand for the whole chunk: the packer then takes the
    // chunk as verified without walking it, which the walk above just confirmed.
    if (covered != count) Fail("tags written whole do not cover the chunk");
  }

  const std::size_t bound = zemlo::PackedBound(size);
  std::unique_ptr<std::uint8_t[]> packed(new std::uint8_t[bound]);
  const std::size_t length = zemlo::PackEntry(source, std::span<std::uint8_t>(packed.get(), bound),
                                              port, zemlo::Owner::kNone, "fuzz");
  if (length > bound) Fail("packed past its bound");
  const std::span<const std::uint8_t> stream(packed.get(), length);
  if (!zemlo::WalkPackedStream(stream, size, zemlo::KzpRules::kAsPacked).fault.empty()) {
    Fail("the packer writes a form its rules forbid");
  }
  if (port.messages != 0) Fail("the packer reported a problem");
  if (size <= zemlo::kKzpChunkSize + 1024) {
    const std::vector<std::uint8_t> plain = zemlo::reference::PackReference(source);
    if (plain.size() != length || std::memcmp(plain.data(), packed.get(), length) != 0) {
      Fail("packed bytes differ from the plain compressor's");
    }
  }

  std::unique_ptr<std::uint8_t[]> back(new std::uint8_t[size ? size : 1]);
  const auto produced = zemlo::UnpackEntry(std::span<const std::uint8_t>(packed.get(), length),
                                           std::span<std::uint8_t>(back.get(), size));
  if (!produced) Fail("packed stream is malformed");
  if (*produced != size) Fail("unpacked length differs");
  if (size > 0 && std::memcmp(back.get(), data, size) != 0) Fail("unpacked bytes differ");
  return 0;
}
