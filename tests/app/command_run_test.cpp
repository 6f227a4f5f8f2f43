// The commands that load a project and start, stop and end the two runs, through a Session.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/commands.h"
#include "app/session.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

TEST(CommandProject, UnreadableInfoFileIsNamedByTheChosenName) {
  TestLibrary lib;
  RecordingPort port;
  Session session(port);
  EXPECT_FALSE(StartCreateZgl(session, "missing/nothing.zgl", "nothing.zgl"));
  EXPECT_EQ(port.MessageTexts(), (std::vector<std::string>{"Could not read file nothing.zgl!"}));
  EXPECT_FALSE(session.WorkerRunning());
  EXPECT_EQ(port.runs_started, 0);  // nothing was switched
}

TEST(CommandProject, RefusedProjectWritesNothingAndKeepsTheSettings) {
  TestLibrary lib;
  lib.AddPcx(3000, UnmaskedShape(1));
  RecordingPort port;
  Session session(port);
  session.settings().BLKB = 50;
  AppendToInfo(lib, "\nNSIZ 30000 \n");
  EXPECT_FALSE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_EQ(session.settings().BLKB, 50);
  EXPECT_FALSE(lib.Exists("coords.dat"));
  EXPECT_FALSE(lib.Exists("offsets.dat"));
}

TEST(CommandProject, MissingCoordinatesFileDependsOnTheCommand) {
  TestLibrary lib;
  RecordingPort port;
  Session session(port);
  // Earlier contents of the table are zeroed for a new coordinates file.
  CoordinatesTable(session.state().coordinates.span()).Set(3000, {1, 2, 3, 4});
  EXPECT_TRUE(LoadProject(session, "project.zgl", "project.zgl", ProjectUse::kCreate));
  EXPECT_EQ(
      port.MessageTexts(),
      (std::vector<std::string>{"Could not read coordinates file coords.dat. Creating new one."}));
  EXPECT_EQ(CoordinatesTable(session.state().coordinates.span()).Get(3000), CoordinatesRecord{});

  port.Clear();
  EXPECT_FALSE(ShowZgl(session, "project.zgl", "project.zgl"));
  EXPECT_EQ(port.MessageTexts(),
            (std::vector<std::string>{"Coordinates-File coords.dat not found!"}));
  EXPECT_EQ(session.state().window_mode.load(), WindowMode::kViewer);
  EXPECT_FALSE(lib.Exists("IFF"));
}

TEST(CommandRun, CreateRunsOverTheFixedRangeThenTheCheckFindsTheMaskedIcons) {
  TestLibrary lib;
  for (int icon : {3000, 3001, 3999}) lib.AddPcx(icon, UnmaskedShape(icon % 7));
  for (int icon : {4000, 4999}) lib.AddPcx(icon, XMaskedShape(icon % 7));
  lib.AddPcx(2999, UnmaskedShape(1));  // outside the range: never converted
  AppendToInfo(lib, "\nDSTA 0 \nDEND 100 \n");
  RecordingPort port;
  Session session(port);
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  EXPECT_FALSE(session.WorkerRunning());
  EXPECT_EQ(session.settings().DSTA, 3000);
  EXPECT_EQ(session.settings().DEND, 4999);
  EXPECT_EQ(session.state().current_icon.load(), 5000);
  EXPECT_EQ(session.state().window_mode.load(), WindowMode::kRun);
  // The new library's coordinates file is announced, then the front end learns the run started;
  // the run's end gives the idle states.
  const std::vector<std::string> start = {
      "message: ZCreate: Could not read coordinates file coords.dat. Creating new one.",
      "run started"};
  ASSERT_GE(port.events.size(), start.size());
  EXPECT_EQ(std::vector<std::string>(port.events.begin(), port.events.begin() + 2), start);
  EXPECT_EQ(port.events.back(), "run ended");
  EXPECT_EQ(port.runs_started, 1);
  EXPECT_EQ(port.runs_ended, 1);
  EXPECT_EQ(port.messages.size(), 1u);
  EXPECT_TRUE(lib.BlockEntry(2999).empty());
  EXPECT_FALSE(lib.BlockEntry(4999).empty());

  port.Clear();
  ASSERT_TRUE(StartIntegrityCheck(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  EXPECT_EQ(port.MessageTexts(), (std::vector<std::string>{"Character icon 4000 is masked",
                                                           "Character icon 4999 is masked"}));
  EXPECT_EQ(port.titles.front(), "ZCreate - Integrity check started (all ZGLs) - 20000");
  EXPECT_EQ(session.state().current_icon.load(), 5000);
}

// Titles take a while, so a run is still working when the test acts.
class SlowPort : public RecordingPort {
 public:
  void SetTitle(std::string_view text) override {
    RecordingPort::SetTitle(text);
    titles_seen.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::atomic<int> titles_seen{0};
};

void WaitForTitles(const SlowPort& port, int count) {
  while (port.titles_seen.load() < count) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(CommandRun, StopEndsTheRunAfterTheIconInHand) {
  TestLibrary lib;
  for (int icon = 3000; icon < 3300; icon += 3) lib.AddPcx(icon, UnmaskedShape(icon % 11));
  SlowPort port;
  Session session(port);
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  EXPECT_FALSE(StartCreateZgl(session, "project.zgl", "project.zgl"));  // one worker at a time
  WaitForTitles(port, 20);
  StopRun(session);
  session.WaitForWorker();
  const int stopped_at = session.state().current_icon.load();
  EXPECT_LT(stopped_at, 5000);
  EXPECT_FALSE(session.state().stop_request.load());
  EXPECT_FALSE(lib.Exists("BLTEMP"));
  EXPECT_TRUE(lib.Exists("coords.dat"));
  EXPECT_EQ(port.runs_ended, 1);
  // What was stored loads back; the check agrees with the offsets file.
  lib.settings = session.settings();
  ASSERT_TRUE(ReadCoordinatesFile(lib.settings, lib.state));
  EXPECT_TRUE(lib.Load(3000) == UnmaskedShape(3000 % 11));
  port.Clear();
  ASSERT_TRUE(StartIntegrityCheck(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  EXPECT_TRUE(port.messages.empty()) << port.messages.front().text;
}

TEST(CommandRun, DestroyingTheSessionStopsAndJoinsTheWorker) {
  TestLibrary lib;
  for (int icon = 3000; icon < 3200; icon += 2) lib.AddPcx(icon, UnmaskedShape(icon % 5));
  SlowPort port;
  {
    Session session(port);
    ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
    WaitForTitles(port, 10);
  }
  // The worker has ended: its last act was to report the run's end, and its files are whole.
  EXPECT_EQ(port.runs_ended, 1);
  EXPECT_LT(port.titles_seen.load(), 2000);
  EXPECT_FALSE(lib.Exists("BLTEMP"));
  EXPECT_TRUE(lib.Exists("coords.dat"));
  const auto table = OffsetsOnDisk(lib);
  const OffsetsTable offsets(
      std::span<std::uint8_t>(const_cast<std::uint8_t*>(table.data()), table.size()));
  EXPECT_TRUE(BlockIsContiguous(offsets, 30, 100));
  EXPECT_EQ(std::filesystem::file_size(lib.BlockPath(30)), [&] {
    std::uintmax_t sum = 0;
    for (int n = 3000; n < 3100; ++n) sum += static_cast<std::uintmax_t>(offsets.length(n));
    return sum;
  }());
}

TEST(CommandRun, ProjectFolderBecomesCurrent) {
  TestLibrary lib;
  lib.AddPcx(3000, UnmaskedShape(1));
  const std::string project = (lib.dir.path() / "project.zgl").string();
  {
    ScopedCurrentDir elsewhere(std::filesystem::temp_directory_path());
    const auto name = EnterProjectFolder(project.c_str());
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, "project.zgl");
    EXPECT_EQ(std::filesystem::current_path(), lib.dir.path());
    EXPECT_EQ(ChosenName(project.c_str()), "project.zgl");
    EXPECT_EQ(ChosenName("C:\\games\\set.zgl"), "set.zgl");
    EXPECT_FALSE(EnterProjectFolder((lib.dir.path() / "nowhere" / "x.zgl").string().c_str()));
  }
}

// A block file that cannot be made stops the session's run with the box the window has
// always shown for it, told by the front end from the store's problem.
TEST(CommandRun, TheStoresProblemReachesTheUserInTheWindowsWords) {
  TestLibrary lib({.dblk = 2});
  lib.AddPcx(3000, UnmaskedShape(1));
  lib.Run(3000, 3000);
  const auto offsets_before = ReadFileBytes(lib.dir.path() / "offsets.dat");
  std::filesystem::rename(lib.dir.path() / "blk", lib.dir.path() / "blk-away");
  RecordingPort port;
  Session session(port);
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  const std::string not_created =
      "Block file blk\\b30.blk could not be created. The run stops; nothing was truncated and "
      "the block keeps its previous content.";
  const auto texts = port.MessageTexts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), not_created), 1)
      << ::testing::PrintToString(texts);
  EXPECT_EQ(ReadFileBytes(lib.dir.path() / "offsets.dat"), offsets_before);
}

// The window's open dialog: a folder that cannot be entered stops the command with a box
// naming the chosen file, and the folder current before stays so.
TEST(CommandRun, AProjectFolderThatCannotBeEnteredStopsTheWindowsCommand) {
  TestLibrary lib;
  RecordingPort port;
  ScopedCurrentDir start(lib.dir.path());
  const std::string missing = (lib.dir.path() / "nowhere" / "x.zgl").string();
  EXPECT_FALSE(EnterProjectFolderOrWarn(port, missing.c_str(), "x.zgl"));
  EXPECT_EQ(port.MessageTexts(), std::vector<std::string>{"Could not enter the folder of x.zgl!"});
  EXPECT_EQ(std::filesystem::current_path(), lib.dir.path());

  const std::string project = (lib.dir.path() / "project.zgl").string();
  ScopedCurrentDir elsewhere(std::filesystem::temp_directory_path());
  port.Clear();
  EXPECT_TRUE(EnterProjectFolderOrWarn(port, project.c_str(), "project.zgl"));
  EXPECT_TRUE(port.messages.empty());
  EXPECT_EQ(std::filesystem::current_path(), lib.dir.path());
}

}  // namespace
}  // namespace zemlo::testing

namespace zemlo::testing {
namespace {

TEST(CommandRun, LostCoordinatesFileConvertsEverySourceAgain) {
  TestLibrary lib({.dblk = 2, .darc = 1});
  lib.AddPcx(3000, UnmaskedShape(1, 300, 200));
  lib.AddPcx(3001, XMaskedShape(2));
  RecordingPort port;
  Session session(port);
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  std::filesystem::remove(lib.dir.path() / "coords.dat");
  port.Clear();
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  for (const auto& title : port.titles) EXPECT_EQ(title.find("(skipped)"), std::string::npos);
  EXPECT_EQ(session.settings().DARC, 1);  // the project's own setting is kept
  ASSERT_TRUE(ReadCoordinatesFile(lib.settings, lib.state));
  EXPECT_TRUE(lib.Load(3000) == UnmaskedShape(1, 300, 200));
  EXPECT_TRUE(lib.Load(3001) == XMaskedShape(2));
  // With the coordinates file back, the archive test skips again.
  if (!ArchiveAttributeCanBeCleared(lib)) GTEST_SKIP() << "no archive attribute here";
  port.Clear();
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  EXPECT_NE(std::find(port.titles.begin(), port.titles.end(),
                      "ZCreate - sep\\s3_0_0_0.zgi (skipped) - 0"),
            port.titles.end());
}

}  // namespace
}  // namespace zemlo::testing
