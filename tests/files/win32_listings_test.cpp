// The Windows half answers missing names from kept folder listings: every answer must be the
// one the system gives, whoever changed the folder and however the name is written.
#if defined(_WIN32)
#include "files/win32_listings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "files/file_layer.h"
#include "files/win32_problems.h"
#include "support/temp_dir.h"

namespace zemlo::files {
namespace {

namespace fs = std::filesystem;
using zemlo::testing::ScopedCurrentDir;
using zemlo::testing::TempDir;
using zemlo::testing::WriteFileBytes;

const std::vector<std::uint8_t> kByte = {'x'};

// The times of the folder "src", put back after a change as media that keep no folder times
// would leave them.
class SrcFolderTimes {
 public:
  bool Get() {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA("src", GetFileExInfoStandard, &data)) return false;
    created_ = data.ftCreationTime;
    written_ = data.ftLastWriteTime;
    return true;
  }
  void Put() const {
    const HANDLE folder = CreateFileA("src", FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(folder, &created_, nullptr, &written_));
    CloseHandle(folder);
    WIN32_FILE_ATTRIBUTE_DATA now{};
    ASSERT_TRUE(GetFileAttributesExA("src", GetFileExInfoStandard, &now));
    EXPECT_EQ(CompareFileTime(&now.ftLastWriteTime, &written_), 0);
  }

 private:
  FILETIME created_{};
  FILETIME written_{};
};

class Win32Listings : public ::testing::Test {
 protected:
  // Lets every folder made so far settle, so that its listing is kept once read.
  static void Settle() {
    std::this_thread::sleep_for(std::chrono::duration<double>(kListingSettleSeconds) +
                                std::chrono::milliseconds(30));
  }

  // Asks after missing names in `folder` until its listing is read; false if it never is.
  static bool ReadListingOf(const std::string& folder) {
    const std::uint64_t before = ListingsRead();
    for (int i = 0; i < 16 && ListingsRead() == before; ++i) {
      const std::string name = folder + "\\absent" + std::to_string(i) + ".pcx";
      if (Exists(name.c_str())) return false;
    }
    return ListingsRead() == before + 1;
  }

  // What the system itself says of the name: missing or not.
  static bool SystemSees(const std::string& name) {
    return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  TempDir dir;
  ScopedCurrentDir cwd{dir.path()};
};

TEST_F(Win32Listings, AKeptListingAnswersMissingNamesAndFollowsTheLayersOwnChanges) {
  fs::create_directories(dir.path() / "src");
  WriteFileBytes(dir.path() / "src" / "A.PCX", kByte);
  // Each change through the layer is seen at once, even where the folder's times stay as
  // they were (a change within the same tick of its clock, or media that do not move them).
  const auto change_unseen_in_times = [&](const auto& change) {
    Settle();
    ASSERT_TRUE(ReadListingOf("src"));
    SrcFolderTimes before;
    ASSERT_TRUE(before.Get());
    change();
    before.Put();
  };
  change_unseen_in_times([] {
    ASSERT_EQ(WriteOutputFile(".", "src\\b.pcx", kByte.data(), kByte.size(), OutputMode::kCreateNew,
                              false),
              OutputResult::kWritten);
  });
  EXPECT_TRUE(Exists("src\\b.pcx"));
  change_unseen_in_times([] { ASSERT_TRUE(RenameFile("src\\b.pcx", "src\\c.pcx")); });
  EXPECT_FALSE(Exists("src\\b.pcx"));
  EXPECT_TRUE(Exists("src\\C.pcx"));
  change_unseen_in_times([] { ASSERT_TRUE(ReplaceFileAtomically("src\\c.pcx", "src\\e.pcx")); });
  EXPECT_TRUE(Exists("src\\e.pcx"));
  change_unseen_in_times([] { ASSERT_TRUE(RemoveFile("src\\e.pcx")); });
  EXPECT_FALSE(Exists("src\\e.pcx"));
  change_unseen_in_times([] {
    auto opened = OpenFile("src\\d.pcx", "wb");
    ASSERT_TRUE(opened);
    std::fclose(*opened);
  });
  EXPECT_TRUE(Exists("src\\D.PCX"));
  change_unseen_in_times([] { ASSERT_TRUE(MakeDirectory("src\\inner")); });
  EXPECT_TRUE(Exists("src\\inner"));

  // With no change since, the kept listing answers.
  Settle();
  ASSERT_TRUE(ReadListingOf("src"));
  const std::uint64_t read = ListingsRead();
  EXPECT_FALSE(Exists("src\\b.pcx"));
  EXPECT_TRUE(Exists("src\\a.pcx"));  // ignoring case, as the system matches
  EXPECT_TRUE(Exists("src\\d.pcx"));
  EXPECT_EQ(ListingsRead(), read);
}

TEST_F(Win32Listings, AnotherProgramsChangeIsSeenByTheFoldersTimes) {
  fs::create_directories(dir.path() / "src");
  WriteFileBytes(dir.path() / "src" / "a.pcx", kByte);
  Settle();
  ASSERT_TRUE(ReadListingOf("src"));
  EXPECT_FALSE(Exists("src\\new.pcx"));
  const auto opened = [](const char* name) {
    auto file = OpenFile(name, "rb");
    if (file) std::fclose(*file);
    return file ? FileProblem::kNone : file.error();
  };
  EXPECT_EQ(opened("src\\new.pcx"), FileProblem::kNoSuchFile);
  // Made behind the layer's back, as another program would.
  WriteFileBytes(dir.path() / "src" / "new.pcx", kByte);
  EXPECT_TRUE(Exists("src\\new.pcx"));
  EXPECT_TRUE(Exists("src\\NEW.PCX"));
  EXPECT_EQ(opened("src\\New.pcx"), FileProblem::kNone);
  fs::remove(dir.path() / "src" / "new.pcx");
  EXPECT_FALSE(Exists("src\\new.pcx"));
  EXPECT_EQ(opened("src\\new.pcx"), FileProblem::kNoSuchFile);
}

TEST_F(Win32Listings, OpeningMissingFilesKeepsTheListingLikeLookingThemUp) {
  fs::create_directories(dir.path() / "src");
  WriteFileBytes(dir.path() / "src" / "a.pcx", kByte);
  Settle();
  const std::uint64_t before = ListingsRead();
  for (int i = 0; i < 8; ++i) {
    const std::string name = "src\\gone" + std::to_string(i) + ".pcx";
    const auto file = OpenFile(name.c_str(), "rb");
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error(), FileProblem::kNoSuchFile);
  }
  EXPECT_EQ(ListingsRead(), before + 1);
  const auto in_missing_folder = OpenFile("lbm\\i3.lbm", "rb");
  ASSERT_FALSE(in_missing_folder);
  EXPECT_EQ(in_missing_folder.error(), FileProblem::kNoSuchFolder);
  auto present = OpenFile("src\\A.PCX", "rb");
  ASSERT_TRUE(present);
  std::fclose(*present);
}

TEST_F(Win32Listings, NamesTheListingCannotDecideAreAnsweredByTheSystem) {
  fs::create_directories(dir.path() / "src");
  WriteFileBytes(dir.path() / "src" / "a long source name.pcx", kByte);
  WriteFileBytes(dir.path() / "src" / "plain.pcx", kByte);
  Settle();
  ASSERT_TRUE(ReadListingOf("src"));
  char short_name[MAX_PATH] = {};
  const DWORD length = GetShortPathNameA("src\\a long source name.pcx", short_name, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::vector<std::string> names = {short_name,
                                    "src\\a long source name.pcx",
                                    "src\\plain.pcx.",
                                    "src\\plain.pcx ",
                                    "src\\NUL",
                                    "src\\nul.pcx",
                                    "src\\com1",
                                    "src\\plain.pcx::$DATA",
                                    "src/plain.pcx",
                                    "src\\.\\plain.pcx",
                                    "src\\..\\src\\plain.pcx",
                                    "src\\pl*.pcx",
                                    "SRC\\PLAIN.PCX",
                                    "src\\missing.pcx",
                                    "src\\a long source name.pc"};
  for (const std::string& name : names) {
    EXPECT_EQ(Exists(name.c_str()), SystemSees(name)) << name;
  }
}

TEST_F(Win32Listings, AFolderWithNamesBeyondAsciiIsAlwaysAskedOfTheSystem) {
  // The system folds the case of such names by its own table, which may match a plain name.
  fs::create_directories(dir.path() / "src");
  WriteFileBytes(dir.path() / "src" / fs::path(u8"\u0131.pcx"), kByte);  // a dotless i
  WriteFileBytes(dir.path() / "src" / "a.pcx", kByte);
  Settle();
  ASSERT_TRUE(ReadListingOf("src"));
  // Added behind the layer's back with the folder's times put back: only asking the system
  // finds it.
  SrcFolderTimes before;
  ASSERT_TRUE(before.Get());
  WriteFileBytes(dir.path() / "src" / "new.pcx", kByte);
  before.Put();
  EXPECT_TRUE(Exists("src\\new.pcx"));
  EXPECT_EQ(Exists("src\\I.pcx"), SystemSees("src\\I.pcx"));
}

TEST_F(Win32Listings, ANameInAMissingFolderIsAMissingFolder) {
  WriteFileBytes(dir.path() / "file.pcx", kByte);
  EXPECT_FALSE(Exists("lbm\\i3.lbm"));
  EXPECT_EQ(LastProblem(), FileProblem::kNoSuchFolder);
  EXPECT_EQ(GetFileAttributesA("lbm\\i3.lbm"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(AttributesOf("lbm\\i3.lbm"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // A file where a folder is expected is the system's to answer.
  EXPECT_EQ(Exists("file.pcx\\x.pcx"), SystemSees("file.pcx\\x.pcx"));
}

}  // namespace
}  // namespace zemlo::files
#endif
