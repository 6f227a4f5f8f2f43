// Indexed PCX sources end to end: a library made of the indexed files of real writers is the
// library made of the 24-bit files of the same pixels.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/folder_snapshot.h"
#include "support/library_files.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;

// Every file the run wrote (all but the sources), by its path in the project folder.
std::map<std::string, std::vector<std::uint8_t>> RunOutput(const TestLibrary& lib) {
  return SnapshotFolder(lib.dir.path(),
                        [](const std::string& name) { return !name.starts_with("pcx/"); });
}

struct Made {
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::vector<std::string> titles;
  std::vector<std::string> messages;
};

// Icons 3001 on (as they are) and 4001 on (smoothed) from the fixtures NAME + `suffix`,
// after a full picture at 3000 and 4000. The small pictures replace only their own rows, so
// each icon keeps the rows below from the one before: both libraries must agree on those too.
Made MakeLibrary(const std::vector<std::string>& names, const std::string& suffix) {
  TestLibrary lib;
  for (const int first : {3000, 4000}) {
    lib.AddPcx(first, UnmaskedShape(first, 0, 0, kPictureWidth, kPictureHeight));
    for (std::size_t i = 0; i < names.size(); ++i) {
      const auto bytes = ReadFileBytes(DataDir() / "pcx/good" / (names[i] + suffix));
      WriteFileBytes(lib.PcxPath(first + 1 + int(i)), bytes);
    }
  }
  lib.Run(3000, 4099);
  return {RunOutput(lib), lib.port.titles, lib.port.MessageTexts()};
}

TEST(RunIndexedSources, LibraryOfIndexedPcxEqualsTheLibraryOfTheirTwentyFourBitTwins) {
  const std::vector<std::string> names = {"netpbm_palette8",
                                          "netpbm_palette8_at_5_10",
                                          "netpbm_planar4",
                                          "netpbm_packed4",
                                          "netpbm_mono_two_colours",
                                          "imagemagick_palette8",
                                          "pillow_palette8",
                                          "pillow_grey8",
                                          "pillow_mono"};
  const Made indexed = MakeLibrary(names, ".pcx");
  const Made twins = MakeLibrary(names, ".truecolor.pcx");
  EXPECT_TRUE(indexed.messages.empty()) << indexed.messages.front();
  EXPECT_TRUE(twins.messages.empty()) << twins.messages.front();
  EXPECT_EQ(indexed.titles, twins.titles);
  ASSERT_TRUE(indexed.files.count("coords.dat"));
  ASSERT_TRUE(indexed.files.count("blk/b30.blk"));
  ASSERT_TRUE(indexed.files.count("blk/b40.blk"));
  EXPECT_EQ(indexed.files.size(), twins.files.size());
  for (const auto& [name, bytes] : indexed.files) {
    SCOPED_TRACE(name);
    const auto twin = twins.files.find(name);
    ASSERT_NE(twin, twins.files.end());
    EXPECT_TRUE(SameLibraryFile(name, bytes, twin->second));
  }
}

}  // namespace
}  // namespace zemlo::testing
