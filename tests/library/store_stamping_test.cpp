#include <gtest/gtest.h>

#include <string>

#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/store/stamping.h"
#include "support/name_text.h"
#include "support/temp_dir.h"

namespace zemlo {
namespace {

using testing::MakeName;

std::string Icon(int icon, const std::string& pattern) {
  Name name = MakeName(pattern);
  return StampIconNumber(icon, name) ? std::string(name.data()) : "<no file>";
}

std::string Block(int block, const std::string& pattern) {
  Name name = MakeName(pattern);
  return StampBlockNumber(block, name) ? std::string(name.data()) : "<no file>";
}

TEST(Stamping, BlockNumbersGoBeforeTheFirstDot) {
  EXPECT_EQ(Block(12, "blk\\TOWN00.zgl"), "blk\\TOWN12.zgl");
  EXPECT_EQ(Block(105, "blk\\TOWN00.zgl"), "blk\\TOWNA5.zgl");
  EXPECT_EQ(Block(0, "ab.c.d"), "00.c.d");
  EXPECT_EQ(Block(7, "TOWN00"), "TOWN07");  // no dot: the end of the name
  EXPECT_EQ(Block(359, "B00.zgl"), "BZ9.zgl");
}

TEST(Stamping, BlocksFrom360OnLeaveDigitsAndCapitals) {
  EXPECT_EQ(Block(360, "B00.zgl"), "B[0.zgl");
  EXPECT_EQ(Block(375, "B00.zgl"), "B\\5.zgl");  // a directory separator on every platform
  EXPECT_EQ(Block(428, "B00.zgl"), "Ba8.zgl");
  EXPECT_EQ(Block(695, "B00.zgl"), "B|5.zgl");
  EXPECT_EQ(Block(719, "B00.zgl"), "B~9.zgl");
  EXPECT_EQ(Block(720, "B00.zgl"), "<no file>");  // no printable character left
}

TEST(Stamping, IconNumbersFillFourPlacesAndKeepTheSeparators) {
  EXPECT_EQ(Icon(3456, "pcx\\9\\9\\9\\9.pcx"), "pcx\\3\\4\\5\\6.pcx");
  EXPECT_EQ(Icon(3456, "pcx/9-9-9-9.pcx"), "pcx/3-4-5-6.pcx");
  EXPECT_EQ(Icon(10345, "x\\9\\9\\9\\9.pcx"), "x\\A\\3\\4\\5.pcx");
  EXPECT_EQ(Icon(7, "x\\9\\9\\9\\9.pcx"), "x\\0\\0\\0\\7.pcx");
  EXPECT_EQ(Icon(35999, "9_9_9_9.wav"), "Z_9_9_9.wav");
  EXPECT_EQ(Icon(4321, "a.b\\9\\9\\9\\9.pcx"), "<no file>");  // the first dot decides
}

TEST(Stamping, ALeadingDotDotTakesItsSecondDot) {
  // D is 1: too short for either number, so the pattern names no file.
  EXPECT_EQ(Block(12, "..\\blk\\B00.zgl"), "<no file>");
  EXPECT_EQ(Icon(3456, "..\\pcx\\9\\9\\9\\9.pcx"), "<no file>");
  // A first character "." is never looked at.
  EXPECT_EQ(Block(34, ".B00"), ".B34");
}

TEST(Stamping, PatternsTooShortBecomeTheEmptyName) {
  for (const char* pattern : {"", "a", "b.zgl", "123456.pcx"}) {
    Name name = MakeName(pattern);
    EXPECT_FALSE(StampIconNumber(3000, name)) << pattern;
    EXPECT_EQ(name[0], '\0') << pattern;
  }
  for (const char* pattern : {"", "a", "b.zgl"}) {
    Name name = MakeName(pattern);
    EXPECT_FALSE(StampBlockNumber(30, name)) << pattern;
    EXPECT_EQ(name[0], '\0') << pattern;
  }
  Name seven = MakeName("1234567.pcx");
  EXPECT_TRUE(StampIconNumber(3456, seven));
  EXPECT_EQ(std::string(seven.data()), "3244566.pcx");
  Name negative = MakeName("9\\9\\9\\9.pcx");
  EXPECT_FALSE(StampIconNumber(-1, negative));
}

TEST(Stamping, AnUnstampablePatternNamesNoFile) {
  testing::TempDir dir;
  testing::ScopedCurrentDir cwd(dir.path());
  testing::WriteFileBytes(dir.path() / "b.zgl", {1, 2, 3});
  Name name = MakeName("b.zgl");
  ASSERT_FALSE(StampIconNumber(3000, name));
  EXPECT_FALSE(files::Exists(name.data()));
  EXPECT_FALSE(ReadWholeFile(name.data(), std::span<std::uint8_t>(), 0).has_value());
  const std::uint8_t entry[] = {24, 0, 0, 0};
  EXPECT_FALSE(WriteWholeFile(name.data(), entry));
  EXPECT_FALSE(files::RemoveFile(name.data()));
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / "b.zgl"), (std::vector<std::uint8_t>{1, 2, 3}));
  // It stays unstampable until the project file sets it again.
  EXPECT_FALSE(StampIconNumber(3001, name));
}

TEST(Stamping, LongestNameStaysInsideItsBuffer) {
  Name name = MakeName(std::string(259, 'p'));
  ASSERT_TRUE(StampIconNumber(3456, name));
  EXPECT_EQ(std::string(name.data()).size(), 259u);
  EXPECT_EQ(std::string(name.data()).substr(252), "3p4p5p6");
  EXPECT_EQ(name[259], '\0');
}

}  // namespace
}  // namespace zemlo
