// What lint lists for a project file: every tag once, given or default, and what the values
// mean (names stamped from the patterns, the number codes in words).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/project_listing.h"

namespace zemlo::testing {
namespace {

std::vector<SettingLine> List(const std::string& text) {
  ProjectSettings settings;
  InfoTextReport report;
  ParseInfoText(text.c_str(), settings, &report);
  return ListSettings(settings, report);
}

const SettingLine& Line(const std::vector<SettingLine>& lines, const std::string& tag) {
  const auto found = std::find_if(lines.begin(), lines.end(),
                                  [&tag](const SettingLine& line) { return line.tag == tag; });
  EXPECT_NE(found, lines.end()) << tag;
  return *found;
}

TEST(ProjectListing, ListsEveryTagTheParserKnowsOnce) {
  const auto lines = List(" FSEP s0_0_0_0.zgi \n");
  std::vector<std::string> listed;
  for (const SettingLine& line : lines) listed.push_back(line.tag);
  std::vector<std::string> known;
  for (const std::string_view tag : TagLetters()) known.emplace_back(tag);
  std::sort(listed.begin(), listed.end());
  std::sort(known.begin(), known.end());
  EXPECT_EQ(listed, known);
}

TEST(ProjectListing, MarksWhatTheFileGivesAndShowsTheDefaultsOfTheRest) {
  const auto lines = List(" FSEP s0_0_0_0.zgi \n NSIZ 5000\n DPAK 2\n NSIZ 6000\n");
  EXPECT_TRUE(Line(lines, "FSEP").given);
  EXPECT_EQ(Line(lines, "FSEP").value, "s0_0_0_0.zgi");
  // A tag given twice takes its last value.
  EXPECT_TRUE(Line(lines, "NSIZ").given);
  EXPECT_EQ(Line(lines, "NSIZ").value, "6000");
  EXPECT_FALSE(Line(lines, "BLKB").given);
  EXPECT_EQ(Line(lines, "BLKB").value, "100");
  EXPECT_FALSE(Line(lines, "FCOO").given);
  EXPECT_EQ(Line(lines, "FCOO").value, "-");
  EXPECT_EQ(Line(lines, "DEND").value, "5000");
}

TEST(ProjectListing, PatternsShowANameStampedFromThem) {
  const auto lines = List(
      " FSEP sep\\s0_0_0_0.zgi \n FPCX p0_0_0_0.pcx \n FBLK lib00.blk \n"
      " BLKB 40\n FWAV w0_0_0_0.wav \n FLBM i.lbm \n DBLK 3\n");
  EXPECT_EQ(Line(lines, "FSEP").meaning, "single entry files: sep\\s3_0_0_0.zgi for icon 3000");
  EXPECT_EQ(Line(lines, "FPCX").meaning, "PCX sources: p3_0_0_0.pcx for icon 3000");
  // 3000 / 40 is block 75.
  EXPECT_EQ(Line(lines, "FBLK").meaning, "block files: lib75.blk holds icon 3000");
  EXPECT_NE(Line(lines, "FWAV").meaning.find("w9_0_0_0.wav for sound 9000"), std::string::npos);
  EXPECT_NE(Line(lines, "FLBM").meaning.find("too short to take an icon number"),
            std::string::npos);
  EXPECT_NE(Line(lines, "FPNG").meaning.find("not given"), std::string::npos);
}

TEST(ProjectListing, NumberCodesInWords) {
  auto lines = List(" FSEP s0_0_0_0.zgi \n FBLK lib00.blk \n DBLK 2\n DPAK 1\n DARC 0\n");
  EXPECT_EQ(Line(lines, "DBLK").meaning, "block files are written, no single entry files");
  EXPECT_NE(Line(lines, "FSEP").meaning.find("(not written: DBLK 2)"), std::string::npos);
  EXPECT_EQ(Line(lines, "FBLK").meaning.find("not written"), std::string::npos);
  EXPECT_EQ(Line(lines, "DPAK").meaning, "entries over 500000 bytes are packed");
  EXPECT_EQ(Line(lines, "DARC").meaning, "every source is converted again on every run");

  lines = List(" FSEP s0_0_0_0.zgi \n DBLK 1\n DPAK 3\n BLKB 0\n FBLK lib00.blk \n");
  EXPECT_EQ(Line(lines, "DBLK").meaning, "single entry files are written, no block files");
  EXPECT_EQ(Line(lines, "DPAK").meaning, "no entry is packed");
  EXPECT_NE(Line(lines, "FBLK").meaning.find("BLKB is below 1"), std::string::npos);

  lines = List(" FSEP s0_0_0_0.zgi \n DPAK 2\n DBLK 0\n");
  EXPECT_EQ(Line(lines, "DPAK").meaning, "every entry is packed");
  EXPECT_EQ(Line(lines, "DBLK").meaning, "neither single entry files nor block files are written");
}

}  // namespace
}  // namespace zemlo::testing
