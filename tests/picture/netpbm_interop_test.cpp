// Our PCX files against netpbm's, where netpbm is installed: its reader must see exactly our
// picture, and its writer's files must read back exactly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "picture/pcx_reader.h"
#include "picture/pcx_writer.h"
#include "support/picture_test_support.h"

namespace zemlo::testing {
namespace {

bool HaveNetpbm() {
#ifdef _WIN32
  return false;
#else
  return std::system(
             "command -v pcxtoppm >/dev/null 2>&1 && command -v ppmtopcx >/dev/null 2>&1") == 0;
#endif
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

Bytes ToPpm(const Bytes& picture, int width, int height) {
  const std::string head =
      "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  Bytes out(head.begin(), head.end());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* px = &picture[std::size_t(y) * kRowBytes + 3 * x];
      out.insert(out.end(), {px[2], px[1], px[0]});
    }
  }
  return out;
}

class NetpbmInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveNetpbm()) GTEST_SKIP() << "netpbm (pcxtoppm, ppmtopcx) not installed here";
  }
  TempDir dir;
};

TEST_F(NetpbmInterop, PcxtoppmReadsOurFilesAsOurPicture) {
  std::mt19937 rng(17);
  Bytes out(kPcxMaxSize);
  for (int kind = 0; kind < 4; ++kind) {
    const Bytes pic = RandomPicture(rng, kind);
    out.resize(kPcxMaxSize);
    out.resize(EncodePcx(pic, out));
    WriteFileBytes(dir.path() / "ours.pcx", out);
    ASSERT_EQ(Shell("pcxtoppm '" + dir / "ours.pcx" + "' > '" + dir / "ours.ppm" + "' 2>/dev/null"),
              0);
    EXPECT_EQ(ReadFileBytes(dir.path() / "ours.ppm"), ToPpm(pic, 800, 600)) << kind;
  }
}

TEST_F(NetpbmInterop, PpmtopcxFilesReadBackExactly) {
  std::mt19937 rng(18);
  for (int kind = 0; kind < 4; ++kind) {
    const Bytes pic = RandomPicture(rng, kind);
    WriteFileBytes(dir.path() / "in.ppm", ToPpm(pic, 800, 600));
    ASSERT_EQ(Shell("ppmtopcx -24bit '" + dir / "in.ppm" + "' > '" + dir / "theirs.pcx" +
                    "' 2>/dev/null"),
              0);
    Bytes back = PatternPicture();
    ASSERT_TRUE(DecodePcx(ReadFileBytes(dir.path() / "theirs.pcx"), back));
    EXPECT_EQ(back, pic) << kind;
  }
  // An odd width: netpbm stores bytes per line equal to it, so the picture sits at the top
  // left with black to its right and the rows below untouched.
  const Bytes pic = RandomPicture(rng, 2);
  WriteFileBytes(dir.path() / "odd.ppm", ToPpm(pic, 333, 201));
  ASSERT_EQ(
      Shell("ppmtopcx -24bit '" + dir / "odd.ppm" + "' > '" + dir / "odd.pcx" + "' 2>/dev/null"),
      0);
  const Bytes pattern = PatternPicture();
  Bytes back = pattern;
  ASSERT_TRUE(DecodePcx(ReadFileBytes(dir.path() / "odd.pcx"), back));
  for (int y = 0; y < 600; ++y) {
    for (int x = 0; x < 800; ++x) {
      for (int c = 0; c < 3; ++c) {
        const std::size_t at = std::size_t(y) * kRowBytes + 3 * x + c;
        const std::uint8_t want = y >= 201 ? pattern[at] : x < 333 ? pic[at] : 0;
        ASSERT_EQ(back[at], want) << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace zemlo::testing
