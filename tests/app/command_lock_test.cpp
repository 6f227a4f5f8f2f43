// The commands hold the library they load: one holder at a time, given up when the command or
// its run ends. The holder puts right what an interrupted run left, and nothing of a project
// loaded before is reported as the next one's.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/commands.h"
#include "app/session.h"
#include "library/store/rewrite_recovery.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;

std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

// The test project's info file under another name, with some of its names changed.
void WriteInfo(const TestLibrary& lib, const char* name,
               const std::vector<std::pair<std::string, std::string>>& changes) {
  std::string text = Text(ReadFileBytes(lib.dir.path() / "project.zgl"));
  for (const auto& [from, to] : changes) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
      text.replace(at, from.size(), to);
    }
  }
  WriteFileBytes(lib.dir.path() / name, {text.begin(), text.end()});
}

TEST(CommandLock, OneSessionAtATimeHoldsALibraryUntilItsCommandEnds) {
  TestLibrary lib;
  lib.AddPcx(3000, UnmaskedShape(1));
  RecordingPort first_port, second_port;
  Session first(first_port), second(second_port);
  ASSERT_TRUE(LoadProject(first, "project.zgl", "project.zgl", ProjectUse::kCheck));
  const fs::path lock = lib.dir.path() / "offsets.dat.lock";
  EXPECT_EQ(Text(ReadFileBytes(lock)), std::to_string(files::ProcessId()) + "\n");

  const std::string busy = "Library offsets.dat: another run is working on this library (process " +
                           std::to_string(files::ProcessId()) + "). Nothing was changed.";
  EXPECT_FALSE(StartCreateZgl(second, "project.zgl", "project.zgl"));
  EXPECT_FALSE(StartIntegrityCheck(second, "project.zgl", "project.zgl"));
  EXPECT_FALSE(ShowZgl(second, "project.zgl", "project.zgl"));
  EXPECT_EQ(second_port.MessageTexts(), (std::vector<std::string>{busy, busy, busy}));
  EXPECT_FALSE(lib.Exists("offsets.dat"));
  EXPECT_FALSE(lib.Exists("coords.dat"));
  EXPECT_FALSE(lib.Exists("IFF"));

  // Given up by the command's end: a run's worker, or the export.
  ReleaseLibrary(first);
  ASSERT_TRUE(StartCreateZgl(second, "project.zgl", "project.zgl"));
  second.WaitForWorker();
  EXPECT_EQ(Text(ReadFileBytes(lock)), "");
  ASSERT_TRUE(ShowZgl(first, "project.zgl", "project.zgl"));
  ASSERT_TRUE(StartIntegrityCheck(second, "project.zgl", "project.zgl"));
  second.WaitForWorker();
  EXPECT_TRUE(LoadProject(first, "project.zgl", "project.zgl", ProjectUse::kShow));
}

// A lock file nobody can hold keeps nobody out: every command is refused, saying why, and
// leaves the library and whatever the lock file's name points at as they were.
TEST(CommandLock, ALockFileThatIsNoRegularFileRefusesEveryCommand) {
  TestLibrary lib;
  lib.AddPcx(3000, UnmaskedShape(1));
  RecordingPort port;
  Session session(port);
  const fs::path lock = lib.dir.path() / "offsets.dat.lock";
  const auto refused_by = [&](const std::string& reason) {
    port.Clear();
    EXPECT_FALSE(StartCreateZgl(session, "project.zgl", "project.zgl"));
    EXPECT_FALSE(StartIntegrityCheck(session, "project.zgl", "project.zgl"));
    EXPECT_FALSE(ShowZgl(session, "project.zgl", "project.zgl"));
    EXPECT_FALSE(LoadProject(session, "project.zgl", "project.zgl", ProjectUse::kCheck));
    const std::string text =
        "Library offsets.dat: cannot lock offsets.dat.lock: " + reason + ". Nothing was changed.";
    EXPECT_EQ(port.MessageTexts(), std::vector<std::string>(4, text));
    for (const auto& message : port.messages) EXPECT_EQ(message.icon, MessageIcon::kWarning);
    EXPECT_EQ(port.runs_started, 0);
    EXPECT_FALSE(lib.Exists("offsets.dat"));
    EXPECT_FALSE(lib.Exists("coords.dat"));
  };

  fs::create_directory(lock);
  refused_by("it is not a regular file");
  EXPECT_TRUE(fs::is_empty(lock));
  fs::remove(lock);

  TempDir outside;
  const fs::path thesis = outside.path() / "thesis.txt";
  WriteFileBytes(thesis, {'m', 'i', 'n', 'e'});
  std::error_code error;
  fs::create_symlink(thesis, lock, error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  refused_by("it is a symbolic link");
  EXPECT_EQ(Text(ReadFileBytes(thesis)), "mine");
  fs::remove(lock);
  fs::create_symlink(outside.path() / "new" / "x.lock", lock);
  refused_by("it is a symbolic link");
  EXPECT_FALSE(fs::exists(outside.path() / "new"));

  // Once the lock file is a file again, the commands work.
  fs::remove(lock);
  port.Clear();
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  EXPECT_TRUE(lib.Exists("offsets.dat"));
}

TEST(CommandLock, TheHolderPutsRightWhatAKilledRunLeftAndOnlyThat) {
  TestLibrary lib({.dblk = 3});
  lib.AddPcx(3000, UnmaskedShape(1));
  lib.AddPcx(3001, UnmaskedShape(2));
  RecordingPort port;
  Session session(port);
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  const auto entry = lib.BlockEntry(3000);
  {
    // Killed inside block 30, and inside a few whole-file replacements.
    StoreContext killed{lib.settings, lib.state, {}};
    ASSERT_TRUE(OpenBlock(3000, killed));
    ASSERT_TRUE(StoreEntry(3000, std::vector<std::uint8_t>{1, 2, 3}, killed));
  }
  const std::vector<std::string> ours = {"offsets.dat.zgl-new", "coords.dat.zgl-new",
                                         "BLTEMP.REC.zgl-new", "sep/s3_0_0_2.zgi.zgl-new"};
  for (const auto& name : ours) WriteFileBytes(lib.dir.path() / name, {7});
  WriteFileBytes(lib.dir.path() / "notes.txt.zgl-new", {7});

  port.Clear();
  ASSERT_TRUE(StartIntegrityCheck(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  ASSERT_EQ(port.messages.size(), 1u) << port.messages.back().text;
  EXPECT_EQ(port.messages[0].icon, MessageIcon::kInformation);
  EXPECT_NE(port.messages[0].text.find("blk\\b30.blk. The block was put back"), std::string::npos)
      << port.messages[0].text;
  EXPECT_EQ(lib.BlockEntry(3000), entry);
  for (const char* gone : {"BLTEMP", "BLTEMP.REC", "offsets.dat.zgl-new", "coords.dat.zgl-new",
                           "BLTEMP.REC.zgl-new"}) {
    EXPECT_FALSE(lib.Exists(gone)) << gone;
  }
  // A single entry's temporary goes when a run reaches its icon; others' files stay.
  EXPECT_TRUE(lib.Exists("sep/s3_0_0_2.zgi.zgl-new"));
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  EXPECT_FALSE(lib.Exists("sep/s3_0_0_2.zgi.zgl-new"));
  EXPECT_TRUE(lib.Exists("notes.txt.zgl-new"));

  // BLTEMP whose block cannot be told: the run does not start, the check does.
  WriteFileBytes(lib.dir.path() / "BLTEMP", {1, 2, 3});
  port.Clear();
  EXPECT_FALSE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_NE(port.messages[0].text.find("cannot be told"), std::string::npos);
  EXPECT_TRUE(StartIntegrityCheck(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  EXPECT_EQ(ReadFileBytes(lib.dir.path() / "BLTEMP"), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(CommandLock, NothingOfAProjectCheckedBeforeIsReportedAsTheNextOnes) {
  TestLibrary lib;
  for (int icon : {3000, 3001, 3500}) lib.AddPcx(icon, UnmaskedShape(icon));
  // Another library in the same folder, whose offsets and coordinates files are missing.
  WriteInfo(lib, "other.zgl", {{"s.dat ", "s-other.dat "}, {"\\b00.blk", "\\c00.blk"}});
  RecordingPort port;
  Session session(port);
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  ASSERT_TRUE(StartIntegrityCheck(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  ASSERT_NE(OffsetsTable(session.state().offsets.span()).length(3500), 0);

  port.Clear();
  ASSERT_TRUE(StartIntegrityCheck(session, "other.zgl", "other.zgl"));
  session.WaitForWorker();
  EXPECT_EQ(port.MessageTexts(),
            (std::vector<std::string>{
                "Could not read coordinates file coords-other.dat. Creating new one.",
                "Offsets file not found"}));
  EXPECT_EQ(OffsetsTable(session.state().offsets.span()).length(3500), 0);
  EXPECT_EQ(CoordinatesTable(session.state().coordinates.span()).Get(3500), CoordinatesRecord{});
}

}  // namespace
}  // namespace zemlo::testing
