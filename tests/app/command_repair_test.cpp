// zgl repair's work on a small library: damaged, then repaired, the library must be the one a
// clean build made, byte for byte (the checksum file but for which run wrote what), and a
// verification afterwards must find nothing; what cannot be repaired stays as it is.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/repair.h"
#include "app/session.h"
#include "support/folder_snapshot.h"
#include "support/library_files.h"
#include "support/power_cut.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class Repair : public ::testing::Test {
 protected:
  // Three pictures in block 30 and one in block 40, built as "Create ZGL" builds them.
  void Make(const ProjectOptions& options) {
    lib.SetOptions(options);
    lib.AddPcx(3000, UnmaskedShape(1));
    lib.AddPcx(3001, XMaskedShape(2));
    lib.AddPcx(3005, ZeroMaskedShape(3));
    lib.AddPcx(4011, UnmaskedShape(4));
    ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
    session.WaitForWorker();
    clean = Library();
    ASSERT_TRUE(clean.contains("blk/b30.blk") || clean.contains("sep/s3_0_0_1.zgi"));
  }

  // The library's files (not the sources, not the lock), the checksum file without the runs.
  FolderFiles Library() const {
    FolderFiles files = SnapshotFolder(lib.dir.path(), [](const std::string& name) {
      return !name.starts_with("pcx/") && !name.ends_with(".lock");
    });
    for (auto& [name, bytes] : files) {
      if (name.ends_with(kSumSuffix)) bytes = SumsBesidesRuns(bytes);
    }
    return files;
  }

  // Flips bits in the middle of `icon`'s entry in its block file.
  void DamageBlockCopy(int icon) {
    Bytes table = OffsetsOnDisk(lib);
    const OffsetsTable offsets(table);
    const fs::path path = lib.BlockPath(icon / 100);
    Bytes block = ReadFileBytes(path);
    ASSERT_GT(offsets.length(icon), 0);
    block.at(static_cast<std::size_t>(offsets.offset(icon) + offsets.length(icon) / 2)) ^= 0x5A;
    WriteFileBytes(path, block);
  }
  void DamageSingleCopy(int icon) {
    Bytes single = ReadFileBytes(lib.SinglePath(icon));
    ASSERT_FALSE(single.empty());
    single.at(single.size() / 2) ^= 0x5A;
    WriteFileBytes(lib.SinglePath(icon), single);
  }

  // Entries whose copies cannot restore them are converted again from their sources, though
  // the archive test (DARC 1) would skip them; the icons around them stay as they were.
  void ConvertAgain(int dblk) {
    Make({.dblk = dblk, .darc = 1});
    DamageBlockCopy(3000);
    DamageBlockCopy(3005);
    if (dblk == 3) {
      fs::remove(lib.SinglePath(3000));
      DamageSingleCopy(3005);
    }

    const RepairOutcome outcome = Run();
    EXPECT_EQ(Lines(outcome),
              (std::vector<std::string>{
                  "icon 3000: blk\\b30.blk: converted again from pcx\\p3_0_0_0.pcx",
                  "icon 3005: blk\\b30.blk: converted again from pcx\\p3_0_0_5.pcx"}));
    EXPECT_TRUE(outcome.after.findings.empty()) << FindingLine(outcome.after.findings.front());
    EXPECT_TRUE(Repaired(outcome));
    EXPECT_EQ(Library(), clean);
  }

  RepairOutcome Run() { return RepairLibrary(session, "project.zgl", "project.zgl"); }

  static std::vector<std::string> Lines(const RepairOutcome& outcome) {
    std::vector<std::string> lines;
    for (const RepairStep& step : outcome.steps) lines.push_back(RepairStepLine(step));
    return lines;
  }

  TestLibrary lib;
  RecordingPort port;
  Session session{port};
  FolderFiles clean;
};

// With both layouts, the copy that matches its checksum is the one put back; the sources are
// gone, so nothing else could have made the entry again.
TEST_F(Repair, RestoresTheDamagedCopyFromTheIntactOne) {
  Make({.dblk = 3});
  DamageBlockCopy(3001);
  DamageSingleCopy(3005);
  DamageBlockCopy(4011);
  for (int icon : {3001, 3005, 4011}) fs::remove(lib.PcxPath(icon));
  ASSERT_NE(Library(), clean);

  const RepairOutcome outcome = Run();
  EXPECT_EQ(Lines(outcome),
            (std::vector<std::string>{"icon 3001: blk\\b30.blk: restored from sep\\s3_0_0_1.zgi",
                                      "icon 3005: sep\\s3_0_0_5.zgi: restored from blk\\b30.blk",
                                      "icon 4011: blk\\b40.blk: restored from sep\\s4_0_1_1.zgi"}));
  EXPECT_TRUE(outcome.after.findings.empty()) << FindingLine(outcome.after.findings.front());
  EXPECT_TRUE(Repaired(outcome));
  EXPECT_EQ(Library(), clean);
  EXPECT_FALSE(lib.Exists("BLTEMP"));
}

// A library that gained its checksum file with a copy already damaged: the sum taken over is
// of the damaged bytes, so it must not choose that copy over the intact one. The entry is
// converted again from its source instead, and the intact single copy stays.
TEST_F(Repair, ASumTakenOverAsFoundChoosesNoCopy) {
  // The second run must carry the damaged entry over, which takes a cleared archive attribute.
  if (!ArchiveAttributeCanBeCleared(lib)) GTEST_SKIP() << "no archive attribute here";
  Make({.dblk = 3, .darc = 1});
  const auto sums = ChecksumFileName(lib.settings);
  ASSERT_TRUE(sums);
  fs::remove(lib.dir.path() / sums->data());
  DamageBlockCopy(3001);
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  const auto adopted = ReadChecksumFile(lib.settings);
  ASSERT_TRUE(adopted) << adopted.error().text;
  ASSERT_EQ(adopted->icons.at(3001).flags & kSumAdopted, kSumAdopted);

  const RepairOutcome outcome = Run();
  EXPECT_EQ(Lines(outcome),
            (std::vector<std::string>{
                "icon 3001: blk\\b30.blk: converted again from pcx\\p3_0_0_1.pcx"}));
  EXPECT_TRUE(Repaired(outcome));
  FolderFiles now = Library();
  EXPECT_EQ(now.at("sep/s3_0_0_1.zgi"), clean.at("sep/s3_0_0_1.zgi"));
  EXPECT_EQ(now.at("blk/b30.blk"), clean.at("blk/b30.blk"));
}

// Blocks only: the damaged entries have no second copy.
TEST_F(Repair, ConvertsAgainWhatBlocksAloneHold) { ConvertAgain(2); }

// Both layouts: 3000's single copy is gone and 3005's is damaged too.
TEST_F(Repair, ConvertsAgainWhereNeitherCopyIsIntact) { ConvertAgain(3); }

// An icon with neither an intact copy nor a source is named and left exactly as it is, and
// one whose source cannot be loaded is named still damaged; the repair did not finish.
TEST_F(Repair, LeavesWhatItCannotRepairAsItIs) {
  Make({.dblk = 2});
  DamageBlockCopy(3000);
  DamageBlockCopy(3001);
  DamageBlockCopy(3005);
  fs::remove(lib.PcxPath(3001));
  // A source that is there but no picture: the run keeps the entry as it was.
  WriteFileBytes(lib.PcxPath(3000), {'n', 'o', ' ', 'p', 'c', 'x'});
  const Bytes unloadable_entry = lib.BlockEntry(3000);
  const Bytes damaged_entry = lib.BlockEntry(3001);

  const RepairOutcome outcome = Run();
  EXPECT_EQ(Lines(outcome),
            (std::vector<std::string>{
                "icon 3000: blk\\b30.blk: converted again from pcx\\p3_0_0_0.pcx, but it is "
                "still damaged",
                "icon 3001: no good copy and no source: left as it is",
                "icon 3005: blk\\b30.blk: converted again from pcx\\p3_0_0_5.pcx"}));
  EXPECT_FALSE(Repaired(outcome));
  ASSERT_FALSE(outcome.after.findings.empty());
  for (const VerifyFinding& finding : outcome.after.findings) {
    EXPECT_TRUE(finding.icon == 3000 || finding.icon == 3001 || finding.icon == -1)
        << FindingLine(finding);
  }
  // The block was written again for 3005, with 3001's damaged bytes carried over as they were.
  EXPECT_FALSE(damaged_entry.empty());
  EXPECT_EQ(lib.BlockEntry(3001), damaged_entry);
  EXPECT_EQ(lib.BlockEntry(3000), unloadable_entry);
}

// The repair takes the library's lock first: while another session holds it, nothing is read
// or written; once it is given up, the repair goes through.
TEST_F(Repair, TouchesNothingWhileAnotherSessionHoldsTheLibrary) {
  Make({.dblk = 3});
  DamageBlockCopy(3001);
  const FolderFiles damaged = Library();
  RecordingPort other_port;
  Session other(other_port);
  ASSERT_TRUE(LoadProject(other, "project.zgl", "project.zgl", ProjectUse::kCheck));
  const RepairOutcome refused = Run();
  EXPECT_FALSE(refused.verified);
  EXPECT_TRUE(refused.steps.empty());
  EXPECT_FALSE(Repaired(refused));
  EXPECT_EQ(Library(), damaged);
  ReleaseLibrary(other);
  EXPECT_TRUE(Repaired(Run()));
  EXPECT_EQ(Library(), clean);
}

// The folder as `files` holds it again: what a trial added goes, what it changed comes back.
void PutBack(const fs::path& root, const FolderFiles& files) {
  for (const auto& [name, bytes] : SnapshotFolder(root)) {
    if (!name.ends_with(".lock") && !files.contains(name)) fs::remove(root / name);
  }
  for (const auto& [name, bytes] : files) WriteFileBytes(root / name, bytes);
}

// The block copy is restored through the block rewrite: a power cut at any call that can
// change the disk leaves a library that the next repair brings to the clean build.
TEST_F(Repair, APowerCutWhileACopyIsRestoredLeavesALibraryTheNextRepairMends) {
  Make({.dblk = 3});
  DamageBlockCopy(3001);
  fs::remove(lib.PcxPath(3001));
  const FolderFiles damaged = SnapshotFolder(lib.dir.path());
  int calls = 0;
  {
    PowerCut observer(lib.dir.path());
    ASSERT_TRUE(Repaired(Run()));
    calls = observer.ChangingCalls();
  }
  ASSERT_GT(calls, 5);
  for (int k = 1; k <= calls; ++k) {
    SCOPED_TRACE("power cut at call " + std::to_string(k));
    PutBack(lib.dir.path(), damaged);
    {
      PowerCut observer(lib.dir.path());
      observer.CutAt(k);
      (void)Run();
      ASSERT_TRUE(observer.cut());
      observer.Reboot(Metadata::kInOrder);
    }
    RecordingPort next_port;
    Session next(next_port);
    const RepairOutcome outcome = RepairLibrary(next, "project.zgl", "project.zgl");
    EXPECT_TRUE(Repaired(outcome)) << ::testing::PrintToString(Lines(outcome));
    EXPECT_EQ(Library(), clean);
  }
}

// A library that verifies clean is not written at all.
TEST_F(Repair, ChangesNothingInAConsistentLibrary) {
  Make({.dblk = 3});
  const FolderFiles before = SnapshotFolder(lib.dir.path());
  const RepairOutcome outcome = Run();
  EXPECT_TRUE(outcome.verified);
  EXPECT_TRUE(outcome.steps.empty());
  EXPECT_TRUE(outcome.before.findings.empty());
  EXPECT_TRUE(Repaired(outcome));
  EXPECT_EQ(SnapshotFolder(lib.dir.path()), before);
}

}  // namespace
}  // namespace zemlo::testing
