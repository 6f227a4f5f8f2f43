// Names come from project files, folders and libraries that anyone may have written. Printed
// as they are, a line break in a name starts a line that looks like zgl's own, and an escape
// sequence can hide, recolour or overwrite what a terminal shows. Whatever prints names
// passes them through EscapeControls first.
#pragma once

#include <string>
#include <string_view>

namespace zemlo {

// `text` with every control character written as an escape: "\n", "\r", "\t" and "\xhh" for
// the others (ESC is "\x1b", DEL "\x7f"), including the C1 controls U+0080 to U+009F, whose
// two UTF-8 bytes become "\xc2\x80" to "\xc2\x9f". Each byte that is not part of well-formed
// UTF-8 is written "\xhh" too. A backslash stays as it is: Windows names are full of them, and
// an escape is only ever read by a person.
std::string EscapeControls(std::string_view text);

// Whether the byte is an ASCII control character (0x00 to 0x1F, or DEL).
constexpr bool IsControlByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

}  // namespace zemlo
