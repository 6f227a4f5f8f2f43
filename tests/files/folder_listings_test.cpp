// The POSIX half finds names ignoring case through kept folder listings: they must answer as
// reading the folder would, whoever changed it.
#if !defined(_WIN32)
#include "files/folder_listings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "files/file_layer.h"
#include "support/temp_dir.h"

namespace zemlo::files {
namespace {

namespace fs = std::filesystem;
using zemlo::testing::ScopedCurrentDir;
using zemlo::testing::TempDir;
using zemlo::testing::WriteFileBytes;

const std::vector<std::uint8_t> kByte = {'x'};

class FolderListings : public ::testing::Test {
 protected:
  // Lets every folder made so far settle: their listings are kept from then on.
  static void Settle() {
    std::this_thread::sleep_for(std::chrono::duration<double>(kSettleSeconds) +
                                std::chrono::milliseconds(20));
  }

  TempDir dir;
  ScopedCurrentDir cwd{dir.path()};
};

TEST_F(FolderListings, SmallFolderIsKeptAndFollowsEveryChange) {
  fs::create_directories(dir.path() / "Src");
  WriteFileBytes(dir.path() / "Src" / "A.PCX", kByte);
  WriteFileBytes(dir.path() / "Src" / "b.pcx", kByte);
  Settle();
  const std::uint64_t before = FolderListingsRead();
  EXPECT_EQ(Resolve("src\\a.pcx"), "Src/A.PCX");
  EXPECT_EQ(Resolve("SRC\\B.PCX"), "Src/b.pcx");
  EXPECT_EQ(Resolve("src\\c.pcx"), "Src/c.pcx");
  // The project folder and "Src", each read once.
  EXPECT_EQ(FolderListingsRead() - before, 2u);

  // Another program adds an entry: the folder's times move on, the listing is read again.
  WriteFileBytes(dir.path() / "Src" / "C.Pcx", kByte);
  EXPECT_EQ(Resolve("src\\c.pcx"), "Src/C.Pcx");
  EXPECT_EQ(FolderListingsRead() - before, 3u);

  // Changes through the layer, kept listing or not.
  Settle();
  EXPECT_EQ(Resolve("src\\c.PCX"), "Src/C.Pcx");
  ASSERT_TRUE(RenameFile("src\\a.pcx", "src\\Moved.pcx"));
  EXPECT_EQ(Resolve("SRC\\MOVED.PCX"), "Src/Moved.pcx");
  EXPECT_EQ(Resolve("src\\a.pcx"), "Src/a.pcx");
  ASSERT_TRUE(RemoveFile("src\\B.PCX"));
  EXPECT_EQ(Resolve("src\\B.pcx"), "Src/B.pcx");
  std::FILE* f = OpenFile("src\\New.pcx", "wb").value_or(nullptr);
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(Resolve("SRC\\NEW.PCX"), "Src/New.pcx");
  // A move onto a name found free as written leaves nothing at the source's.
  ASSERT_TRUE(ReplaceFileAtomically("Src\\New.pcx", "Src\\Last.pcx"));
  EXPECT_EQ(Resolve("SRC\\NEW.PCX"), "Src/NEW.PCX");
  EXPECT_EQ(Resolve("SRC\\LAST.PCX"), "Src/Last.pcx");
  EXPECT_TRUE(MakeDirectory("src\\Sub"));
  EXPECT_EQ(Resolve("src\\SUB"), "Src/Sub");
}

// A folder changed a moment ago may change again within the same tick of the clock that
// stamps its times: its listing is not kept, so an entry added right after a lookup is found.
TEST_F(FolderListings, EntryAddedRightAfterALookupIsFound) {
  WriteFileBytes(dir.path() / "other.txt", kByte);
  EXPECT_EQ(Resolve("NEW.TXT"), "NEW.TXT");
  WriteFileBytes(dir.path() / "New.txt", kByte);
  EXPECT_EQ(Resolve("NEW.TXT"), "New.txt");
  EXPECT_TRUE(Exists("new.TXT"));
}

TEST_F(FolderListings, ExactFolderNamesWinOverOtherCases) {
  fs::create_directories(dir.path() / "data");
  fs::create_directories(dir.path() / "DATA");
  WriteFileBytes(dir.path() / "data" / "f.txt", kByte);
  WriteFileBytes(dir.path() / "DATA" / "F.TXT", kByte);
  Settle();
  EXPECT_EQ(Resolve("data\\F.TXT"), "data/f.txt");
  EXPECT_EQ(Resolve("DATA\\f.txt"), "DATA/F.TXT");
  // Neither as written: the smallest in byte order, as for the file.
  EXPECT_EQ(Resolve("Data\\f.Txt"), "DATA/F.TXT");
  // A link that leads nowhere stands at its name as written: taken as it is.
  fs::create_directories(dir.path() / "LNK");
  WriteFileBytes(dir.path() / "LNK" / "x.txt", kByte);
  ASSERT_EQ(::symlink("nowhere", (dir.path() / "lnk").c_str()), 0);
  EXPECT_EQ(Resolve("lnk\\X.TXT"), "lnk/X.TXT");
  EXPECT_EQ(Resolve("Lnk\\X.TXT"), "LNK/x.txt");
  EXPECT_FALSE(Exists("lnk\\x.txt"));
}

// What a failed removal says comes from what resolving saw of the folder on the way.
TEST_F(FolderListings, MissingEntriesSayWhichPartIsMissing) {
  WriteFileBytes(dir.path() / "file.txt", kByte);
  fs::create_directories(dir.path() / "Folder");
  const auto problem = [](const char* name) {
    const FileStatus removed = RemoveFile(name);
    return removed ? FileProblem::kNone : removed.error();
  };
  EXPECT_EQ(problem("folder\\gone.txt"), FileProblem::kNoSuchFile);
  EXPECT_EQ(problem("gone.txt"), FileProblem::kNoSuchFile);
  EXPECT_EQ(problem("nofolder\\gone.txt"), FileProblem::kNoSuchFolder);
  EXPECT_EQ(problem("folder\\nofolder\\gone.txt"), FileProblem::kNoSuchFolder);
  EXPECT_EQ(problem("file.txt\\gone.txt"), FileProblem::kNotAFolder);
  EXPECT_EQ(problem("FILE.TXT\\gone.txt"), FileProblem::kNotAFolder);
  const auto opened = OpenFile("FOLDER\\gone.txt", "rb");
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error(), FileProblem::kNoSuchFile);
}

}  // namespace
}  // namespace zemlo::files
#endif
