// Names on their way to a terminal: control characters and broken UTF-8 come out as escapes
// a person can read, everything else exactly as it was.
#include "core/escaped_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

namespace zemlo {
namespace {

using namespace std::string_view_literals;

TEST(EscapeControls, ControlCharactersBecomeEscapesAndBackslashesStay) {
  for (const auto& [raw, shown] : {
           std::pair{"demo.coo\nFOFS"sv, "demo.coo\\nFOFS"sv},
           std::pair{"a\r\nb\tc"sv, "a\\r\\nb\\tc"sv},
           std::pair{"x\x1b[8m.blk"sv, "x\\x1b[8m.blk"sv},
           std::pair{"nul\0byte"sv, "nul\\x00byte"sv},
           std::pair{"\x01\x1f\x7f"sv, "\\x01\\x1f\\x7f"sv},
           // Windows names keep their separators, and text that merely looks escaped too.
           std::pair{"pcx\\p3_0_0_0.pcx"sv, "pcx\\p3_0_0_0.pcx"sv},
           std::pair{"C:\\new\\x1b"sv, "C:\\new\\x1b"sv},
           std::pair{" ~!\"#$%&'()*+,-./09:;<=>?@AZ[]^_`az{|}"sv,
                     " ~!\"#$%&'()*+,-./09:;<=>?@AZ[]^_`az{|}"sv},
           std::pair{""sv, ""sv},
       }) {
    EXPECT_EQ(EscapeControls(raw), shown) << shown;
  }
}

TEST(EscapeControls, WellFormedUtf8StaysAndEveryOtherHighByteIsEscaped) {
  for (const auto& [raw, shown] : {
           // Two, three and four bytes, the highest code point, a no-break space.
           std::pair{"B\xc3\xa4ume \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf"sv,
                     "B\xc3\xa4ume \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf"sv},
           std::pair{"a\xc2\xa0"
                     "b"sv,
                     "a\xc2\xa0"
                     "b"sv},
           // C1 controls are controls, though well-formed: U+009B starts a sequence in some
           // terminals as ESC [ does.
           std::pair{"\xc2\x9b"
                     "8m\xc2\x80\xc2\x9f"sv,
                     "\\xc2\\x9b8m\\xc2\\x80\\xc2\\x9f"sv},
           // A name in a Windows code page.
           std::pair{"B\xe4ume.pcx"sv, "B\\xe4ume.pcx"sv},
           // Cut short, at the end and before ASCII; a lone continuation byte.
           std::pair{"\xe2\x82"sv, "\\xe2\\x82"sv},
           std::pair{"\xc3"
                     "A\xf0\x9f\x98"
                     "B"sv,
                     "\\xc3A\\xf0\\x9f\\x98B"sv},
           std::pair{"\x80\xbf"sv, "\\x80\\xbf"sv},
           // Overlong forms, a surrogate, beyond U+10FFFF, bytes that never occur.
           std::pair{"\xc0\xaf\xc1\xbf"sv, "\\xc0\\xaf\\xc1\\xbf"sv},
           std::pair{"\xe0\x80\xaf\xf0\x8f\xbf\xbf"sv, "\\xe0\\x80\\xaf\\xf0\\x8f\\xbf\\xbf"sv},
           std::pair{"\xed\xa0\x80"sv, "\\xed\\xa0\\x80"sv},
           std::pair{"\xf4\x90\x80\x80\xf5\xff\xfe"sv, "\\xf4\\x90\\x80\\x80\\xf5\\xff\\xfe"sv},
           // An escaped byte does not take the valid sequence after it along.
           std::pair{"\xe2\xc3\xa4"sv, "\\xe2\xc3\xa4"sv},
       }) {
    EXPECT_EQ(EscapeControls(raw), shown) << shown;
  }
}

TEST(EscapeControls, AHostileNameComesOutAsOnePlainLine) {
  // A block name meant to end the findings with a false summary and hide the rest.
  const std::string_view name =
      "x\x1b[8m\n41\xc2\xa0icons\xc2\xa0verified,\xc2\xa0"
      "0\xc2\xa0"
      "findings\n\x1b[8m\x9b"
      "00.blk";
  const std::string shown = EscapeControls(name);
  EXPECT_EQ(shown,
            "x\\x1b[8m\\n41\xc2\xa0icons\xc2\xa0verified,\xc2\xa0"
            "0\xc2\xa0"
            "findings\\n\\x1b[8m\\x9b"
            "00.blk");
  for (const char c : shown) EXPECT_FALSE(IsControlByte(c));
  EXPECT_EQ(EscapeControls(shown), shown);  // nothing left to escape
}

}  // namespace
}  // namespace zemlo
