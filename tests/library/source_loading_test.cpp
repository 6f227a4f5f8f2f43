#include "library/run/source_loading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "picture/ilbm_reader.h"
#include "picture/pcx_reader.h"
#include "picture/pcx_writer.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"

namespace zemlo::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SourceLoading : public ::testing::Test {
 protected:
  SourceLoading() {
    // A picture no load writes by accident.
    auto pic = state.Picture();
    for (std::size_t i = 0; i < pic.size(); ++i) pic[i] = std::uint8_t(i * 11 + 3);
    before.assign(pic.begin(), pic.end());
  }
  std::string Put(const std::string& name, const Bytes& bytes) {
    WriteFileBytes(dir.path() / name, bytes);
    return dir / name;
  }
  Bytes Picture() { return Bytes(state.Picture().begin(), state.Picture().end()); }

  TempDir dir;
  RecordingPort port;
  WorkingState state{port};
  Bytes before;
};

TEST_F(SourceLoading, PcxSourceIsDecodedIntoTheWorkingPicture) {
  const Bytes file = ReadFileBytes(DataDir() / "pcx/good/netpbm_173x101.pcx");
  const std::string name = Put("a.pcx", file);
  ASSERT_EQ(LoadPcxSource(name.c_str(), state), SourceLoad::kLoaded);
  EXPECT_TRUE(state.picture_shown);
  Bytes expected = before;
  ASSERT_TRUE(DecodePcx(file, expected));
  EXPECT_EQ(Picture(), expected);
  EXPECT_TRUE(port.messages.empty());
}

TEST_F(SourceLoading, PcxSourceThatCannotBeOpenedOrIsRefusedChangesNothing) {
  EXPECT_EQ(LoadPcxSource((dir / "missing.pcx").c_str(), state), SourceLoad::kNotOpened);
  for (const char* bad : {"eight_bit_without_palette.pcx", "truncated_body.pcx", "empty.pcx"}) {
    const std::string name = Put(bad, ReadFileBytes(DataDir() / "pcx/malformed" / bad));
    std::string_view refusal;
    EXPECT_EQ(LoadPcxSource(name.c_str(), state, &refusal), SourceLoad::kRejected) << bad;
    EXPECT_FALSE(refusal.empty()) << bad;
  }
  EXPECT_FALSE(state.picture_shown);
  EXPECT_EQ(Picture(), before);
}

TEST_F(SourceLoading, TheWorstPcxOurWriterMakesLoadsBackWhole) {
  // Every byte at 192 or above and no runs: two bytes per picture byte, more than the file
  // buffer holds. Such a picture saved by "Save as PCX" or "Show ZGL" must load back exactly.
  Bytes worst(kPictureBytes);
  for (std::size_t i = 0; i < worst.size(); ++i)
    worst[i] = std::uint8_t(192 + (i / 3 + i % 3 * 20) % 63);
  Bytes out(kPcxMaxSize);
  out.resize(EncodePcx(worst, out));
  ASSERT_EQ(out.size(), kPcxMaxSize);
  ASSERT_GT(out.size(), 4 * std::size_t{kPictureAllowance});
  const std::string big = Put("big.pcx", out);
  EXPECT_EQ(LoadPcxSource(big.c_str(), state), SourceLoad::kLoaded);
  EXPECT_EQ(Picture(), worst);
  // A file cut before its last row is refused instead of decoded from stale buffer bytes.
  out.resize(out.size() - 100);
  const std::string cut = Put("cut.pcx", out);
  std::fill(state.picture.data(), state.picture.data() + kPictureBytes, 0);
  const Bytes blank = Picture();
  EXPECT_EQ(LoadPcxSource(cut.c_str(), state), SourceLoad::kRejected);
  EXPECT_EQ(Picture(), blank);
  // Bytes past the limit that the rows do not need are never looked at.
  Bytes padded = ReadFileBytes(DataDir() / "pcx/good/netpbm_173x101.pcx");
  padded.resize(3'000'000, 0xC5);
  const std::string name = Put("padded.pcx", padded);
  EXPECT_EQ(LoadPcxSource(name.c_str(), state), SourceLoad::kLoaded);
  EXPECT_EQ(state.pcx.data()[kPcxMaxSize], 0);  // the zero after the loaded bytes
}

TEST_F(SourceLoading, IlbmSourceGoesThroughIndicesAndPalette) {
  const Bytes file = ReadFileBytes(DataDir() / "iff/good/netpbm_ilbm_173x101_rle.iff");
  const std::string name = Put("a.iff", file);
  ASSERT_EQ(LoadIlbmSource(name.c_str(), state), SourceLoad::kLoaded);
  EXPECT_TRUE(state.picture_shown);
  Bytes index(kIndexBufferSize), palette(768), expected = before;
  ASSERT_TRUE(DecodeIlbm(file, index, palette));
  ExpandPalette(index, expected, palette);
  EXPECT_EQ(Picture(), expected);
  // Only the picture's 1,440,000 bytes are written, not the rest of the picture buffer.
  EXPECT_EQ(state.picture.data()[kPictureBytes], 0);
}

TEST_F(SourceLoading, IlbmSourceWithoutColoursKeepsThePreviousPalette) {
  ASSERT_EQ(LoadIlbmSource(
                Put("a.iff", ReadFileBytes(DataDir() / "iff/good/gen_pbm_160x100_rle.iff")).c_str(),
                state),
            SourceLoad::kLoaded);
  const Bytes palette(state.palette.data(), state.palette.data() + 768);
  // A refused file leaves the palette; a file without CMAP uses it.
  EXPECT_EQ(LoadIlbmSource(
                Put("b.iff", ReadFileBytes(DataDir() / "iff/malformed/deep_24_planes.iff")).c_str(),
                state),
            SourceLoad::kRejected);
  EXPECT_EQ(Bytes(state.palette.data(), state.palette.data() + 768), palette);
  const Bytes no_cmap{'F', 'O', 'R', 'M', 0, 0, 0,   40,  'P', 'B', 'M', ' ', 'B', 'M', 'H', 'D', 0,
                      0,   0,   20,  0,   2, 0, 1,   0,   0,   0,   0,   8,   0,   0,   0,   0,   0,
                      1,   1,   0,   2,   0, 1, 'B', 'O', 'D', 'Y', 0,   0,   0,   2,   1,   2};
  ASSERT_EQ(LoadIlbmSource(Put("c.iff", no_cmap).c_str(), state), SourceLoad::kLoaded);
  const auto pic = state.Picture();
  EXPECT_EQ(pic[3], palette[3 * 2 + 2]);  // pixel 1 has index 2: blue of entry 2
  EXPECT_EQ(pic[5], palette[3 * 2]);
}

TEST_F(SourceLoading, IlbmSourceThatCannotBeOpenedOrIsRefusedChangesNothing) {
  // Each says why: the file layer for a file that is not there, the reader for the others.
  std::string_view refusal;
  EXPECT_EQ(LoadIlbmSource((dir / "missing.iff").c_str(), state, &refusal), SourceLoad::kNotOpened);
  EXPECT_EQ(refusal, "no such file");
  EXPECT_EQ(LoadIlbmSource((dir / "nofolder/missing.iff").c_str(), state, &refusal),
            SourceLoad::kNotOpened);
  EXPECT_EQ(refusal, "no such folder");
  for (const char* bad : {"no_body.iff", "truncated_body.iff", "empty.iff"}) {
    const std::string name = Put(bad, ReadFileBytes(DataDir() / "iff/malformed" / bad));
    refusal = {};
    EXPECT_EQ(LoadIlbmSource(name.c_str(), state, &refusal), SourceLoad::kRejected) << bad;
    EXPECT_FALSE(refusal.empty()) << bad;
  }
  EXPECT_FALSE(state.picture_shown);
  EXPECT_EQ(Picture(), before);
}

TEST_F(SourceLoading, WavSourceIsLoadedWholeUpTo400000Bytes) {
  EXPECT_FALSE(LoadWavSource((dir / "missing.wav").c_str(), state));
  EXPECT_EQ(Picture(), before);
  Bytes wav(1000);
  for (std::size_t i = 0; i < wav.size(); ++i) wav[i] = std::uint8_t(i * 5 + 1);
  auto n = LoadWavSource(Put("a.wav", wav).c_str(), state);
  ASSERT_TRUE(n);
  EXPECT_EQ(*n, 1000u);
  EXPECT_TRUE(std::equal(wav.begin(), wav.end(), state.picture.data()));
  EXPECT_EQ(state.picture.data()[1000], 0);
  Bytes big(500000, 0x42);
  n = LoadWavSource(Put("b.wav", big).c_str(), state);
  ASSERT_TRUE(n);
  EXPECT_EQ(*n, kWavLoadLimit);
  EXPECT_EQ(state.picture.data()[kWavLoadLimit - 1], 0x42);
  EXPECT_EQ(state.picture.data()[kWavLoadLimit], 0);
  EXPECT_FALSE(state.picture_shown);
}

}  // namespace
}  // namespace zemlo::testing
