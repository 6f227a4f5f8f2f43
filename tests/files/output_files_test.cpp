// Outputs are created as new regular files and never written through a link, whether the
// link stands at the file's name or at a folder on the way; replacing is only ever over a
// regular file.
#include "files/file_layer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace zemlo::files {
namespace {

namespace fs = std::filesystem;
using zemlo::testing::ReadFileBytes;
using zemlo::testing::TempDir;
using zemlo::testing::WriteFileBytes;

std::vector<std::uint8_t> OutputBytes(const std::string& s) { return {s.begin(), s.end()}; }

const std::vector<std::uint8_t> kNew = OutputBytes("new content");

OutputResult Write(const fs::path& base, const char* name, OutputMode mode,
                   bool make_folders = false, std::string* blocker = nullptr) {
  return WriteOutputFile(base.string().c_str(), name, kNew.data(), kNew.size(), mode,
                         make_folders, blocker);
}

// The entries of a folder, to show that nothing was left behind.
std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A symbolic link; false where the platform (or Wine) does not make one.
bool PlantLink(const fs::path& target, const fs::path& link, bool folder) {
  std::error_code error;
  if (folder) {
    fs::create_directory_symlink(target, link, error);
  } else {
    fs::create_symlink(target, link, error);
  }
  return !error && fs::is_symlink(fs::symlink_status(link));
}

class OutputFiles : public ::testing::Test {
 protected:
  TempDir dir;
  TempDir elsewhere;  // where planted links point
};

TEST_F(OutputFiles, NewFilesOnlyWhereNothingStandsUnlessReplacingAFile) {
  ASSERT_EQ(Write(dir.path(), "a.pcx", OutputMode::kCreateNew), OutputResult::kWritten);
  EXPECT_EQ(ReadFileBytes(dir.path() / "a.pcx"), kNew);

  WriteFileBytes(dir.path() / "old.pcx", OutputBytes("old"));
  std::string blocker;
  EXPECT_EQ(Write(dir.path(), "old.pcx", OutputMode::kCreateNew, false, &blocker),
            OutputResult::kExists);
  EXPECT_EQ(blocker, "old.pcx");
  EXPECT_EQ(ReadFileBytes(dir.path() / "old.pcx"), OutputBytes("old"));
  // Names are matched as the project's files are: ignoring letter case.
  EXPECT_EQ(Write(dir.path(), "OLD.PCX", OutputMode::kCreateNew), OutputResult::kExists);
  EXPECT_EQ(ReadFileBytes(dir.path() / "old.pcx"), OutputBytes("old"));

  EXPECT_EQ(Write(dir.path(), "OLD.PCX", OutputMode::kReplace), OutputResult::kWritten);
  EXPECT_EQ(ReadFileBytes(dir.path() / "old.pcx"), kNew);
  // A leftover temporary of a killed replace does not stand in the way and is not left.
  WriteFileBytes(dir.path() / "a.pcx.zgl-out", OutputBytes("half"));
  EXPECT_EQ(Write(dir.path(), "a.pcx", OutputMode::kReplace), OutputResult::kWritten);
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"a.pcx", "old.pcx"}));

  // A folder is never replaced.
  fs::create_directory(dir.path() / "folder.pcx");
  EXPECT_EQ(Write(dir.path(), "folder.pcx", OutputMode::kReplace), OutputResult::kExists);
  EXPECT_TRUE(fs::is_empty(dir.path() / "folder.pcx"));

  EXPECT_EQ(ProbeOutput(dir.path().string().c_str(), "old.pcx"), OutputState::kFile);
  EXPECT_EQ(ProbeOutput(dir.path().string().c_str(), "folder.pcx"), OutputState::kOther);
  EXPECT_EQ(ProbeOutput(dir.path().string().c_str(), "none.pcx"), OutputState::kMissing);
  EXPECT_EQ(ProbeOutput(dir.path().string().c_str(), "none/x.pcx"), OutputState::kMissing);
}

TEST_F(OutputFiles, FoldersOnTheWayAreMadeOnlyWhenAskedAndNamesStayRelative) {
  EXPECT_EQ(Write(dir.path(), "pcx\\sub/x.pcx", OutputMode::kCreateNew), OutputResult::kFailed);
  EXPECT_FALSE(fs::exists(dir.path() / "pcx"));
  EXPECT_EQ(Write(dir.path(), "pcx\\sub/./x.pcx", OutputMode::kCreateNew, true),
            OutputResult::kWritten);
  EXPECT_EQ(ReadFileBytes(dir.path() / "pcx" / "sub" / "x.pcx"), kNew);
  EXPECT_EQ(MakeOutputFolder(dir.path().string().c_str(), "IFF\\3\\0\\0"), OutputResult::kWritten);
  EXPECT_EQ(MakeOutputFolder(dir.path().string().c_str(), "IFF\\3\\0\\0"), OutputResult::kWritten);
  EXPECT_TRUE(fs::is_directory(dir.path() / "IFF" / "3" / "0" / "0"));
  // ".." reaches the folder above.
  EXPECT_EQ(Write(dir.path() / "pcx", "sub\\..\\up.pcx", OutputMode::kCreateNew),
            OutputResult::kWritten);
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "pcx" / "up.pcx"));

  // A file where a folder should be.
  std::string blocker;
  EXPECT_EQ(Write(dir.path(), "pcx/up.pcx/x.pcx", OutputMode::kCreateNew, true, &blocker),
            OutputResult::kExists);
  EXPECT_NE(blocker.find("up.pcx"), std::string::npos) << blocker;

  for (const char* name : {"", "/abs.pcx", "\\abs.pcx", "pcx/.."}) {
    EXPECT_EQ(Write(dir.path(), name, OutputMode::kCreateNew, true), OutputResult::kFailed)
        << name;
  }
  EXPECT_EQ(Write(dir.path() / "missing", "x.pcx", OutputMode::kCreateNew, true),
            OutputResult::kFailed);
}

TEST_F(OutputFiles, ALinkAtTheNameIsNeverWrittenThrough) {
  const fs::path target = elsewhere.path() / "user.txt";
  WriteFileBytes(target, OutputBytes("the user's file"));
  if (!PlantLink(target, dir.path() / "p.pcx", false)) {
    GTEST_SKIP() << "no symbolic links here";
  }
  for (const OutputMode mode : {OutputMode::kCreateNew, OutputMode::kReplace}) {
    std::string blocker;
    EXPECT_EQ(Write(dir.path(), "p.pcx", mode, true, &blocker), OutputResult::kLinkInTheWay);
    EXPECT_EQ(blocker, "p.pcx");
  }
  EXPECT_EQ(ReadFileBytes(target), OutputBytes("the user's file"));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir.path() / "p.pcx")));
  EXPECT_EQ(ProbeOutput(dir.path().string().c_str(), "p.pcx"), OutputState::kLink);

  // A dangling link would make its target.
  const fs::path missing = elsewhere.path() / "made.html";
  ASSERT_TRUE(PlantLink(missing, dir.path() / "index.html", false));
  for (const OutputMode mode : {OutputMode::kCreateNew, OutputMode::kReplace}) {
    EXPECT_EQ(Write(dir.path(), "index.html", mode), OutputResult::kLinkInTheWay);
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(missing)));
  EXPECT_EQ(Entries(elsewhere.path()), (std::vector<std::string>{"user.txt"}));
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"index.html", "p.pcx"}));
}

TEST_F(OutputFiles, ALinkAtAFolderOnTheWayIsNeverFollowed) {
  if (!PlantLink(elsewhere.path(), dir.path() / "pcx", true)) {
    GTEST_SKIP() << "no symbolic links here";
  }
  fs::create_directory(dir.path() / "IFF");
  ASSERT_TRUE(PlantLink(elsewhere.path(), dir.path() / "IFF" / "3", true));
  for (const OutputMode mode : {OutputMode::kCreateNew, OutputMode::kReplace}) {
    for (const bool make : {false, true}) {
      std::string blocker;
      EXPECT_EQ(Write(dir.path(), "PCX\\p3_0_0_0.pcx", mode, make, &blocker),
                OutputResult::kLinkInTheWay);
      EXPECT_EQ(blocker, "pcx");
      EXPECT_EQ(Write(dir.path(), "IFF/3/0/x.pcx", mode, make, &blocker),
                OutputResult::kLinkInTheWay);
      std::replace(blocker.begin(), blocker.end(), '\\', '/');
      EXPECT_EQ(blocker, "IFF/3") << "the link, named below the base";
    }
  }
  std::string blocker;
  EXPECT_EQ(MakeOutputFolder(dir.path().string().c_str(), "IFF\\3\\0\\0", &blocker),
            OutputResult::kLinkInTheWay);
  EXPECT_EQ(ProbeOutput(dir.path().string().c_str(), "pcx/p3_0_0_0.pcx"), OutputState::kLink);
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));

  // The base is the user's and may itself be a link.
  EXPECT_EQ(Write(dir.path() / "pcx", "p.pcx", OutputMode::kCreateNew), OutputResult::kWritten);
  EXPECT_EQ(ReadFileBytes(elsewhere.path() / "p.pcx"), kNew);
}

}  // namespace
}  // namespace zemlo::files
