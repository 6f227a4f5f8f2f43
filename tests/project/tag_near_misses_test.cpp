// Words of a project file that look like tags but are none are named with their line and
// the tag they were near; comments and real tags give nothing.
#include "project/tag_near_misses.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zemlo {
namespace {

using Misses = std::vector<std::string>;

TEST(TagNearMisses, ATagWithALetterTooManyTooFewWrongOrSwappedIsNamedWithTheTagMeant) {
  EXPECT_EQ(TagNearMisses(" demo\nFSEP s0_0_0_0.zgi \nDPACK 2\n  NSZ 5000\n\tDBLX 3\n"),
            (Misses{"line 3: \"DPACK\" is no tag and was ignored; did you mean DPAK?",
                    "line 4: \"NSZ\" is no tag and was ignored; did you mean NSIZ?",
                    "line 5: \"DBLX\" is no tag and was ignored; did you mean DBLK?"}));
  // A line that ends in a carriage return.
  EXPECT_EQ(TagNearMisses(" x\r\nFPGN png\\q0_0_0_0.png \r\nFPNG\r\n"),
            Misses{"line 2: \"FPGN\" is no tag and was ignored; did you mean FPNG?"});
}

TEST(TagNearMisses, ATagInLowerCaseIsNamedAndCommentsStayFree) {
  EXPECT_EQ(TagNearMisses(" x\ndpak 2\nFsep s0_0_0_0.zgi \n"),
            (Misses{"line 2: \"dpak\" is no tag (tags are in capitals) and was ignored; did you "
                    "mean DPAK?",
                    "line 3: \"Fsep\" is no tag (tags are in capitals) and was ignored; did you "
                    "mean FSEP?"}));
  // Words in comments, mixed-case words near a tag, longer words, words glued to more text,
  // and words that are not first on their line are no typos.
  EXPECT_EQ(TagNearMisses(" Data for the demo: DPACK is fine here\nNote: BLKB 100\n"
                          "Outputs\nDPAK2\n FSEP s0_0_0_0.zgi \n"),
            Misses{});
}

TEST(TagNearMisses, ATagAtTheVeryStartIsNamedBecauseItIsNeverRead) {
  EXPECT_EQ(TagNearMisses("NSIZ 500\nNSIZ 5000\n"),
            Misses{"line 1: \"NSIZ\" at the very start of the file is not read (a tag is never "
                   "read from the first byte): start the file with a blank"});
  EXPECT_EQ(TagNearMisses(" NSIZ 500\n"), Misses{});
  // The parser stops at a zero byte; so does the look.
  EXPECT_EQ(TagNearMisses(std::string(" x\n", 3) + std::string(1, '\0') + "DPACK 2\n"), Misses{});
}

}  // namespace
}  // namespace zemlo
