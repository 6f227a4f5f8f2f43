// Reading a block file back while it is written: what the commit gets must be what hashing the
// finished file gives, whatever was read ahead and however the file or the records turned out.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "files/file_layer.h"
#include "files/file_stream.h"
#include "library/store/block_read_back.h"
#include "library/store/entry_sums.h"
#include "support/temp_dir.h"

namespace zemlo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadBackEntry(std::size_t length, int seed) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + seed);
  return bytes;
}

// Offsets records (offset, length) as the offsets file holds them.
Bytes ReadBackRecords(const std::vector<std::pair<std::int32_t, std::int32_t>>& records) {
  Bytes bytes;
  for (const auto& [offset, length] : records) {
    for (const std::int32_t v : {offset, length}) {
      for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    }
  }
  return bytes;
}

void ExpectSameHashes(const std::optional<HashedBlock>& got,
                      const std::optional<HashedBlock>& want) {
  ASSERT_EQ(got.has_value(), want.has_value());
  if (!want) return;
  EXPECT_EQ(got->block.length, want->block.length);
  EXPECT_EQ(got->block.hash, want->block.hash);
  ASSERT_EQ(got->entries.size(), want->entries.size());
  for (std::size_t i = 0; i < want->entries.size(); ++i) {
    EXPECT_EQ(got->entries[i].length, want->entries[i].length) << i;
    EXPECT_EQ(got->entries[i].hash, want->entries[i].hash) << i;
  }
}

// A block file written the way the store writes it: unbuffered, each entry told to the
// read-back once written, which reads `ahead` entries before the file is closed.
class BlockReadBackTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  testing::ScopedCurrentDir cwd{dir.path()};
  BlockReadBack read_back;

  void Write(const std::vector<Bytes>& entries, std::size_t ahead, const Bytes& trailer = {}) {
    FileStream file(files::OpenFile("b30.blk", "wb").value_or(nullptr));
    ASSERT_NE(file, nullptr);
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    read_back.Begin("b30.blk");
    std::int64_t at = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      ASSERT_TRUE(files::WriteBytes(file.get(), entries[i].data(), entries[i].size()));
      read_back.Wrote(at, at + static_cast<std::int64_t>(entries[i].size()));
      at += static_cast<std::int64_t>(entries[i].size());
      // Read ahead as far as allowed, never beyond what was written.
      while (ahead > 0 && read_back.ReadAhead()) --ahead;
    }
    if (!trailer.empty()) {
      ASSERT_TRUE(files::WriteBytes(file.get(), trailer.data(), trailer.size()));
    }
  }
};

TEST_F(BlockReadBackTest, GivesWhatHashingTheFinishedFileGivesHoweverFarItReadAhead) {
  // Entries of one piece, of several pieces and of a piece and a bit; icons without entries
  // between them.
  const std::vector<Bytes> entries = {ReadBackEntry(1000, 1), ReadBackEntry(200000, 2),
                                      ReadBackEntry(65537, 3), ReadBackEntry(1, 4)};
  const Bytes records = ReadBackRecords(
      {{0, 1000}, {0, 0}, {1000, 200000}, {201000, 65537}, {0, 0}, {266537, 1}, {0, 0}});
  for (const std::size_t ahead : {0u, 1u, 3u, 4u}) {
    Write(entries, ahead);
    const auto want = HashBlockFile("b30.blk", records);
    ASSERT_TRUE(want.has_value());
    EXPECT_EQ(want->block.length, 266538u);
    ExpectSameHashes(read_back.Finish("b30.blk", records), want);
  }
}

TEST_F(BlockReadBackTest, AgreesWithHashingWhereTheFileOrTheRecordsSayOtherwise) {
  const std::vector<Bytes> entries = {ReadBackEntry(3000, 1), ReadBackEntry(5000, 2)};
  const Bytes records = ReadBackRecords({{0, 3000}, {3000, 5000}});

  // Bytes after the last entry: the file is not as the records say.
  Write(entries, 2, Bytes{9});
  EXPECT_FALSE(HashBlockFile("b30.blk", records).has_value());
  EXPECT_FALSE(read_back.Finish("b30.blk", records).has_value());

  // Records that cut the same bytes otherwise, drop an entry, or claim one more.
  for (const Bytes& other :
       {ReadBackRecords({{0, 4000}, {4000, 4000}}), ReadBackRecords({{0, 3000}}),
        ReadBackRecords({{0, 3000}, {3000, 5000}, {8000, 10}}),
        ReadBackRecords({{0, 3000}, {0, 0}, {3000, 5000}})}) {
    Write(entries, 1);
    ExpectSameHashes(read_back.Finish("b30.blk", other), HashBlockFile("b30.blk", other));
  }

  // The file was cut short behind the writer after all of it was read ahead: it no longer ends
  // where the entries do.
  Write(entries, 2);
  fs::resize_file(dir.path() / "b30.blk", 7999);
  EXPECT_FALSE(read_back.Finish("b30.blk", records).has_value());
  EXPECT_FALSE(HashBlockFile("b30.blk", records).has_value());

  // Another block's name, or nothing written: hashed as the file is.
  Write(entries, 2);
  ExpectSameHashes(read_back.Finish("b31.blk", records), HashBlockFile("b31.blk", records));
  read_back.Begin("b30.blk");
  ExpectSameHashes(read_back.Finish("b30.blk", records), HashBlockFile("b30.blk", records));
}

TEST_F(BlockReadBackTest, LetsTheFileGoBeforeTheStoreMovesIt) {
  Write({ReadBackEntry(3000, 1)}, 1);
  read_back.LetGo();
  // What was read of the file is dropped, and nothing reads it any more.
  EXPECT_FALSE(read_back.ReadAhead());
  fs::rename(dir.path() / "b30.blk", dir.path() / "BLTEMP");
  const Bytes records = ReadBackRecords({{0, 3000}});
  ExpectSameHashes(read_back.Finish("b30.blk", records), HashBlockFile("b30.blk", records));
  EXPECT_FALSE(HashBlockFile("b30.blk", records).has_value());
}

}  // namespace
}  // namespace zemlo
