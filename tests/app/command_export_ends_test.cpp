// However an export ends, early or not, it leaves the project's folder the current one and
// the library free for the next command.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/commands.h"
#include "app/export_command.h"
#include "app/folder_visit.h"
#include "app/session.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;

TEST(FolderVisit, GoesBackHomeOnceWhereverItWent) {
  TempDir home, away;
  ScopedCurrentDir current(home.path());
  {
    FolderVisit visit;
    ASSERT_TRUE(visit.Enter(away.path().string()));
    EXPECT_EQ(fs::current_path(), away.path());
  }
  EXPECT_EQ(fs::current_path(), home.path());
  {
    FolderVisit visit;
    ASSERT_TRUE(visit.Enter(away.path().string()));
    visit.Leave();
    EXPECT_EQ(fs::current_path(), home.path());
    // Back home, the visit is over: a folder entered since stays current past its end.
    fs::current_path(away.path());
  }
  EXPECT_EQ(fs::current_path(), away.path());
  fs::current_path(home.path());
  {
    FolderVisit visit;
    EXPECT_FALSE(visit.Enter((away.path() / "missing").string()));
    EXPECT_EQ(fs::current_path(), home.path());
    fs::current_path(away.path());
  }
  EXPECT_EQ(fs::current_path(), home.path());
  {
    // A visit that never went anywhere changes nothing at its end.
    FolderVisit visit;
    fs::current_path(away.path());
  }
  EXPECT_EQ(fs::current_path(), away.path());
}

class ExportEnds : public ::testing::Test {
 protected:
  void SetUp() override {
    lib.AddPcx(3000, UnmaskedShape(1));
    lib.Run();
  }
  ExportOutcome ExportInto(const fs::path& into, bool replace) {
    ExportRequest request;
    request.into = into.string();
    request.replace = replace;
    return ExportZgl(session, "project.zgl", "project.zgl", request);
  }
  // Another session can take the library.
  bool LibraryFree() {
    RecordingPort other_port;
    Session other(other_port);
    const bool loaded = LoadProject(other, "project.zgl", "project.zgl", ProjectUse::kShow);
    ReleaseLibrary(other);
    return loaded;
  }
  TestLibrary lib;
  RecordingPort port;
  Session session{port};
  TempDir target;
};

TEST_F(ExportEnds, AFolderThatCannotBeMadeOrEntered) {
  WriteFileBytes(target.path() / "file", {'x'});
  const ExportOutcome outcome = ExportInto(target.path() / "file" / "export", true);
  EXPECT_FALSE(outcome.started);
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_NE(port.messages[0].text.find("cannot be made or entered"), std::string::npos);
  EXPECT_EQ(fs::current_path(), lib.dir.path());
  EXPECT_TRUE(LibraryFree());
}

TEST_F(ExportEnds, ARefusalAfterTheFolderWasEntered) {
  ASSERT_EQ(ExportInto(target.path(), true).written, 2000);
  EXPECT_EQ(fs::current_path(), lib.dir.path());
  const ExportOutcome outcome = ExportInto(target.path(), false);
  EXPECT_FALSE(outcome.started);
  EXPECT_NE(outcome.refused.find("p3_0_0_0.pcx"), std::string::npos) << outcome.refused;
  EXPECT_EQ(fs::current_path(), lib.dir.path());
  EXPECT_TRUE(LibraryFree());
}

TEST_F(ExportEnds, APatternThatLeavesTheFolder) {
  AppendToInfo(lib, "\nFPCX p0_0_0_0.d/../../q.pcx \n");
  EXPECT_FALSE(ExportInto(target.path(), true).started);
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_NE(port.messages[0].text.find("does not stay inside"), std::string::npos);
  EXPECT_EQ(fs::current_path(), lib.dir.path());
  EXPECT_TRUE(LibraryFree());
  EXPECT_TRUE(fs::is_empty(target.path()));
}

}  // namespace
}  // namespace zemlo::testing
