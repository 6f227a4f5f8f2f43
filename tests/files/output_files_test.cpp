// Outputs are created as new regular files and never written through a link, whether the
// link stands at the file's name or at a folder on the way; replacing is only ever over a
// regular file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "files/file_layer.h"
#include "support/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#endif

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
  return WriteOutputFile(base.string().c_str(), name, kNew.data(), kNew.size(), mode, make_folders,
                         blocker);
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

enum class Planted {
  kNone,  // no link can be made here
  kLink,  // a link the platform shows as one
  kUnix,  // under Wine: a Unix link, as a user's shell plants it beside the program
};

// Under Wine a Windows program cannot make a symbolic link, but Wine starts Unix programs:
// ln plants one the way a user would. Wine shows such a link to a folder as a reparse point,
// and one to a file as the file itself (a dangling one as nothing).
bool PlantUnixLink(const fs::path& target, const fs::path& link) {
#if defined(_WIN32)
  using Spawn = long(__cdecl*)(char* const*, int);
  using UnixName = char*(__cdecl*)(const wchar_t*);
  const auto spawn = reinterpret_cast<Spawn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll"), "__wine_unix_spawnvp")));
  const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
  if (spawn == nullptr || unix_name == nullptr) return false;
  std::string names[2];
  const fs::path* paths[2] = {&target, &link};
  for (int i = 0; i < 2; ++i) {
    char* name = unix_name(paths[i]->wstring().c_str());
    if (name == nullptr) return false;
    names[i] = name;
    HeapFree(GetProcessHeap(), 0, name);
  }
  char program[] = "/bin/ln", option[] = "-s";
  char* const argv[] = {program, option, names[0].data(), names[1].data(), nullptr};
  return spawn(argv, 1) == 0;
#else
  (void)target;
  (void)link;
  return false;
#endif
}

Planted PlantLink(const fs::path& target, const fs::path& link, bool folder) {
  std::error_code error;
  if (folder) {
    fs::create_directory_symlink(target, link, error);
  } else {
    fs::create_symlink(target, link, error);
  }
  if (!error && fs::is_symlink(fs::symlink_status(link))) return Planted::kLink;
  return PlantUnixLink(target, link) ? Planted::kUnix : Planted::kNone;
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
    EXPECT_EQ(Write(dir.path(), name, OutputMode::kCreateNew, true), OutputResult::kFailed) << name;
  }
  EXPECT_EQ(Write(dir.path() / "missing", "x.pcx", OutputMode::kCreateNew, true),
            OutputResult::kFailed);
}

TEST_F(OutputFiles, ALinkAtTheNameIsNeverWrittenThrough) {
  const fs::path target = elsewhere.path() / "user.txt";
  WriteFileBytes(target, OutputBytes("the user's file"));
  const fs::path missing = elsewhere.path() / "made.html";
  const Planted planted = PlantLink(target, dir.path() / "p.pcx", false);
  if (planted == Planted::kNone) GTEST_SKIP() << "no symbolic links here";
  if (planted == Planted::kUnix) {
    // Wine cannot show these links, so they cannot be named; still nothing goes through
    // them: a new file finds the name taken, and a replaced one replaces the link itself.
    ASSERT_TRUE(PlantUnixLink(missing, dir.path() / "index.html"));
    for (const OutputMode mode : {OutputMode::kCreateNew, OutputMode::kReplace}) {
      EXPECT_NE(Write(dir.path(), "index.html", mode), OutputResult::kWritten);
      Write(dir.path(), "p.pcx", mode);
    }
    EXPECT_EQ(Write(dir.path(), "p.pcx", OutputMode::kCreateNew), OutputResult::kExists);
    EXPECT_EQ(ReadFileBytes(target), OutputBytes("the user's file"));
    EXPECT_EQ(Entries(elsewhere.path()), (std::vector<std::string>{"user.txt"}));
    return;
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
  ASSERT_EQ(PlantLink(missing, dir.path() / "index.html", false), Planted::kLink);
  for (const OutputMode mode : {OutputMode::kCreateNew, OutputMode::kReplace}) {
    EXPECT_EQ(Write(dir.path(), "index.html", mode), OutputResult::kLinkInTheWay);
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(missing)));
  EXPECT_EQ(Entries(elsewhere.path()), (std::vector<std::string>{"user.txt"}));
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"index.html", "p.pcx"}));
}

TEST_F(OutputFiles, ALinkAtAFolderOnTheWayIsNeverFollowed) {
  const Planted planted = PlantLink(elsewhere.path(), dir.path() / "pcx", true);
  if (planted == Planted::kNone) GTEST_SKIP() << "no symbolic links here";
  fs::create_directory(dir.path() / "IFF");
  ASSERT_EQ(PlantLink(elsewhere.path(), dir.path() / "IFF" / "3", true), planted);
  for (const OutputMode mode : {OutputMode::kCreateNew, OutputMode::kReplace}) {
    for (const bool make : {false, true}) {
      std::string blocker;
      EXPECT_EQ(Write(dir.path(), "PCX\\p3_0_0_0.pcx", mode, make, &blocker),
                OutputResult::kLinkInTheWay);
      // Named as found on disk (Windows keeps the case the name was given in).
      std::transform(blocker.begin(), blocker.end(), blocker.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
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
