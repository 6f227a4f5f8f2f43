// Names in project files name the same file when the file layer would find the same one.
#include "files/file_names.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace zemlo::files {
namespace {

TEST(FileNames, CompareAsTheFileLayerFindsThem) {
  EXPECT_EQ(NameKey("Blk\\LIB30.blk"), "blk/lib30.blk");
  EXPECT_EQ(NameKey("./blk//lib30.BLK"), "blk/lib30.blk");
  EXPECT_EQ(NameKey("sep\\..\\blk\\lib30.blk"), "blk/lib30.blk");
  EXPECT_EQ(NameKey("..\\up.ofs"), "../up.ofs");
  EXPECT_EQ(NameKey("/../x"), "/x");
  EXPECT_NE(NameKey("lib.ofs"), NameKey("lib.of"));

  for (const auto& [a, b] :
       {std::pair{"demo.ofs", ".\\demo.ofs"}, std::pair{"demo.ofs", "./DEMO.OFS"},
        std::pair{"lib\\demo.ofs", "LIB/demo.ofs"}, std::pair{"lib//demo.ofs", "lib\\.\\demo.ofs"},
        std::pair{"x\\..\\demo.ofs", "demo.ofs"}, std::pair{"/a/demo.ofs", "\\A\\demo.ofs"}}) {
    EXPECT_TRUE(NamesSameFile(a, b)) << a << " " << b;
  }
  for (const auto& [a, b] :
       {std::pair{"demo.ofs", "..\\demo.ofs"}, std::pair{"demo.ofs", "/demo.ofs"},
        std::pair{"demo.ofs", "demo.of"}, std::pair{"demo.ofs", "demo.ofs.lock"},
        std::pair{"a\\demo.ofs", "b\\demo.ofs"}, std::pair{"demo.ofs", ""}}) {
    EXPECT_FALSE(NamesSameFile(a, b)) << a << " " << b;
  }
}

TEST(FileNames, OnlyAsciiLettersFoldAndExtensionsFollowTheSameRule) {
  // The file layer finds "DEMO.PNG" for "demo.png" by folding A to Z alone; a name whose
  // bytes differ in anything else (accented letters in a code page) is another file, so
  // the extension tests and the same-file test must not fold more than the lookup does.
  EXPECT_EQ(FoldCase('Q'), 'q');
  EXPECT_EQ(FoldCase('q'), 'q');
  EXPECT_EQ(FoldCase('\xC4'), '\xC4');
  EXPECT_EQ(FoldCase('['), '[');
  EXPECT_TRUE(EndsWithIgnoringCase("pic\\A3_0_0_1.PnG", ".png"));
  EXPECT_TRUE(EndsWithIgnoringCase(".png", ".png"));
  EXPECT_FALSE(EndsWithIgnoringCase("png", ".png"));
  EXPECT_FALSE(EndsWithIgnoringCase("a.pn\xC7", ".pn\xE7"));
  EXPECT_NE(NameKey("\xC4.blk"), NameKey("\xE4.blk"));
}

// The key as a list of parts: the plain form of the rule, for the one-pass key to match.
std::string PlainNameKey(std::string_view name) {
  std::vector<std::string> parts;
  const bool absolute = !name.empty() && (name.front() == '/' || name.front() == '\\');
  std::string part;
  const auto finish = [&] {
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (const char c : name) {
    if (c == '/' || c == '\\') {
      finish();
    } else {
      part.push_back(FoldCase(c));
    }
  }
  finish();
  std::string key = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) key.push_back('/');
    key += parts[i];
  }
  return key;
}

// Names made of parts that the rule treats apart: ".", "..", empty parts, "..." and ".x",
// letters of both cases, both separators, from the root or not.
TEST(FileNames, TheKeyFollowsThePlainRuleOnRandomNames) {
  std::mt19937 rng(99);
  const char* const pieces[] = {".", "..", "", "...", ".x", "Ab", "z", "LIB30.BLK", "..a"};
  for (int round = 0; round < 5000; ++round) {
    std::string name = rng() % 4 == 0 ? (rng() % 2 == 0 ? "/" : "\\") : "";
    const int parts = int(rng() % 7);
    for (int k = 0; k < parts; ++k) {
      if (k > 0) name += rng() % 2 == 0 ? '/' : '\\';
      name += pieces[rng() % std::size(pieces)];
    }
    if (rng() % 5 == 0) name += '/';
    ASSERT_EQ(NameKey(name), PlainNameKey(name)) << name;
  }
}

TEST(FileNames, AbsoluteNamesStartAtARootOrADrive) {
  EXPECT_TRUE(IsAbsolute("/lib/demo.ofs"));
  EXPECT_TRUE(IsAbsolute("\\lib\\demo.ofs"));
  EXPECT_TRUE(IsAbsolute("c:demo.ofs"));
  EXPECT_TRUE(IsAbsolute("C:\\demo.ofs"));
  EXPECT_FALSE(IsAbsolute("demo.ofs"));
  EXPECT_FALSE(IsAbsolute(".\\demo.ofs"));
  EXPECT_FALSE(IsAbsolute(""));
}

}  // namespace
}  // namespace zemlo::files
