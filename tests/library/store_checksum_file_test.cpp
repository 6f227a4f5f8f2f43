#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/byte_reader.h"
#include "files/file_helpers.h"
#include "library/store/checksum_file.h"
#include "support/temp_dir.h"

namespace zemlo {
namespace {

ChecksumFile Sample() {
  ChecksumFile sums;
  sums.generation = 7;
  sums.icons_per_block = 2;
  sums.icons.resize(4);
  sums.icons[1] = {1234,
                   kSumInBlock | kSumInSingleFile,
                   0x1122334455667788ull,
                   {10, 20, 30, 40},
                   5555,
                   "pcx\\p0_0_0_1.pcx",
                   6};
  sums.icons[2] = {9, kSumInBlock | kSumAdopted, 42, {}, 0, "", 3};
  sums.icons[3] = {77, kSumInSingleFile, ~0ull, {800, 600, 0, 0}, 1ull << 40, "s.wav", 7};
  sums.blocks = {{1234, 0xABCDEFull, 6}, {86, 99, 7}};
  return sums;
}

// Seals edited bytes again with their own check, so that the check under test is reached.
std::vector<std::uint8_t> Resealed(std::vector<std::uint8_t> bytes) {
  const std::size_t body = bytes.size() - kSumCheckSize;
  StoreU64LE(bytes.data() + body, HashBytes(std::span(bytes).first(body)));
  return bytes;
}

TEST(ChecksumFile, RoundTripsEveryFieldAndKeepsItsLayout) {
  const ChecksumFile sums = Sample();
  const auto bytes = EncodeChecksumFile(sums);
  const std::size_t names = std::strlen("pcx\\p0_0_0_1.pcx") + std::strlen("s.wav");
  ASSERT_EQ(bytes.size(), kSumHeaderSize + 4 * kSumIconRecordSize + 2 * kSumBlockRecordSize +
                              names + kSumCheckSize);
  EXPECT_EQ(std::memcmp(bytes.data(), "\x89ZSUM\r\n\x1a", 8), 0);
  // Icon 3's source name starts right after icon 1's in the names area.
  const std::uint8_t* icon3 = bytes.data() + kSumHeaderSize + 3 * kSumIconRecordSize;
  EXPECT_EQ(LoadU32LE(icon3 + 32), std::strlen("pcx\\p0_0_0_1.pcx"));
  EXPECT_EQ(LoadU32LE(icon3 + 36), 5u);
  const auto back = DecodeChecksumFile(bytes);
  ASSERT_TRUE(back) << back.error().text;
  EXPECT_EQ(*back, sums);
}

TEST(ChecksumFile, AnEmptyLibraryAndOverlongNamesStillRoundTrip) {
  ChecksumFile empty;
  const auto back = DecodeChecksumFile(EncodeChecksumFile(empty));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, empty);
  ChecksumFile long_name = Sample();
  long_name.icons[1].source = std::string(1000, 'x');
  const auto cut = DecodeChecksumFile(EncodeChecksumFile(long_name));
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->icons[1].source, std::string(kNameSize - 1, 'x'));
}

// A later version may grow the header and the records; this one reads what it knows.
TEST(ChecksumFile, ReadsLargerHeaderAndRecordsOfTheSameVersion) {
  ChecksumFile sums = Sample();
  sums.icons.resize(2);
  sums.icons[1].source = "ab";
  sums.blocks.resize(1);
  const auto known = EncodeChecksumFile(sums);
  std::vector<std::uint8_t> grown(known.begin(), known.begin() + kSumHeaderSize);
  grown.resize(kSumHeaderSize + 8, 0xEE);
  StoreU16LE(grown.data() + 10, kSumHeaderSize + 8);
  StoreU16LE(grown.data() + 12, kSumIconRecordSize + 4);
  StoreU16LE(grown.data() + 14, kSumBlockRecordSize + 4);
  for (int n = 0; n < 2; ++n) {
    const auto* r = known.data() + kSumHeaderSize + n * kSumIconRecordSize;
    grown.insert(grown.end(), r, r + kSumIconRecordSize);
    grown.insert(grown.end(), 4, 0xEE);
  }
  const auto* b = known.data() + kSumHeaderSize + 2 * kSumIconRecordSize;
  grown.insert(grown.end(), b, b + kSumBlockRecordSize);
  grown.insert(grown.end(), 4, 0xEE);
  grown.insert(grown.end(), {'a', 'b'});
  grown.resize(grown.size() + kSumCheckSize);
  const auto back = DecodeChecksumFile(Resealed(grown));
  ASSERT_TRUE(back) << back.error().text;
  EXPECT_EQ(*back, sums);
}

struct Damage {
  const char* what;
  std::function<void(std::vector<std::uint8_t>&)> apply;
  bool reseal;
  Reason expected;
};

TEST(ChecksumFile, RefusesEachDamageWithItsReason) {
  const auto set16 = [](std::size_t at, std::uint16_t v) {
    return [=](std::vector<std::uint8_t>& b) { StoreU16LE(b.data() + at, v); };
  };
  const auto set32 = [](std::size_t at, std::uint32_t v) {
    return [=](std::vector<std::uint8_t>& b) { StoreU32LE(b.data() + at, v); };
  };
  const std::size_t icon1 = kSumHeaderSize + kSumIconRecordSize;
  const std::vector<Damage> cases = {
      {"cut to the header", [](auto& b) { b.resize(kSumHeaderSize); }, false, kSumTooShort},
      {"magic in 7 bits", [](auto& b) { b[0] = 0x09; }, true, kSumNotOurs},
      {"newer version", set16(8, kSumVersion + 1), true, kSumNewer},
      {"version 0", set16(8, 0), true, kSumBadSizes},
      {"header smaller than known", set16(10, kSumHeaderSize - 1), true, kSumBadSizes},
      {"icon records smaller than known", set16(12, 8), true, kSumBadSizes},
      {"more icons than a library holds", set32(16, 20001), true, kSumBadSizes},
      {"one icon more than the bytes", set32(16, 5), true, kSumBadLength},
      {"a byte added", [](auto& b) { b.insert(b.begin() + 60, 0); }, true, kSumBadLength},
      {"a bit flipped in a hash", [](auto& b) { b[icon1 + 9] ^= 4; }, false, kSumBadCheck},
      {"the check itself flipped", [](auto& b) { b.back() ^= 1; }, false, kSumBadCheck},
      {"name beyond the names", set32(icon1 + 32, 1000), true, kSumBadName},
      {"name longer than a name", set32(icon1 + 36, 0xFFFFFFF0u), true, kSumBadName},
      {"a zero byte in a name", [](auto& b) { b[b.size() - kSumCheckSize - 2] = 0; }, true,
       kSumBadName},
  };
  const auto good = EncodeChecksumFile(Sample());
  for (const Damage& c : cases) {
    auto bytes = good;
    c.apply(bytes);
    if (c.reseal && bytes.size() >= kSumCheckSize) bytes = Resealed(bytes);
    const auto read = DecodeChecksumFile(bytes);
    ASSERT_FALSE(read) << c.what;
    EXPECT_EQ(read.error(), c.expected) << c.what << ": " << read.error().text;
  }
}

TEST(ChecksumFile, LivesBesideTheOffsetsFileAndTellsAMissingFromADamagedOne) {
  testing::TempDir dir;
  testing::ScopedCurrentDir cwd{dir.path()};
  ProjectSettings settings;
  std::strcpy(settings.FOFS.data(), "demo.ofs");
  const auto name = ChecksumFileName(settings);
  ASSERT_TRUE(name);
  EXPECT_STREQ(name->data(), "demo.ofs.sum");
  EXPECT_EQ(ReadChecksumFile(settings).error(), kSumMissing);
  ASSERT_TRUE(WriteChecksumFile(settings, Sample()));
  const auto back = ReadChecksumFile(settings);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, Sample());
  ASSERT_TRUE(WriteWholeFile("demo.ofs.sum", std::vector<std::uint8_t>(100, 1)));
  EXPECT_EQ(ReadChecksumFile(settings).error(), kSumNotOurs);

  settings.FOFS.fill('o');
  settings.FOFS.back() = '\0';
  EXPECT_FALSE(ChecksumFileName(settings));
}

}  // namespace
}  // namespace zemlo
