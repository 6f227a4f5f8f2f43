// The recovery of an interrupted block rewrite, at every point where a run can be killed:
// the files of one block (offsets file, block file, BLTEMP, the record) in each state the
// rewrite passes through, or that someone else may leave, and what the next command makes of
// them. It must always end in the library before or after the rewrite, or touch nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/working_state.h"
#include "files/file_helpers.h"
#include "library/store/block_store.h"
#include "library/store/library_lock.h"
#include "library/store/rewrite_recovery.h"
#include "library/store/tables_io.h"
#include "support/folder_snapshot.h"
#include "support/name_text.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"

namespace zemlo {
namespace {

using testing::MakeName;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Folder = std::map<std::string, Bytes>;

// Entries of block 30 in two versions; version 1 drops some icons and adds others.
std::string Formatted(TextFormat format, const std::string& name) {
  char text[kTextBufferSize];
  std::snprintf(text, sizeof text, format.c_str(), name.c_str());
  return text;
}

Bytes EntryFor(int icon, int version) {
  if ((icon + version) % 7 == 0) return {};
  Bytes b(1 + static_cast<std::size_t>(icon * 13 + version * 5) % 40);
  for (std::size_t i = 0; i < b.size(); ++i)
    b[i] = static_cast<std::uint8_t>(icon + version * 17 + i);
  return b;
}

class Recovery : public ::testing::Test {
 protected:
  Recovery() {
    settings.FBLK = MakeName("BLK00.ZGL");
    settings.FOFS = MakeName("lib.ofs");
    settings.DBLK = 2;
    settings.NSIZ = 5000;
    Rewrite(0, 3099);
    old_files = Files();
    Rewrite(1, 3099);
    new_files = Files();
    Put(old_files);
  }

  // Block 30 rewritten with `version` up to `last`; the rest carried. Past 3099 it is closed,
  // otherwise the run dies there (BLTEMP, its record and the half new block stay).
  void Rewrite(int version, int last) {
    StoreContext context{settings, state, {}};
    ASSERT_TRUE(OpenBlock(3000, context));
    for (int n = 3000; n <= std::min(last, 3099); ++n) {
      ASSERT_TRUE(StoreEntry(n, EntryFor(n, version), context));
    }
    if (last >= 3099) {
      ASSERT_TRUE(CheckBlockEnd(3099, context));
    }
  }

  Folder Files() const { return testing::SnapshotFolder(dir.path(), testing::AtTop); }
  void Put(const Folder& files) const {
    for (const auto& e : fs::directory_iterator(dir.path())) fs::remove(e.path());
    for (const auto& [name, bytes] : files) testing::WriteFileBytes(dir.path() / name, bytes);
  }
  // The record a rewrite of block 30 writes over `offsets_file`'s records.
  Bytes Record(const Folder& offsets_from) const {
    Put(offsets_from);
    TempBlockRecord record{"lib.ofs", "BLK30.ZGL", 3000, RecordsOnDisk("lib.ofs", 3000, 100)};
    return EncodeTempBlockRecord(record);
  }

  testing::TempDir dir;
  testing::ScopedCurrentDir cwd{dir.path()};
  testing::RecordingPort port;
  WorkingState state{port};
  ProjectSettings settings;
  Folder old_files;
  Folder new_files;
};

TEST_F(Recovery, EveryStateARewriteCanLeaveEndsInTheOldOrTheNewLibrary) {
  ASSERT_NE(old_files.at("BLK30.ZGL"), new_files.at("BLK30.ZGL"));
  const Bytes old_block = old_files.at("BLK30.ZGL");
  const Bytes new_block = new_files.at("BLK30.ZGL");
  const Bytes record = Record(old_files);
  Bytes damaged = record;
  damaged[damaged.size() / 2] ^= 0x40;
  // A half-written new block that happens to have the old block's length: only the record
  // tells it from a complete one.
  Bytes same_length = new_block;
  same_length.resize(old_block.size(), 0x55);
  const std::optional<Bytes> none;

  enum class End { kOld, kNew, kUntouched };
  struct Case {
    const char* state;
    bool new_offsets;
    std::optional<Bytes> block;
    std::optional<Bytes> temp;
    std::optional<Bytes> rec;
    RecoveryResult result;
    End end;
  };
  const std::vector<Case> cases = {
      {"record written", false, old_block, none, record, RecoveryResult::kNothingFound, End::kOld},
      {"block moved to BLTEMP", false, none, old_block, record, RecoveryResult::kRecovered,
       End::kOld},
      {"new block begun", false, Bytes(new_block.begin(), new_block.begin() + 9), old_block, record,
       RecoveryResult::kRecovered, End::kOld},
      {"new block of the old length", false, same_length, old_block, record,
       RecoveryResult::kRecovered, End::kOld},
      {"new block complete", false, new_block, old_block, record, RecoveryResult::kRecovered,
       End::kOld},
      {"offsets written", true, new_block, old_block, record, RecoveryResult::kRecovered,
       End::kNew},
      {"BLTEMP removed", true, new_block, none, record, RecoveryResult::kNothingFound, End::kNew},
      {"no record, block moved", false, none, old_block, none, RecoveryResult::kRecovered,
       End::kOld},
      {"damaged record, new block begun", false, Bytes(new_block.begin(), new_block.begin() + 9),
       old_block, damaged, RecoveryResult::kRecovered, End::kOld},
      {"no record, offsets written", true, new_block, old_block, none, RecoveryResult::kRefused,
       End::kUntouched},
      {"block cut behind new offsets", true, Bytes(new_block.begin(), new_block.begin() + 9),
       old_block, record, RecoveryResult::kRefused, End::kUntouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    Folder files = c.new_offsets ? new_files : old_files;
    files.erase("BLK30.ZGL");
    if (c.block) files["BLK30.ZGL"] = *c.block;
    if (c.temp) files["BLTEMP"] = *c.temp;
    if (c.rec) files["BLTEMP.REC"] = *c.rec;
    Put(files);
    port.Clear();
    EXPECT_EQ(RecoverInterruptedRewrite(settings, port), c.result);
    const Folder after = Files();
    switch (c.end) {
      case End::kOld:
        EXPECT_EQ(after, old_files);
        break;
      case End::kNew:
        EXPECT_EQ(after, new_files);
        break;
      case End::kUntouched:
        EXPECT_EQ(after, files);
        break;
    }
    // One message whenever BLTEMP was there: a notice when it was put right.
    ASSERT_EQ(port.messages.size(), c.temp ? 1u : 0u);
    if (c.temp) {
      EXPECT_EQ(port.messages[0].icon, c.result == RecoveryResult::kRecovered
                                           ? MessageIcon::kInformation
                                           : MessageIcon::kWarning);
      EXPECT_NE(port.messages[0].text.find(
                    c.result == RecoveryResult::kRefused ? "Nothing was changed" : "BLK30.ZGL"),
                std::string::npos)
          << port.messages[0].text;
    }
  }
}

TEST_F(Recovery, ABlockEmptiedByTheRewriteEndsWithoutFile) {
  // Every entry dropped: the rewrite deletes the block file right after the offsets file.
  StoreContext context{settings, state, {}};
  ASSERT_TRUE(OpenBlock(3000, context));
  for (int n = 3000; n <= 3099; ++n) ASSERT_TRUE(DropEntry(n, context));
  ASSERT_TRUE(CheckBlockEnd(3099, context));
  const Folder emptied = Files();
  ASSERT_EQ(emptied.count("BLK30.ZGL"), 0u);
  Folder killed = emptied;
  killed["BLTEMP"] = old_files.at("BLK30.ZGL");
  killed["BLTEMP.REC"] = Record(old_files);
  for (const bool block_left : {false, true}) {
    if (block_left) killed["BLK30.ZGL"] = {};  // killed before the empty file went
    Put(killed);
    EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
    EXPECT_EQ(Files(), emptied);
  }
}

TEST_F(Recovery, AnotherLibrarysRewriteIsLeftToItsOwnProject) {
  Folder killed = old_files;
  killed.erase("BLK30.ZGL");
  killed["BLTEMP"] = old_files.at("BLK30.ZGL");
  killed["BLTEMP.REC"] = Record(old_files);
  Put(killed);
  ProjectSettings mine = settings;
  mine.FOFS = MakeName("mine.ofs");
  mine.FBLK = MakeName("MIN00.ZGL");
  // Whether or not a run of that library works, this project neither touches its files nor
  // takes its lock: its run may be about to move the block back itself.
  for (const bool working : {false, true}) {
    SCOPED_TRACE(working ? "its run working" : "no run of it");
    LibraryLock lock;
    if (working) {
      ASSERT_EQ(lock.Acquire("lib.ofs", nullptr), LibraryLock::Outcome::kHeld);
    }
    port.Clear();
    EXPECT_EQ(RecoverInterruptedRewrite(mine, port), RecoveryResult::kRefused);
    Folder now = Files();
    if (working) now.erase("lib.ofs.lock");  // the working run's own
    EXPECT_EQ(now, killed);
    EXPECT_EQ(port.MessageTexts(),
              std::vector<std::string>{Formatted(kOtherLibraryFormat, "lib.ofs")});
  }
  // Its record alone is not removed either, and says nothing.
  fs::remove(dir.path() / "BLTEMP");
  port.Clear();
  EXPECT_EQ(RecoverInterruptedRewrite(mine, port), RecoveryResult::kNothingFound);
  EXPECT_TRUE(fs::exists(dir.path() / "BLTEMP.REC"));
  EXPECT_TRUE(port.messages.empty());
  // Its own project puts it right.
  testing::WriteFileBytes(dir.path() / "BLTEMP", old_files.at("BLK30.ZGL"));
  EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
  Folder expected = old_files;
  expected["lib.ofs.lock"] = {};
  EXPECT_EQ(Files(), expected);
}

// A record and a BLTEMP that someone else put into the folder: each points at a file outside
// the library, or claims what the block does not hold. Nothing is moved, removed or made, and
// the warning says why.
TEST_F(Recovery, HostileRecordsTouchNothingAndSayWhy) {
  testing::TempDir outside;
  testing::WriteFileBytes(outside.path() / "thesis.txt", {'t', 'h', 'e', 's', 'i', 's'});
  testing::WriteFileBytes(outside.path() / "notes.txt", {'n', 'o', 't', 'e', 's'});
  const std::string up = "..\\" + outside.path().filename().string() + "\\";
  const Bytes old_block = old_files.at("BLK30.ZGL");
  Bytes longer = old_block;
  longer.push_back(0);
  const Bytes shorter(old_block.begin(), old_block.end() - 1);
  Put(old_files);
  const Bytes old_records = RecordsOnDisk("lib.ofs", 3000, 100);

  struct Case {
    std::string what;
    TempBlockRecord record;
    Bytes temp;
    std::string warning;
  };
  const auto block_named = [&](const std::string& name, const Bytes& temp) {
    return Case{"block " + name + (temp.empty() ? ", BLTEMP empty" : ""),
                {"lib.ofs", name, 3000, old_records},
                temp,
                Formatted(kRecordOtherBlockFormat, "BLK30.ZGL")};
  };
  std::vector<Case> cases;
  for (const Bytes& temp : {old_block, Bytes{}}) {
    for (const std::string& name :
         {(outside.path() / "thesis.txt").string(), up + "notes.txt", std::string("project.zgl"),
          std::string("p3_0_0_0.pcx"), std::string("BLTEMP.REC"), std::string("BLTEMP"),
          std::string("BLK31.ZGL")}) {
      cases.push_back(block_named(name, temp));
    }
  }
  for (const std::string& offsets : {std::string("other.ofs"), up + "other.ofs"}) {
    cases.push_back({"offsets " + offsets,
                     {offsets, "BLK30.ZGL", 3000, {}},
                     old_block,
                     Formatted(kOtherLibraryFormat, offsets)});
  }
  const std::string length_differs = Formatted(kTempLengthDiffersFormat, "BLK30.ZGL");
  cases.push_back(
      {"BLTEMP longer", {"lib.ofs", "BLK30.ZGL", 3000, old_records}, longer, length_differs});
  cases.push_back(
      {"BLTEMP shorter", {"lib.ofs", "BLK30.ZGL", 3000, old_records}, shorter, length_differs});
  cases.push_back(
      {"BLTEMP empty", {"lib.ofs", "BLK30.ZGL", 3000, old_records}, {}, length_differs});
  cases.push_back({"not a block's first icon",
                   {"lib.ofs", "BLK30.ZGL", 3001, old_records},
                   old_block,
                   Formatted(kRecordNotBlockStartFormat, "BLTEMP.REC")});
  cases.push_back(
      {"half a block",
       {"lib.ofs", "BLK30.ZGL", 3000, Bytes(old_records.begin(), old_records.begin() + 400)},
       old_block,
       Formatted(kRecordWrongCountFormat, "BLTEMP.REC")});
  cases.push_back({"beyond NSIZ",
                   {"lib.ofs", "BLK50.ZGL", 5000, Bytes(800)},
                   {},
                   Formatted(kRecordOutsideTableFormat, "BLTEMP.REC")});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folder files = old_files;
    files["BLK30.ZGL"] =
        Bytes(new_files.at("BLK30.ZGL").begin(), new_files.at("BLK30.ZGL").begin() + 9);
    files["BLTEMP"] = c.temp;
    files["BLTEMP.REC"] = EncodeTempBlockRecord(c.record);
    files["project.zgl"] = {'F', 'O', 'F', 'S', ' ', 'l', 'i', 'b', '.', 'o', 'f', 's'};
    files["p3_0_0_0.pcx"] = {10, 5, 1, 8};
    Put(files);
    port.Clear();
    EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRefused);
    EXPECT_EQ(Files(), files);  // no file changed, went or came (no lock file either)
    EXPECT_EQ(testing::ReadFileBytes(outside.path() / "thesis.txt"),
              (Bytes{'t', 'h', 'e', 's', 'i', 's'}));
    EXPECT_EQ(testing::ReadFileBytes(outside.path() / "notes.txt"),
              (Bytes{'n', 'o', 't', 'e', 's'}));
    EXPECT_FALSE(fs::exists(outside.path() / "other.ofs.lock"));
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].icon, MessageIcon::kWarning);
    EXPECT_EQ(port.messages[0].text, c.warning);
  }
}

TEST_F(Recovery, ThisLibrarysRecordUnderAnotherSpellingStillRecovers) {
  const Bytes half(new_files.at("BLK30.ZGL").begin(), new_files.at("BLK30.ZGL").begin() + 9);
  const Bytes old_records = RecordsOnDisk("lib.ofs", 3000, 100);
  for (const auto& [offsets, block] :
       {std::pair{".\\lib.ofs", ".\\BLK30.ZGL"}, std::pair{"./LIB.OFS", "blk30.zgl"},
        std::pair{"Lib.Ofs", "sub\\..\\BLK30.ZGL"}}) {
    SCOPED_TRACE(offsets);
    Folder files = old_files;
    files["BLK30.ZGL"] = half;
    files["BLTEMP"] = old_files.at("BLK30.ZGL");
    files["BLTEMP.REC"] = EncodeTempBlockRecord({offsets, block, 3000, old_records});
    Put(files);
    port.Clear();
    EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
    // Back over the block file the project names, whatever the record spells.
    EXPECT_EQ(Files(), old_files);
    EXPECT_EQ(port.MessageTexts(),
              std::vector<std::string>{Formatted(kMovedBackFormat, "BLK30.ZGL")});
    // Finished before it was killed: the surplus copy goes.
    files = new_files;
    files["BLTEMP"] = old_files.at("BLK30.ZGL");
    files["BLTEMP.REC"] = EncodeTempBlockRecord({offsets, block, 3000, old_records});
    Put(files);
    EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
    EXPECT_EQ(Files(), new_files);
  }
}

// Symbolic links: recovery never acts through one, nor replaces one.
TEST_F(Recovery, LinksAndFoldersAreLeftAlone) {
  testing::TempDir outside;
  const fs::path thesis = outside.path() / "thesis.txt";
  const Bytes thesis_bytes{'t', 'h', 'e', 's', 'i', 's'};
  testing::WriteFileBytes(thesis, thesis_bytes);
  const Bytes old_block = old_files.at("BLK30.ZGL");
  const Bytes record = Record(old_files);
  const fs::path temp = dir.path() / "BLTEMP";
  const fs::path block = dir.path() / "BLK30.ZGL";
  std::error_code no_links;
  fs::create_symlink(thesis, dir.path() / "probe", no_links);
  if (no_links) GTEST_SKIP() << "no symbolic links here";
  fs::remove(dir.path() / "probe");
  testing::WriteFileBytes(dir.path() / "BLTEMP.REC", record);

  Bytes thesis_now = thesis_bytes;
  const auto expect_refused = [&](const std::string& warning) {
    port.Clear();
    EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRefused);
    EXPECT_EQ(port.MessageTexts(), std::vector<std::string>{warning});
    EXPECT_EQ(testing::ReadFileBytes(thesis), thesis_now);
    EXPECT_TRUE(fs::exists(dir.path() / "BLTEMP.REC"));
  };
  const std::string temp_refused = Formatted(kTempNotRegularFormat, "BLTEMP");
  // BLTEMP a link to a file outside (of the block's old length), to nothing, or a folder.
  thesis_now = old_block;
  testing::WriteFileBytes(thesis, thesis_now);
  fs::create_symlink(thesis, temp);
  expect_refused(temp_refused);
  EXPECT_TRUE(fs::is_symlink(temp));
  EXPECT_EQ(testing::ReadFileBytes(block), old_block);
  thesis_now = thesis_bytes;
  testing::WriteFileBytes(thesis, thesis_now);
  fs::remove(temp);
  fs::create_symlink(outside.path() / "missing", temp);
  expect_refused(temp_refused);
  EXPECT_TRUE(fs::is_symlink(temp));
  fs::remove(temp);
  fs::create_directory(temp);
  expect_refused(temp_refused);
  EXPECT_TRUE(fs::is_directory(temp));
  fs::remove(temp);

  // The block file a link to a file outside: with the record, and without one.
  testing::WriteFileBytes(temp, old_block);
  fs::remove(block);
  fs::create_symlink(thesis, block);
  const std::string block_refused = Formatted(kBlockIsLinkFormat, "BLK30.ZGL");
  expect_refused(block_refused);
  fs::remove(dir.path() / "BLTEMP.REC");
  port.Clear();
  EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRefused);
  EXPECT_EQ(port.MessageTexts(), std::vector<std::string>{block_refused});
  EXPECT_TRUE(fs::is_symlink(block));
  EXPECT_EQ(testing::ReadFileBytes(thesis), thesis_bytes);
  EXPECT_EQ(testing::ReadFileBytes(temp), old_block);
}

TEST_F(Recovery, WithoutARecordBLTEMPGoesOnlyToABlockFileOfThisLibrary) {
  // The one block that disagrees is block 30, whose file BLTEMP matches; but this project's
  // FBLK names BLTEMP's own record for every block (Windows finds "X30.D\..\BLTEMP.REC"
  // whether or not X30.D exists), where BLTEMP's bytes would be lost with the record.
  Folder killed = old_files;
  killed.erase("BLK30.ZGL");
  killed["BLTEMP"] = old_files.at("BLK30.ZGL");
  Put(killed);
  ProjectSettings odd = settings;
  odd.FBLK = MakeName("X00.D\\..\\BLTEMP.REC");
  port.Clear();
  EXPECT_EQ(RecoverInterruptedRewrite(odd, port), RecoveryResult::kRefused);
  EXPECT_EQ(Files(), killed);
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_NE(port.messages[0].text.find("would be BLTEMP, its record"), std::string::npos)
      << port.messages[0].text;
  // With this project's own names it goes back.
  EXPECT_EQ(RecoverInterruptedRewrite(settings, port), RecoveryResult::kRecovered);
  EXPECT_EQ(Files(), old_files);
}

TEST(RecoveryDecision, TheRecordsBlockComesFromTheProject) {
  ProjectSettings s;
  s.FOFS = MakeName("sub\\lib.ofs");
  s.FCOO = MakeName("lib.coo");
  s.FBLK = MakeName("blk\\B00.ZGL");
  s.BLKB = 100;
  s.NSIZ = 5000;
  const Bytes block(800);
  const auto doubt = [](const TempBlockRecord& r, const ProjectSettings& settings) {
    return BlockOfRecord(r, settings).doubt;
  };
  const RecordedBlock found = BlockOfRecord({"sub\\lib.ofs", "blk\\B30.ZGL", 3000, block}, s);
  EXPECT_EQ(found.doubt, RecordDoubt::kNone);
  EXPECT_EQ(found.block, 30);
  EXPECT_EQ(std::string(found.block_name.data()), "blk\\B30.ZGL");
  EXPECT_EQ(doubt({".\\SUB/LIB.OFS", "./blk/b30.zgl", 3000, block}, s), RecordDoubt::kNone);
  EXPECT_EQ(doubt({"sub\\..\\sub\\lib.ofs", "blk\\B30.ZGL", 3000, block}, s), RecordDoubt::kNone);

  for (const char* other :
       {"lib.ofs", "..\\sub\\lib.ofs", "/sub/lib.ofs", "sub\\lib.of", "sub\\lib.ofs.x"}) {
    EXPECT_EQ(doubt({other, "blk\\B30.ZGL", 3000, block}, s), RecordDoubt::kOtherLibrary) << other;
  }
  EXPECT_EQ(doubt({"sub\\lib.ofs", "blk\\B30.ZGL", 3050, block}, s), RecordDoubt::kNotBlockStart);
  EXPECT_EQ(doubt({"sub\\lib.ofs", "blk\\B30.ZGL", -100, block}, s), RecordDoubt::kNotBlockStart);
  ProjectSettings no_blocks = s;
  no_blocks.BLKB = 0;
  EXPECT_EQ(doubt({"sub\\lib.ofs", "blk\\B30.ZGL", 3000, block}, no_blocks),
            RecordDoubt::kNotBlockStart);
  EXPECT_EQ(doubt({"sub\\lib.ofs", "blk\\B50.ZGL", 5000, block}, s), RecordDoubt::kOutsideTable);
  ProjectSettings small = s;
  small.NSIZ = 3000;
  EXPECT_EQ(doubt({"sub\\lib.ofs", "blk\\B30.ZGL", 3000, block}, small),
            RecordDoubt::kOutsideTable);
  ProjectSettings unnamed = s;
  unnamed.FBLK = MakeName("B");
  EXPECT_EQ(doubt({"sub\\lib.ofs", "B", 3000, block}, unnamed), RecordDoubt::kOutsideTable);
  for (const std::size_t bytes :
       {std::size_t{0}, std::size_t{792}, std::size_t{808}, std::size_t{804}}) {
    EXPECT_EQ(doubt({"sub\\lib.ofs", "blk\\B30.ZGL", 3000, Bytes(bytes)}, s),
              RecordDoubt::kWrongCount)
        << bytes;
  }
  // The last block of a full table holds only the icons up to its end.
  ProjectSettings full = s;
  full.NSIZ = 20000;
  full.BLKB = 150;
  EXPECT_EQ(doubt({"sub\\lib.ofs", "blk\\BD3.ZGL", 19950, Bytes(400)}, full), RecordDoubt::kNone);
  EXPECT_EQ(doubt({"sub\\lib.ofs", "blk\\BD3.ZGL", 19950, Bytes(1200)}, full),
            RecordDoubt::kWrongCount);
  for (const char* other :
       {"blk\\B31.ZGL", "B30.ZGL", "/tmp/x", "..\\x\\notes.txt", "BLTEMP.REC"}) {
    EXPECT_EQ(doubt({"sub\\lib.ofs", other, 3000, block}, s), RecordDoubt::kOtherBlockFile)
        << other;
  }
  // A project whose block file would be a file of the recovery's own.
  ProjectSettings odd = s;
  odd.FBLK = MakeName("x00.d\\..\\BLTEMP.REC");
  EXPECT_EQ(doubt({"sub\\lib.ofs", "x30.d\\..\\BLTEMP.REC", 3000, block}, odd),
            RecordDoubt::kBlockNamesOwnFile);

  for (const char* own : {"BLTEMP", "bltemp", ".\\BLTEMP.REC", "a\\..\\BLTEMP.REC.zgl-new",
                          "SUB/LIB.OFS", "lib.coo"}) {
    EXPECT_TRUE(BlockNamesOwnFile(own, s)) << own;
  }
  for (const char* block_file :
       {"BLTEMP2", "blk\\BLTEMP", "BLTEMP.REC.x", "lib.ofs", "blk\\B30.ZGL"}) {
    EXPECT_FALSE(BlockNamesOwnFile(block_file, s)) << block_file;
  }
}

TEST(RecoveryDecision, BLTEMPMustHoldExactlyTheOldEntriesWhateverIsDone) {
  // Old records: 5 bytes at 0, none, 7 bytes at 5.
  const auto records = [](std::vector<std::pair<std::int32_t, std::int32_t>> list) {
    Bytes out;
    for (const auto& [offset, length] : list) {
      for (const std::int32_t v : {offset, length}) {
        for (int shift = 0; shift < 32; shift += 8)
          out.push_back(static_cast<std::uint8_t>(v >> shift));
      }
    }
    return out;
  };
  const Bytes old_records = records({{0, 5}, {0, 0}, {5, 7}});
  const Bytes new_records = records({{0, 5}, {5, 3}, {8, 7}});
  const auto decide = [&](const Bytes& now, std::optional<std::int64_t> block, std::int64_t temp) {
    const TempBlockDecision d = DecideRecordedTempBlock(old_records, now, block, temp);
    return std::pair{d.action,
                     d.refusal == nullptr ? std::string() : std::string(d.refusal->c_str())};
  };
  using A = TempBlockAction;
  const std::string differs = kTempLengthDiffersFormat.c_str();
  EXPECT_EQ(decide(old_records, 3, 12), std::pair(A::kMoveBack, std::string()));
  EXPECT_EQ(decide(old_records, std::nullopt, 12), std::pair(A::kMoveBack, std::string()));
  EXPECT_EQ(decide(new_records, 15, 12), std::pair(A::kRemoveTemp, std::string()));
  EXPECT_EQ(decide(new_records, 14, 12),
            std::pair(A::kRefuse, std::string(kRecoveryRefusedFormat.c_str())));
  for (const std::int64_t wrong : {0, 11, 13, 15}) {
    EXPECT_EQ(decide(old_records, 3, wrong), std::pair(A::kRefuse, differs)) << wrong;
    EXPECT_EQ(decide(new_records, 15, wrong), std::pair(A::kRefuse, differs)) << wrong;
  }
}

TEST(RecoveryRecord, ComesBackWholeAndAnyDamageIsSeenAndItIsNeverReplaced) {
  TempBlockRecord record{"sub\\lib.ofs", "blk\\B30.ZGL", 3000, Bytes(800)};
  for (std::size_t i = 0; i < record.records.size(); ++i)
    record.records[i] = static_cast<std::uint8_t>(i * 7);
  const Bytes bytes = EncodeTempBlockRecord(record);
  const auto back = DecodeTempBlockRecord(bytes);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(std::tie(back->offsets_name, back->block_name, back->first_icon, back->records),
            std::tie(record.offsets_name, record.block_name, record.first_icon, record.records));
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    Bytes flipped = bytes;
    flipped[at] ^= 0x01;
    EXPECT_FALSE(DecodeTempBlockRecord(flipped).has_value()) << "byte " << at;
  }
  Bytes longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(DecodeTempBlockRecord(longer).has_value());
  EXPECT_FALSE(DecodeTempBlockRecord(std::span(bytes).first(bytes.size() - 1)).has_value());
  // Records past the offsets table's end, or nameless files, are not a record of ours.
  EXPECT_FALSE(DecodeTempBlockRecord(EncodeTempBlockRecord({"a", "b", 19950, Bytes(800)})));
  EXPECT_FALSE(DecodeTempBlockRecord(EncodeTempBlockRecord({"", "b", 3000, Bytes(8)})));

  testing::TempDir dir;
  testing::ScopedCurrentDir cwd{dir.path()};
  EXPECT_TRUE(WriteTempBlockRecord(record));
  EXPECT_FALSE(WriteTempBlockRecord({"other.ofs", "O30.ZGL", 0, {}}));
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / kTempBlockRecordName), bytes);
}

}  // namespace
}  // namespace zemlo
