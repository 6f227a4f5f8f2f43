#include "project/info_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "support/name_text.h"
#include "support/temp_dir.h"

namespace zemlo {
namespace {

using testing::MakeName;

std::string NameOf(const Name& name) { return std::string(name.data()); }

ProjectSettings Parse(const std::string& text, ProjectSettings settings = {}) {
  ParseInfoText(text.c_str(), settings);
  return settings;
}

TEST(InfoParser, ReadsEveryTagOfARealProjectFile) {
  const auto bytes = testing::ReadFileBytes(testing::DataDir() / "project/good/town.inf");
  ASSERT_FALSE(bytes.empty());
  const std::string text(bytes.begin(), bytes.end());
  const ProjectSettings s = Parse(text);
  EXPECT_EQ(s.SXSZ, 640);
  EXPECT_EQ(s.SYSZ, 480);
  EXPECT_EQ(s.SBPP, 3);
  EXPECT_EQ(NameOf(s.FCOL), "colours.pal");
  EXPECT_EQ(NameOf(s.FSEP), "out\\9\\9\\9\\9.zgl");
  EXPECT_EQ(NameOf(s.FCOO), "town.coo");
  EXPECT_EQ(NameOf(s.FOFS), "town.ofs");
  EXPECT_EQ(NameOf(s.FBLK), "blk\\TOWN00.zgl");
  EXPECT_EQ(NameOf(s.FPCX), "pcx\\9\\9\\9\\9.pcx");
  EXPECT_EQ(NameOf(s.FWAV), "wav\\9\\9\\9\\9.wav");
  EXPECT_EQ(NameOf(s.FLBM), "lbm\\9\\9\\9\\9.lbm");
  EXPECT_EQ(s.NSIZ, 6000);
  EXPECT_EQ(s.BLKB, 50);
  EXPECT_EQ(s.DSTA, 3000);
  EXPECT_EQ(s.DEND, 4999);
  EXPECT_EQ(s.DVIE, 2);
  EXPECT_EQ(s.DBLK, 3);
  EXPECT_EQ(s.DARC, 1);
  EXPECT_EQ(s.DPAK, 1);
}

TEST(InfoParser, PngPatternIsReadLikeTheOtherNamesAndOlderFilesLeaveItEmpty) {
  const auto bytes = testing::ReadFileBytes(testing::DataDir() / "project/good/town.inf");
  const ProjectSettings town = Parse(std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(NameOf(town.FPNG), "");
  const ProjectSettings s = Parse(" FPCX p0_0_0_0.pcx \n FPNG png\\q0_0_0_0.png\tNSIZ 6000\n");
  EXPECT_EQ(NameOf(s.FPNG), "png\\q0_0_0_0.png");
  EXPECT_EQ(NameOf(s.FPCX), "p0_0_0_0.pcx");
  EXPECT_EQ(s.NSIZ, 6000);
  // A later file without the tag keeps it, as for every other setting.
  EXPECT_EQ(NameOf(Parse(" NSIZ 7000\n", s).FPNG), "png\\q0_0_0_0.png");
  // Too long a name is refused as for the others.
  InfoTextReport report;
  ProjectSettings long_name;
  const std::string text = " FPNG " + std::string(300, 'q') + " ";
  ParseInfoText(text.c_str(), long_name, &report);
  EXPECT_NE(ValidateProject(long_name, &report).value_or("").find("the FPNG name is 300"),
            std::string::npos);
}

TEST(InfoParser, TagAtTheVeryFirstByteIsNotSeen) {
  ProjectSettings start;
  start.NSIZ = 1234;
  EXPECT_EQ(Parse("NSIZ 500", start).NSIZ, 1234);
  EXPECT_EQ(Parse(" NSIZ 500", start).NSIZ, 500);
  EXPECT_EQ(Parse("\nNSIZ 500", start).NSIZ, 500);
}

TEST(InfoParser, EmptyTextAndTextWithoutTagsChangeNothing) {
  ProjectSettings start;
  start.BLKB = 7;
  start.FSEP = MakeName("keep.zgl");
  for (const char* text : {"", "x", "just a comment\r\nnothing else here\r\n"}) {
    const ProjectSettings s = Parse(text, start);
    EXPECT_EQ(s.BLKB, 7) << text;
    EXPECT_EQ(NameOf(s.FSEP), "keep.zgl") << text;
    EXPECT_EQ(s.NSIZ, 20000) << text;
    EXPECT_EQ(s.DEND, 5000) << text;
  }
}

TEST(InfoParser, CharacterValuesAreMasked) {
  EXPECT_EQ(Parse(" DVIE 2").DVIE, 2);
  EXPECT_EQ(Parse(" DVIE 7").DVIE, 3);
  EXPECT_EQ(Parse(" DARC 2").DARC, 0);
  EXPECT_EQ(Parse(" DARC 3").DARC, 1);
  EXPECT_EQ(Parse(" DBLK 3").DBLK, 3);
  EXPECT_EQ(Parse(" DPAK 6").DPAK, 2);
  // A blank (0x20) has low bits 0; "A" (0x41) has low bits 1.
  EXPECT_EQ(Parse(" DBLK  1").DBLK, 0);
  EXPECT_EQ(Parse(" DPAK A").DPAK, 1);
}

TEST(InfoParser, ValueStartsAfterExactlyOneSeparatorOfAnyKind) {
  EXPECT_EQ(Parse(" DBLK=2").DBLK, 2);
  EXPECT_EQ(NameOf(Parse(" FCOO:lib.coo ").FCOO), "lib.coo");
  // A number skips further white space as the standard conversion does.
  EXPECT_EQ(Parse(" NSIZ \t 321").NSIZ, 321);
}

TEST(InfoParser, NamesEndAtBlankOrTabButNotAtLineEnds) {
  EXPECT_EQ(NameOf(Parse(" FSEP  out.zgl").FSEP), "");
  EXPECT_EQ(NameOf(Parse(" FCOO a.coo\tcomment").FCOO), "a.coo");
  EXPECT_EQ(NameOf(Parse(" FCOO to_the_end").FCOO), "to_the_end");
  // No blank before the line end: the name runs into the next line, whose tag still counts.
  const ProjectSettings s = Parse(" FOFS lib.ofs\r\nNSIZ 500 ");
  EXPECT_EQ(NameOf(s.FOFS), "lib.ofs\r\nNSIZ");
  EXPECT_EQ(s.NSIZ, 500);
}

TEST(InfoParser, TagLettersInsideAValueSetThatTagToo) {
  const ProjectSettings s = Parse(" FPCX src\\BLKB\\7\\x\\9.pcx ");
  EXPECT_EQ(NameOf(s.FPCX), "src\\BLKB\\7\\x\\9.pcx");
  EXPECT_EQ(s.BLKB, 7);
}

TEST(InfoParser, LowerCaseTagsAreIgnored) {
  const ProjectSettings s = Parse(" nsiz 500 blkb 3 fsep a.zgl Nsiz 9");
  EXPECT_EQ(s.NSIZ, 20000);
  EXPECT_EQ(s.BLKB, 100);
  EXPECT_EQ(NameOf(s.FSEP), "");
}

TEST(InfoParser, LastOccurrenceWinsAndLaterFilesKeepWhatTheyLack) {
  ProjectSettings s = Parse(" BLKB 7 NSIZ 100 BLKB 9 FOFS first.ofs ");
  EXPECT_EQ(s.BLKB, 9);
  ParseInfoText(" NSIZ 500 FOFS second.ofs ", s);
  EXPECT_EQ(s.BLKB, 9);
  EXPECT_EQ(s.NSIZ, 500);
  EXPECT_EQ(NameOf(s.FOFS), "second.ofs");
}

TEST(InfoParser, NumbersReadLikeDecimalConversion) {
  EXPECT_EQ(Parse(" DSTA +12").DSTA, 12);
  EXPECT_EQ(Parse(" DSTA -12x").DSTA, -12);
  EXPECT_EQ(Parse(" DSTA 0042").DSTA, 42);
  EXPECT_EQ(Parse(" DSTA abc").DSTA, 0);
  EXPECT_EQ(Parse(" DSTA -").DSTA, 0);
  EXPECT_EQ(Parse(" DSTA \r\n77").DSTA, 77);
}

TEST(InfoParser, NumbersBeyondThirtyTwoBitsSaturate) {
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  EXPECT_EQ(Parse(" DEND 2147483647").DEND, kMax);
  EXPECT_EQ(Parse(" DEND 2147483648").DEND, kMax);
  EXPECT_EQ(Parse(" DEND 99999999999999999999999999").DEND, kMax);
  EXPECT_EQ(Parse(" DEND -2147483648").DEND, kMin);
  EXPECT_EQ(Parse(" DEND -2147483649").DEND, kMin);
  EXPECT_EQ(Parse(" DEND -99999999999999999999999999").DEND, kMin);
}

TEST(InfoParser, LongNamesAreCutToTheBuffer) {
  const std::string exact(259, 'n');
  EXPECT_EQ(NameOf(Parse(" FBLK " + exact + " ").FBLK), exact);
  const ProjectSettings s = Parse(" FBLK " + std::string(300, 'm') + " NSIZ 77");
  EXPECT_EQ(NameOf(s.FBLK), std::string(259, 'm'));
  EXPECT_EQ(s.FBLK[259], '\0');
  EXPECT_EQ(s.NSIZ, 77);  // the rest of the text is still scanned
}

TEST(InfoParser, TagAtTheEndOfTheTextHasAnEmptyValue) {
  ProjectSettings start;
  start.FSEP = MakeName("old.zgl");
  EXPECT_EQ(Parse(" NSIZ", start).NSIZ, 0);
  EXPECT_EQ(Parse(" NSIZ ", start).NSIZ, 0);
  EXPECT_EQ(NameOf(Parse(" FSEP", start).FSEP), "");
  EXPECT_EQ(Parse(" DVIE", start).DVIE, 0);
  // Text stops at a zero byte even when more follows in the buffer.
  const char text[] = " NSIZ 12\0 BLKB 5";
  ProjectSettings s;
  ParseInfoText(text, s);
  EXPECT_EQ(s.NSIZ, 12);
  EXPECT_EQ(s.BLKB, 100);
}

TEST(ValidateProject, RefusesTableSizesAndBlockSizesThatCannotWork) {
  ProjectSettings s;
  EXPECT_FALSE(ValidateProject(s).has_value());
  s.NSIZ = 0;
  EXPECT_FALSE(ValidateProject(s).has_value());
  s.NSIZ = 20000;
  s.BLKB = 1;
  EXPECT_FALSE(ValidateProject(s).has_value());

  s.NSIZ = 20001;
  auto warning = ValidateProject(s);
  ASSERT_TRUE(warning.has_value());
  EXPECT_NE(warning->find("NSIZ"), std::string::npos);
  EXPECT_NE(warning->find("20001"), std::string::npos);

  s.NSIZ = -5;
  warning = ValidateProject(s);
  ASSERT_TRUE(warning.has_value());
  EXPECT_NE(warning->find("-5"), std::string::npos);

  s.NSIZ = 100;
  s.BLKB = 0;
  warning = ValidateProject(s);
  ASSERT_TRUE(warning.has_value());
  EXPECT_NE(warning->find("BLKB"), std::string::npos);
  EXPECT_NE(warning->find(" 0"), std::string::npos);
  EXPECT_LT(warning->size(), 576u);  // fits a message box text
}

// What the commands check beyond the settings: a value that holds no digit would become 0
// (DBLK 0 deletes a library's files), a cut name could name another file, and a text that
// names no files of its own is no project at all.
InfoTextReport Report(const std::string& text, ProjectSettings* settings = nullptr) {
  ProjectSettings local;
  InfoTextReport report;
  ParseInfoText(text.c_str(), settings != nullptr ? *settings : local, &report);
  return report;
}

std::string Refusal(const std::string& text) {
  ProjectSettings settings;
  const InfoTextReport report = Report(text, &settings);
  return ValidateProject(settings, &report).value_or("");
}

TEST(InfoTextReport, ValuesWithoutADigitAreRefusedNamingTagAndValue) {
  EXPECT_EQ(Refusal(" DBLK  3\n"), "The project cannot be used: DBLK \" 3\" is not a number.");
  EXPECT_EQ(Refusal(" DBLK x\n"), "The project cannot be used: DBLK \"x\" is not a number.");
  EXPECT_EQ(Refusal(" NSIZ -\n"), "The project cannot be used: NSIZ \"-\" is not a number.");
  EXPECT_EQ(Refusal(" DPAK"), "The project cannot be used: DPAK \"\" is not a number.");
  EXPECT_EQ(Refusal(" DARC \x01\x7F"), "The project cannot be used: DARC \"??\" is not a number.");
  // A number tag skips blanks and a sign as the conversion does; digits after it suffice.
  EXPECT_EQ(Refusal(" NSIZ   +6000 \n DSTA -1\n BLKB 50x\n DVIE 7\n"), "");
  // Only the last occurrence counts, as for the value itself.
  EXPECT_EQ(Refusal(" DBLK x\n DBLK 3\n"), "");
  EXPECT_NE(Refusal(" DBLK 3\n comment: DBLK is the output\n"), "");
}

TEST(InfoTextReport, NamesTooLongToKeepWholeAreRefused) {
  const std::string name259(259, 'a');
  EXPECT_EQ(Refusal(" FOFS " + name259 + " \n"), "");
  const std::string refusal = Refusal(" FOFS " + std::string(300, 'b') + " \n FCOO c.coo \n");
  EXPECT_NE(refusal.find("the FOFS name is 300 characters long"), std::string::npos);
  EXPECT_NE(refusal.find("at most 259"), std::string::npos);
  EXPECT_NE(refusal.find("\"" + std::string(40, 'b') + "...\""), std::string::npos);
  EXPECT_LT(refusal.size(), 576u);
  // The settings are what they always were: the name cut to its buffer.
  ProjectSettings s;
  Report(" FCOO " + std::string(300, 'b') + " ", &s);
  EXPECT_EQ(NameOf(s.FCOO), std::string(259, 'b'));
}

TEST(InfoTextReport, ATextWithoutOutputsOrSourcesIsNoProject) {
  const std::string outputs = " FOFS a.ofs \n";
  const std::string sources = " FPCX pcx\\p0_0_0_0.pcx \n";
  EXPECT_FALSE(MissingProjectPart(Report(outputs + sources)).has_value());
  EXPECT_FALSE(MissingProjectPart(Report(" FBLK b00.blk \n FWAV w0_0_0_0.wav ")).has_value());
  for (const std::string& text :
       {std::string(), std::string("; comments only, no tags at all\n"),
        std::string("\x89PNG\r\n\x1a\n\x01\x02"), sources, " FCOL colours.pal " + sources,
        // Given but empty: two blanks after the tag.
        " FOFS  \n FCOO  \n" + sources}) {
    const auto missing = MissingProjectPart(Report(text));
    ASSERT_TRUE(missing.has_value()) << text;
    EXPECT_EQ(*missing, "it names no output file (FSEP, FCOO, FOFS or FBLK)");
  }
  EXPECT_EQ(MissingProjectPart(Report(outputs)).value_or(""),
            "it names no source pattern (FPCX, FLBM, FPNG or FWAV)");
  // PNG sources alone make a project too.
  EXPECT_FALSE(MissingProjectPart(Report(outputs + " FPNG png\\q0_0_0_0.png \n")).has_value());
  // Settings an earlier file left do not make a project of this text.
  ProjectSettings earlier = Parse(outputs + sources);
  EXPECT_TRUE(MissingProjectPart(Report(" NSIZ 5000\n", &earlier)).has_value());
  EXPECT_EQ(NameOf(earlier.FOFS), "a.ofs");
}

}  // namespace
}  // namespace zemlo
