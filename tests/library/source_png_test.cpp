// PNG sources loaded into the working picture: whole, refused with a reason, or too large.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/run/source_loading.h"
#include "picture/pcx_reader.h"
#include "support/png_builder.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"

namespace zemlo::testing {
namespace {

using PngBytes = std::vector<std::uint8_t>;

class PngSourceLoading : public ::testing::Test {
 protected:
  PngSourceLoading() {
    auto pic = state.Picture();
    for (std::size_t i = 0; i < pic.size(); ++i) pic[i] = std::uint8_t(i * 17 + 9);
    before.assign(pic.begin(), pic.end());
  }
  std::string Put(const std::string& name, const PngBytes& bytes) {
    WriteFileBytes(dir.path() / name, bytes);
    return dir / name;
  }
  PngBytes Picture() { return PngBytes(state.Picture().begin(), state.Picture().end()); }

  TempDir dir;
  RecordingPort port;
  WorkingState state{port};
  PngBytes before;
};

TEST_F(PngSourceLoading, APngReplacesTheWholePictureAsItsTwinShowsIt) {
  const std::string name =
      Put("a.png", ReadFileBytes(DataDir() / "png/good/pillow_palette8_trns_45x21.png"));
  std::string_view refusal = "unset";
  ASSERT_EQ(LoadPngSource(name.c_str(), state, &refusal), SourceLoad::kLoaded);
  EXPECT_EQ(refusal, "unset");
  EXPECT_TRUE(state.picture_shown);
  PngBytes twin(kPictureBytes, 0);
  const auto pcx = ReadFileBytes(DataDir() / "png/good/pillow_palette8_trns_45x21.pcx");
  ASSERT_TRUE(DecodePcx(pcx, twin));
  EXPECT_TRUE(Picture() == twin);
}

TEST_F(PngSourceLoading, AMissingOrRefusedPngChangesNothingAndSaysWhy) {
  std::string_view refusal;
  EXPECT_EQ(LoadPngSource((dir / "missing.png").c_str(), state, &refusal), SourceLoad::kNotOpened);
  EXPECT_EQ(refusal, "no such file");
  const std::string wide =
      Put("wide.png", ReadFileBytes(DataDir() / "png/malformed/too-wide-801.png"));
  EXPECT_EQ(LoadPngSource(wide.c_str(), state, &refusal), SourceLoad::kRejected);
  EXPECT_EQ(refusal, "the picture is wider than 800 pixels");
  EXPECT_FALSE(state.picture_shown);
  EXPECT_TRUE(Picture() == before);
}

TEST_F(PngSourceLoading, FilesUpToTheLimitLoadAndALargerOneIsRefusedAsSuch) {
  // A 2 x 1 grey picture carrying a private ancillary chunk that fills the file.
  const auto sized = [](std::size_t total) {
    const PngBytes bare = BuildPng(2, 1, 8, 0, {{0x40, 0xC0}});
    return BuildPng(2, 1, 8, 0, {{0x40, 0xC0}}, {{"zgLp", PngBytes(total - bare.size() - 12, 1)}});
  };
  std::string_view refusal;
  const std::string at_limit = Put("limit.png", sized(kPngFileLimit));
  ASSERT_EQ(LoadPngSource(at_limit.c_str(), state, &refusal), SourceLoad::kLoaded);
  EXPECT_EQ(Picture()[3], 0xC0);
  const PngBytes loaded = Picture();
  // Much larger than the limit too: the file is not read beyond it.
  for (const std::size_t size : {kPngFileLimit + 1, 3 * kPngFileLimit}) {
    const std::string over = Put("over.png", sized(size));
    EXPECT_EQ(LoadPngSource(over.c_str(), state, &refusal), SourceLoad::kRejected) << size;
    EXPECT_EQ(refusal, "the file is larger than 4 MiB");
    EXPECT_EQ(ReadPngFile(over.c_str()).bytes.size(), kPngFileLimit + 1);
  }
  EXPECT_TRUE(Picture() == loaded);
}

}  // namespace
}  // namespace zemlo::testing
