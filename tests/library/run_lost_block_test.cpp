// What a run does when the library it finds is not what the offsets file says (block files
// lost or cut short behind it), and what "converted" promises for the next run: a source
// whose archive attribute is cleared has its entry and its crop box on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/run_project.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;

const std::string kLostText =
    " is lost: its block file no longer held its entry, and no source converted it again.";

std::string BlockShort(const std::string& block) {
  return "Block file " + block +
         " does not hold every entry that the offsets file records (it is missing or shorter)."
         " Those icons are converted again from their sources.";
}

TEST(LostBlock, ItsIconsAreConvertedAgainWhateverTheArchiveTestAndTheRestAreNamed) {
  TestLibrary lib({.dblk = 2, .darc = 1});
  for (int icon : {3000, 3010, 3050, 3120}) lib.AddPcx(icon, UnmaskedShape(icon, 10 + icon % 100));
  lib.Run();
  const auto entry_3000 = lib.BlockEntry(3000);
  const auto entry_3010 = lib.BlockEntry(3010);
  const auto entry_3120 = lib.BlockEntry(3120);
  ASSERT_FALSE(entry_3000.empty());

  fs::remove(lib.BlockPath(30));
  fs::remove(lib.PcxPath(3050));  // nothing left to make 3050 from
  lib.port.Clear();
  lib.Run();
  EXPECT_EQ(lib.port.MessageTexts(),
            (std::vector<std::string>{BlockShort("blk\\b30.blk"), "Icon 3050" + kLostText}));
  // Converted again although their sources count as unchanged.
  EXPECT_EQ(lib.BlockEntry(3000), entry_3000);
  EXPECT_EQ(lib.BlockEntry(3010), entry_3010);
  EXPECT_TRUE(lib.BlockEntry(3050).empty());
  EXPECT_EQ(lib.BlockEntry(3120), entry_3120);
  auto on_disk = OffsetsOnDisk(lib);
  EXPECT_TRUE(BlockIsContiguous(OffsetsTable(on_disk), 30, 100));

  // Put right: the next run finds nothing to say.
  lib.port.Clear();
  lib.Run();
  EXPECT_EQ(lib.port.MessageTexts(), std::vector<std::string>{});
}

TEST(LostBlock, IconsOfACutBlockOutsideTheRunAreNamedAsLost) {
  TestLibrary lib({.dblk = 2, .blkb = 7});
  for (int icon : {2997, 3001, 3002}) lib.AddPcx(icon, UnmaskedShape(icon));
  lib.Run(2996, 3002);  // block 428: icons 2996 to 3002
  const auto entry_3001 = lib.BlockEntry(3001);
  const auto entry_3002 = lib.BlockEntry(3002);
  WriteFileBytes(lib.BlockPath(428), {});
  lib.port.Clear();
  lib.Run(3000, 3002);
  EXPECT_EQ(lib.port.MessageTexts(),
            (std::vector<std::string>{BlockShort("blk\\ba8.blk"), "Icon 2997" + kLostText}));
  EXPECT_TRUE(lib.BlockEntry(2997).empty());
  EXPECT_EQ(lib.BlockEntry(3001), entry_3001);
  EXPECT_EQ(lib.BlockEntry(3002), entry_3002);
}

// Looks at the disk whenever the run posts its progress, which follows every icon's end.
class ProbePort : public RecordingPort {
 public:
  std::function<void()> probe;
  void SetProgress(int position) override {
    RecordingPort::SetProgress(position);
    if (probe) probe();
  }
};

TEST(ConvertedSources, ACleanAttributeAlwaysMeansEntryAndCropBoxOnDisk) {
  TestLibrary lib({.dblk = 2, .darc = 1});
  if (!ArchiveAttributeCanBeCleared(lib))
    GTEST_SKIP() << "archive attributes cannot be cleared here";
  std::vector<int> icons;
  for (int icon = 3000; icon < 3300; icon += 37) {
    lib.AddPcx(icon, UnmaskedShape(icon, 5 + icon % 300, 7 + icon % 200));
    icons.push_back(icon);
  }
  ProbePort port;
  WorkingState state(port);
  StoreContext store{lib.settings, state, {}};
  int checked = 0;
  port.probe = [&] {
    const auto on_disk = ReadFileBytes(lib.dir.path() / "coords.dat");
    const CoordinatesTable memory(state.coordinates.span());
    for (int icon : icons) {
      if (files::ArchiveAttributeSet(lib.PcxPath(icon).string().c_str())) continue;
      ++checked;
      const std::size_t at = static_cast<std::size_t>(icon) * 8;
      ASSERT_GE(on_disk.size(), at + 8) << "icon " << icon;
      const CoordinatesRecord stored{LoadU16LE(&on_disk[at]), LoadU16LE(&on_disk[at + 2]),
                                     LoadU16LE(&on_disk[at + 4]), LoadU16LE(&on_disk[at + 6])};
      EXPECT_EQ(stored, memory.Get(icon)) << "icon " << icon;
      EXPECT_FALSE(lib.BlockEntry(icon).empty()) << "icon " << icon;
    }
  };
  ClearCoordinates(state);
  lib.settings.DSTA = 3000;
  lib.settings.DEND = 3299;
  state.current_icon = 3000;
  CreationRun(store);
  EXPECT_GT(checked, 0);
  for (int icon : icons)
    EXPECT_FALSE(files::ArchiveAttributeSet(lib.PcxPath(icon).string().c_str()));

  // A coordinates file that cannot be written: said once, and no source counts as converted.
  for (int icon : icons) lib.AddPcx(icon, UnmaskedShape(icon, 9));
  lib.port.Clear();
  lib.settings.FCOO = {};
  std::string("nofolder\\coords.dat").copy(lib.settings.FCOO.data(), 19);
  lib.Run();
  EXPECT_EQ(lib.port.MessageTexts(),
            std::vector<std::string>{"File nofolder\\coords.dat write error!"});
  for (int icon : icons)
    EXPECT_TRUE(files::ArchiveAttributeSet(lib.PcxPath(icon).string().c_str()));
}

}  // namespace
}  // namespace zemlo::testing
