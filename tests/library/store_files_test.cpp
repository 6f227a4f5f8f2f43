// File helpers and the offsets / coordinates files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/working_state.h"
#include "files/file_helpers.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"
#include "project/info_parser.h"
#include "support/name_text.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"

namespace zemlo {
namespace {

using testing::MakeName;

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

std::vector<std::uint8_t> Pattern(std::size_t n, int seed) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return v;
}

class StoreFiles : public ::testing::Test {
 protected:
  testing::TempDir dir;
  testing::ScopedCurrentDir cwd{dir.path()};
  testing::RecordingPort port;
};

TEST_F(StoreFiles, FileLengthIsZeroForMissingFiles) {
  EXPECT_EQ(FileLength("missing.zgl"), 0);
  WriteFileBytes(dir.path() / "five.zgl", Pattern(5000, 1));
  EXPECT_EQ(FileLength("five.zgl"), 5000);
  EXPECT_EQ(FileLength("FIVE.ZGL"), 5000);
}

TEST_F(StoreFiles, ReadWholeFileStopsAtLimitAndBufferAndTerminates) {
  const auto data = Pattern(100, 3);
  WriteFileBytes(dir.path() / "d.bin", data);
  std::vector<std::uint8_t> buffer(200, 0xEE);

  EXPECT_FALSE(ReadWholeFile("nothing.bin", buffer, 100).has_value());
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(200, 0xEE));

  auto n = ReadWholeFile("d.bin", buffer, 1000);
  ASSERT_EQ(n, 100u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
  EXPECT_EQ(buffer[100], 0);
  EXPECT_EQ(buffer[101], 0xEE);

  std::fill(buffer.begin(), buffer.end(), 0xEE);
  n = ReadWholeFile("d.bin", buffer, 40);
  ASSERT_EQ(n, 40u);
  EXPECT_EQ(buffer[39], data[39]);
  EXPECT_EQ(buffer[40], 0);

  // The buffer's last byte is kept for the zero.
  std::vector<std::uint8_t> small(10, 0xEE);
  n = ReadWholeFile("d.bin", small, 1000);
  ASSERT_EQ(n, 9u);
  EXPECT_EQ(small[9], 0);
  EXPECT_EQ(ReadWholeFile("d.bin", std::span<std::uint8_t>(), 10), 0u);
}

TEST_F(StoreFiles, InfoTextIsParsedOnlyToItsFirst4096Bytes) {
  std::string text(5000, '.');
  const std::string first = " NSIZ 500 ";
  text.replace(0, first.size(), first);
  // The number's digits run across byte 4096: only those before it count.
  const std::string across = "BLKB 1234567";
  text.replace(4086, across.size(), across);
  const std::string after = " DEND 7 ";
  text.replace(4500, after.size(), after);
  WriteFileBytes(dir.path() / "big.inf", {text.begin(), text.end()});

  WorkingState state(port);
  state.info_text.span()[kInfoTextLimit] = 0x55;  // must be overwritten by the terminator
  const auto n = ReadWholeFile("big.inf", state.info_text.span(), kInfoTextLimit);
  ASSERT_EQ(n, 4096u);
  ProjectSettings s;
  ParseInfoText(reinterpret_cast<const char*>(state.info_text.data()), s);
  EXPECT_EQ(s.NSIZ, 500);
  EXPECT_EQ(s.BLKB, 12345);
  EXPECT_EQ(s.DEND, 5000);
}

TEST_F(StoreFiles, WriteWholeFileTruncatesAndReportsFailure) {
  WriteFileBytes(dir.path() / "e.zgl", Pattern(300, 1));
  const auto data = Pattern(20, 9);
  EXPECT_TRUE(WriteWholeFile("e.zgl", data));
  EXPECT_EQ(ReadFileBytes(dir.path() / "e.zgl"), data);
  EXPECT_TRUE(WriteWholeFile("empty.zgl", {}));
  EXPECT_EQ(fs::file_size(dir.path() / "empty.zgl"), 0u);
  EXPECT_FALSE(WriteWholeFile("no_folder\\e.zgl", data));
}

TEST_F(StoreFiles, WriteZeroFileWritesZeros) {
  WriteFileBytes(dir.path() / "BLTEMP", Pattern(50, 1));
  EXPECT_TRUE(WriteZeroFile("BLTEMP", 0));
  EXPECT_EQ(fs::file_size(dir.path() / "BLTEMP"), 0u);
  EXPECT_TRUE(WriteZeroFile("z.bin", 10000));
  EXPECT_EQ(ReadFileBytes(dir.path() / "z.bin"), std::vector<std::uint8_t>(10000, 0));
  EXPECT_FALSE(WriteZeroFile("no_folder\\z.bin", 1));
}

TEST_F(StoreFiles, ReplaceWholeFileLeavesOldOrNewAndNoTemporary) {
  WriteFileBytes(dir.path() / "lib.ofs", Pattern(64, 1));
  const auto data = Pattern(80, 2);
  EXPECT_TRUE(ReplaceWholeFile("lib.ofs", data));
  EXPECT_EQ(ReadFileBytes(dir.path() / "lib.ofs"), data);
  EXPECT_TRUE(ReplaceWholeFile("LIB.OFS", Pattern(8, 3)));  // same file, Windows-style case
  EXPECT_EQ(ReadFileBytes(dir.path() / "lib.ofs"), Pattern(8, 3));
  EXPECT_TRUE(ReplaceWholeFile("fresh.ofs", data));
  EXPECT_EQ(ReadFileBytes(dir.path() / "fresh.ofs"), data);
  // Without the flush the file is replaced the same way (single entry files of a run).
  EXPECT_TRUE(ReplaceWholeFile("fresh.ofs", Pattern(5, 4), Durability::kNoFlush));
  EXPECT_EQ(ReadFileBytes(dir.path() / "fresh.ofs"), Pattern(5, 4));
  EXPECT_FALSE(ReplaceWholeFile("no_folder\\x.ofs", data));
  EXPECT_FALSE(ReplaceWholeFile("", data));
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 2);  // lib.ofs and fresh.ofs, nothing left behind
}

TEST_F(StoreFiles, TablesAreWrittenWithNsizRecordsCutToCapacity) {
  WorkingState state(port);
  ProjectSettings s;
  s.FOFS = MakeName("lib.ofs");
  s.FCOO = MakeName("lib.coo");
  const std::pair<int, std::uintmax_t> cases[] = {
      {500, 4000}, {0, 0}, {-3, 0}, {20000, 160000}, {25000, 160000}};
  for (const auto& [nsiz, bytes] : cases) {
    s.NSIZ = nsiz;
    ASSERT_TRUE(WriteOffsetsFile(s, state));
    ASSERT_TRUE(WriteCoordinatesFile(s, state));
    EXPECT_EQ(fs::file_size(dir.path() / "lib.ofs"), bytes) << nsiz;
    EXPECT_EQ(fs::file_size(dir.path() / "lib.coo"), nsiz > 21000 ? 168000 : bytes) << nsiz;
  }
}

// Records the file does not cover belong to no library of this project: a table read from a
// short file, or after another project's, holds zeros there.
TEST_F(StoreFiles, ReadingATableZeroesEveryRecordTheFileDoesNotCover) {
  WorkingState state(port);
  OffsetsTable offsets(state.offsets.span());
  for (int n = 0; n < OffsetsTable::capacity(); ++n) offsets.Set(n, n + 1, n + 2);
  // A short file (3 whole records and a part of the fourth) under an NSIZ of 20000.
  auto file = Pattern(28, 5);
  WriteFileBytes(dir.path() / "lib.ofs", file);
  ProjectSettings s;
  s.FOFS = MakeName("lib.ofs");
  ASSERT_TRUE(ReadOffsetsFile(s, state));
  EXPECT_TRUE(std::equal(file.begin(), file.end(), state.offsets.data()));
  EXPECT_EQ(offsets.length(3), 0);  // the bytes after the file are zero
  EXPECT_EQ(offsets.offset(4), 0);
  EXPECT_EQ(offsets.length(19999), 0);

  // A file longer than NSIZ records fills only NSIZ records; the rest of the table is zero.
  for (int n = 0; n < OffsetsTable::capacity(); ++n) offsets.Set(n, n + 1, n + 2);
  s.NSIZ = 2;
  WriteFileBytes(dir.path() / "lib.ofs", std::vector<std::uint8_t>(400, 7));
  ASSERT_TRUE(ReadOffsetsFile(s, state));
  EXPECT_EQ(offsets.length(1), 0x07070707);
  EXPECT_EQ(offsets.offset(2), 0);
  EXPECT_EQ(offsets.length(19999), 0);

  // A file that cannot be read leaves the table to the caller.
  offsets.Set(19999, 1, 2);
  s.FOFS = MakeName("missing.ofs");
  EXPECT_FALSE(ReadOffsetsFile(s, state));
  EXPECT_EQ(offsets.length(19999), 2);
  ClearOffsets(state);
  EXPECT_EQ(offsets.length(19999), 0);
  EXPECT_EQ(offsets.offset(0), 0);
}

// A reader that keeps its table reads the file again only when it is another file (replaced
// by a rename, as every writer of a library does), of another size, or a different part of
// it is wanted; a file that is gone is said to be, and the next one there is read.
TEST_F(StoreFiles, AKeptOffsetsTableIsReadAgainOnlyWhenTheFileChanged) {
  WorkingState state(port);
  OffsetsTable offsets(state.offsets.span());
  ProjectSettings s;
  s.FOFS = MakeName("lib.ofs");
  s.NSIZ = 10;
  const auto table_holds = [&](const std::vector<std::uint8_t>& file, std::size_t n) {
    return std::equal(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n),
                      state.offsets.data());
  };
  KeptTable kept;
  WriteFileBytes(dir.path() / "lib.ofs", Pattern(80, 1));
  ASSERT_TRUE(ReadOffsetsFileKept(s, state, kept));
  EXPECT_TRUE(table_holds(Pattern(80, 1), 80));
  EXPECT_TRUE(kept.stamp.has_value());

  // The same file: the table is taken as it stands (a mark put into it stays).
  offsets.Set(0, 111, 222);
  ASSERT_TRUE(ReadOffsetsFileKept(s, state, kept));
  EXPECT_EQ(offsets.offset(0), 111);

  // Replaced by a rename, even with a file of the same size.
  WriteFileBytes(dir.path() / "lib.ofs.new", Pattern(80, 2));
  fs::rename(dir.path() / "lib.ofs.new", dir.path() / "lib.ofs");
  ASSERT_TRUE(ReadOffsetsFileKept(s, state, kept));
  EXPECT_TRUE(table_holds(Pattern(80, 2), 80));

  // Written over in place with another size.
  offsets.Set(0, 111, 222);
  WriteFileBytes(dir.path() / "lib.ofs", Pattern(72, 3));
  ASSERT_TRUE(ReadOffsetsFileKept(s, state, kept));
  EXPECT_TRUE(table_holds(Pattern(72, 3), 72));
  EXPECT_EQ(offsets.length(9), 0);

  // Fewer records wanted: read again, the rest of the table zero.
  offsets.Set(0, 111, 222);
  s.NSIZ = 2;
  ASSERT_TRUE(ReadOffsetsFileKept(s, state, kept));
  EXPECT_TRUE(table_holds(Pattern(72, 3), 16));
  EXPECT_EQ(offsets.offset(2), 0);

  // Gone: false, the table left as it was and nothing kept; the file there again is read.
  fs::remove(dir.path() / "lib.ofs");
  offsets.Set(0, 111, 222);
  EXPECT_FALSE(ReadOffsetsFileKept(s, state, kept));
  EXPECT_EQ(offsets.offset(0), 111);
  EXPECT_FALSE(kept.stamp.has_value());
  WriteFileBytes(dir.path() / "lib.ofs", Pattern(72, 3));
  ASSERT_TRUE(ReadOffsetsFileKept(s, state, kept));
  EXPECT_TRUE(table_holds(Pattern(72, 3), 16));
}

TEST_F(StoreFiles, CoordinatesReadNsizRecordsAndStartEmptyWithoutAFile) {
  WorkingState state(port);
  CoordinatesTable coordinates(state.coordinates.span());
  for (int n = 0; n < CoordinatesTable::capacity(); ++n) coordinates.Set(n, {1, 2, 3, 4});
  ProjectSettings s;
  s.FCOO = MakeName("lib.coo");
  s.NSIZ = 25000;  // beyond both capacities
  WriteFileBytes(dir.path() / "lib.coo", std::vector<std::uint8_t>(200000, 9));
  ASSERT_TRUE(ReadCoordinatesFile(s, state));
  EXPECT_EQ(coordinates.Get(20999), (CoordinatesRecord{0x909, 0x909, 0x909, 0x909}));
  s.NSIZ = 10;
  ASSERT_TRUE(ReadCoordinatesFile(s, state));
  EXPECT_EQ(coordinates.Get(9), (CoordinatesRecord{0x909, 0x909, 0x909, 0x909}));
  EXPECT_EQ(coordinates.Get(10), CoordinatesRecord{});
  coordinates.Set(20999, {1, 2, 3, 4});
  ClearCoordinates(state);
  EXPECT_EQ(coordinates.Get(9), CoordinatesRecord{});
  EXPECT_EQ(coordinates.Get(20999), CoordinatesRecord{});
}

}  // namespace
}  // namespace zemlo
