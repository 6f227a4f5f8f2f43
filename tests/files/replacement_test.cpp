// A whole file written anew under its temporary name and moved into place: never through a
// link a stranger left at the temporary name, every byte in place, and the files of a commit
// on the disk before it, each system its own way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "files/file_seam.h"
#include "support/temp_dir.h"

namespace zemlo::files {
namespace {

namespace fs = std::filesystem;
using zemlo::testing::ReadFileBytes;
using zemlo::testing::ScopedCurrentDir;
using zemlo::testing::TempDir;
using zemlo::testing::WriteFileBytes;

std::vector<std::uint8_t> Pattern(std::size_t size, int seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + seed);
  return bytes;
}

std::size_t EntriesIn(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

class Replacement : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedCurrentDir cwd{dir.path()};
};

// A folder shared by a stranger may hold a link at the name a replacement is written under
// first: to a file of the user's, to where a new file would be made, or to a folder.
TEST_F(Replacement, ALinkAtTheTemporaryNameIsRemovedNeverWrittenThrough) {
  TempDir outside;
  const fs::path thesis = outside.path() / "thesis.txt";
  const std::vector<std::uint8_t> mine = {'m', 'i', 'n', 'e'};
  WriteFileBytes(thesis, mine);
  std::error_code no_links;
  fs::create_symlink(thesis, dir.path() / "a.zgi.zgl-new", no_links);
  if (no_links) GTEST_SKIP() << "no symbolic links here: " << no_links.message();
  fs::create_symlink(outside.path() / "new.txt", dir.path() / "b.zgi.zgl-new");
  fs::create_directory_symlink(outside.path(), dir.path() / "c.zgi.zgl-new");
  fs::create_symlink(thesis, dir.path() / "d.ofs.zgl-new");

  const auto data = Pattern(5000, 1);
  EXPECT_TRUE(ReplaceWholeFile("a.zgi", data, Durability::kForCommit));
  EXPECT_TRUE(ReplaceWholeFile("b.zgi", data, Durability::kNoFlush));
  EXPECT_TRUE(ReplaceWholeFile("c.zgi", data));
  EXPECT_TRUE(CreateWholeFile("d.ofs", data));
  for (const char* name : {"a.zgi", "b.zgi", "c.zgi", "d.ofs"}) {
    EXPECT_FALSE(fs::is_symlink(dir.path() / name)) << name;
    EXPECT_EQ(ReadFileBytes(dir.path() / name), data) << name;
  }
  EXPECT_EQ(EntriesIn(dir.path()), 4u) << "a temporary or a link left behind";
  EXPECT_EQ(ReadFileBytes(thesis), mine);
  EXPECT_EQ(EntriesIn(outside.path()), 1u) << "a file made where a link pointed";
}

TEST_F(Replacement, ALeftoverGivesWayAndAFolderAtTheNameIsRefused) {
  WriteFileBytes(dir.path() / "x.zgi.zgl-new", Pattern(300, 2));
  auto opened = OpenReplacement("x.zgi.zgl-new");
  ASSERT_TRUE(opened);
  EXPECT_EQ(fs::file_size(dir.path() / "x.zgi.zgl-new"), 0u) << "the leftover's bytes kept";
  ASSERT_TRUE(WriteBytes(*opened, "new", 3));
  ASSERT_TRUE(CloseFile(*opened));

  fs::create_directory(dir.path() / "y.zgi.zgl-new");
  WriteFileBytes(dir.path() / "y.zgi", Pattern(10, 3));
  const auto refused = OpenReplacement("y.zgi.zgl-new");
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.error(), FileProblem::kNone);
  EXPECT_FALSE(ReplaceWholeFile("y.zgi", Pattern(20, 4), Durability::kForCommit));
  EXPECT_TRUE(fs::is_directory(dir.path() / "y.zgi.zgl-new"));
  EXPECT_EQ(ReadFileBytes(dir.path() / "y.zgi"), Pattern(10, 3));
}

// More than a stream buffer holds, moved while the stream is still open: every byte arrives.
TEST_F(Replacement, AMoveThroughTheStreamKeepsEveryByteOrMovesNothing) {
  WriteFileBytes(dir.path() / "lib.ofs", Pattern(64, 5));
  const auto data = Pattern(200000, 6);
  auto opened = OpenReplacement("lib.ofs.zgl-new");
  ASSERT_TRUE(opened);
  ASSERT_TRUE(WriteBytes(*opened, data.data(), data.size()));
  EXPECT_TRUE(MoveOverAndClose(*opened, "lib.ofs.zgl-new", "LIB.OFS"));  // Windows-style case
  EXPECT_EQ(ReadFileBytes(dir.path() / "lib.ofs"), data);
  EXPECT_FALSE(fs::exists(dir.path() / "lib.ofs.zgl-new"));
  EXPECT_EQ(EntriesIn(dir.path()), 1u);

  // A folder where the file should go: nothing moves, the written file stays for the caller.
  fs::create_directory(dir.path() / "blocked");
  WriteFileBytes(dir.path() / "blocked" / "keep", Pattern(3, 7));
  opened = OpenReplacement("blocked.zgl-new");
  ASSERT_TRUE(opened);
  ASSERT_TRUE(WriteBytes(*opened, data.data(), 100));
  EXPECT_FALSE(MoveOverAndClose(*opened, "blocked.zgl-new", "blocked"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "blocked"));
  EXPECT_EQ(ReadFileBytes(dir.path() / "blocked.zgl-new"), Pattern(100, 6));
}

// What a commit relies on: each of its files' bytes flushed, by its stream or by its name,
// and its folder's entries, by the time FlushFilesToDisk returns.
class FlushWatch final : public FileObserver {
 public:
  bool Allow(FileOp, const std::string&, std::FILE*) override { return true; }
  void Done(FileOp op, const std::string& path, const std::string& to, std::FILE* stream) override {
    switch (op) {
      case FileOp::kOpen:
        open_[stream] = Name(path);
        break;
      case FileOp::kFlush:
        flushed_bytes_.push_back(open_[stream]);
        break;
      case FileOp::kReplace:
        // The bytes flushed under the temporary name travel with the file.
        for (std::string& name : flushed_bytes_) {
          if (name == Name(path)) name = Name(to);
        }
        break;
      case FileOp::kFlushFile:
        flushed_bytes_.push_back(Name(path));
        break;
      case FileOp::kFolderFlush:
        flushed_folders_.push_back(Name(path));
        break;
      default:
        break;
    }
  }
  bool BytesFlushed(const std::string& name) const { return Has(flushed_bytes_, name); }
  bool FolderFlushed(const std::string& name) const { return Has(flushed_folders_, name); }

 private:
  static std::string Name(const std::string& path) { return fs::path(path).filename().string(); }
  static bool Has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  }
  std::map<std::FILE*, std::string> open_;
  std::vector<std::string> flushed_bytes_;
  std::vector<std::string> flushed_folders_;
};

TEST_F(Replacement, TheFilesOfACommitAreOnTheDiskWhenItsFlushReturns) {
  FlushWatch watch;
  SetFileObserver(&watch);
  const std::vector<std::string> names = {"s3_0_0_0.zgi", "s3_0_0_1.zgi", "s3_0_0_2.zgi"};
  for (const std::string& name : names) {
    ASSERT_TRUE(ReplaceWholeFile(name.c_str(), Pattern(1000, 8), Durability::kForCommit));
  }
  const bool flushed = FlushFilesToDisk(names);
  SetFileObserver(nullptr);
  EXPECT_TRUE(flushed);
  for (const std::string& name : names) {
    EXPECT_TRUE(watch.BytesFlushed(name)) << name;
    EXPECT_TRUE(watch.FolderFlushed(name)) << name;
    EXPECT_EQ(ReadFileBytes(dir.path() / name), Pattern(1000, 8)) << name;
  }
}

}  // namespace
}  // namespace zemlo::files
