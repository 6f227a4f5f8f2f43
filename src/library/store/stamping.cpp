#include "library/store/stamping.h"

namespace zemlo {
namespace {

// Highest character a leading place may take: "0" + value (+ 7 past 9) stays printable.
constexpr int kLastStampCharacter = '~';

// Position of the first "." from the second character on, or of the terminating zero.
// A pattern without a terminating zero inside its buffer counts as the whole buffer.
int DotPosition(const Name& pattern) {
  if (pattern[0] == '\0') return 0;
  for (std::size_t i = 1; i < pattern.size(); ++i) {
    if (pattern[i] == '.' || pattern[i] == '\0') return static_cast<int>(i);
  }
  return static_cast<int>(pattern.size()) - 1;
}

// "0" to "9", then "A" for 10 and on; 0 when the value has no printable character.
char LeadingDigit(int value) {
  const int code = '0' + value + (value > 9 ? 7 : 0);
  return code <= kLastStampCharacter ? static_cast<char>(code) : '\0';
}

bool NameNoFile(Name& pattern) {
  pattern[0] = '\0';
  return false;
}

}  // namespace

bool StampIconNumber(int icon, Name& pattern) {
  const int dot = DotPosition(pattern);
  if (dot < 7 || icon < 0) return NameNoFile(pattern);
  const char thousands = LeadingDigit(icon / 1000);
  if (thousands == '\0') return NameNoFile(pattern);
  pattern[dot - 7] = thousands;
  pattern[dot - 5] = static_cast<char>('0' + (icon % 1000) / 100);
  pattern[dot - 3] = static_cast<char>('0' + (icon % 100) / 10);
  pattern[dot - 1] = static_cast<char>('0' + icon % 10);
  return true;
}

bool StampBlockNumber(int block, Name& pattern) {
  const int dot = DotPosition(pattern);
  if (dot < 2 || block < 0) return NameNoFile(pattern);
  const char tens = LeadingDigit(block / 10);
  if (tens == '\0') return NameNoFile(pattern);
  pattern[dot - 2] = tens;
  pattern[dot - 1] = static_cast<char>('0' + block % 10);
  return true;
}

}  // namespace zemlo
