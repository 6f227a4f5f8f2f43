// Words in a project file that look like tags but are none, so the parser passes them by
// without a word: a tag with a letter too many, too few or wrong ("DPACK 2") or two letters
// swapped, a tag in lower
// case ("dpak 2"), and a tag in the file's very first bytes, where no tag is ever read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zemlo {

// One text per such word, naming its line and the tag it was near. Only the first word of a
// line is looked at (after blanks and tabs), so comments stay free elsewhere; a word in lower
// or mixed case counts only when it is a tag but for its case. `text` is the info text as the
// parser reads it (up to its first zero byte).
std::vector<std::string> TagNearMisses(std::string_view text);

}  // namespace zemlo
