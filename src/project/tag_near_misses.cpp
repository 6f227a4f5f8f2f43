#include "project/tag_near_misses.h"

#include <algorithm>
#include <cstddef>

#include "core/edit_distance.h"
#include "project/info_parser.h"

namespace zemlo {
namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

}  // namespace

std::vector<std::string> TagNearMisses(std::string_view text) {
  text = text.substr(0, std::min(text.find('\0'), text.size()));
  const std::vector<std::string_view> tags = TagLetters();
  const auto is_tag = [&tags](std::string_view word) {
    return std::find(tags.begin(), tags.end(), word) != tags.end();
  };
  std::vector<std::string> misses;
  int line = 1;
  for (std::size_t at = 0; at < text.size(); ++line) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::size_t start = at;
    while (start < end && (text[start] == ' ' || text[start] == '\t')) ++start;
    std::size_t stop = start;
    while (stop < end && IsLetter(text[stop])) ++stop;
    const std::string_view word = text.substr(start, stop - start);
    const std::string where = "line " + std::to_string(line) + ": \"" + std::string(word) + "\"";
    // Only a whole word: "DPAKx" or "FSEP2" is text, not a typo.
    const bool whole = stop == end || text[stop] == ' ' || text[stop] == '\t' || text[stop] == '\r';
    if (whole && word.size() >= 3 && word.size() <= 5) {
      std::string upper(word);
      std::transform(upper.begin(), upper.end(), upper.begin(), Upper);
      if (is_tag(word)) {
        if (start == 0) {
          misses.push_back(where +
                           " at the very start of the file is not read (a tag is never "
                           "read from the first byte): start the file with a blank");
        }
      } else if (is_tag(upper)) {
        misses.push_back(where +
                         " is no tag (tags are in capitals) and was ignored; did you "
                         "mean " +
                         upper + "?");
      } else if (std::all_of(word.begin(), word.end(), IsUpper)) {
        for (const std::string_view tag : tags) {
          if (EditDistance(word, tag) == 1) {
            misses.push_back(where + " is no tag and was ignored; did you mean " +
                             std::string(tag) + "?");
            break;
          }
        }
      }
    }
    at = end + 1;
  }
  return misses;
}

}  // namespace zemlo
