// Names in project files name the same file when the file layer would find the same one.
#include "files/file_names.h"

#include <gtest/gtest.h>

#include <utility>

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

}  // namespace
}  // namespace zemlo::files
