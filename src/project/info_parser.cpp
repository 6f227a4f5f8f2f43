#include "project/info_parser.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

namespace zemlo {
namespace {

// A tag's value starts this many bytes after the tag: four letters and one separator.
constexpr std::size_t kValueDistance = 5;
constexpr std::size_t kTagLength = 4;

constexpr std::int32_t kMaxEntries = 20000;  // capacity of the offsets table

enum class Kind { kNumber, kName, kTwoBits, kOneBit };

struct Tag {
  const char* letters;
  Kind kind;
  std::int32_t ProjectSettings::*number = nullptr;
  Name ProjectSettings::*name = nullptr;
  std::uint8_t ProjectSettings::*character = nullptr;
};

// In the order the tags are compared.
const std::array<Tag, 19> kTags = {{
    {"SXSZ", Kind::kNumber, &ProjectSettings::SXSZ},
    {"SYSZ", Kind::kNumber, &ProjectSettings::SYSZ},
    {"SBPP", Kind::kNumber, &ProjectSettings::SBPP},
    {"FCOL", Kind::kName, nullptr, &ProjectSettings::FCOL},
    {"FSEP", Kind::kName, nullptr, &ProjectSettings::FSEP},
    {"FCOO", Kind::kName, nullptr, &ProjectSettings::FCOO},
    {"FOFS", Kind::kName, nullptr, &ProjectSettings::FOFS},
    {"FBLK", Kind::kName, nullptr, &ProjectSettings::FBLK},
    {"FPCX", Kind::kName, nullptr, &ProjectSettings::FPCX},
    {"FWAV", Kind::kName, nullptr, &ProjectSettings::FWAV},
    {"FLBM", Kind::kName, nullptr, &ProjectSettings::FLBM},
    {"NSIZ", Kind::kNumber, &ProjectSettings::NSIZ},
    {"BLKB", Kind::kNumber, &ProjectSettings::BLKB},
    {"DSTA", Kind::kNumber, &ProjectSettings::DSTA},
    {"DEND", Kind::kNumber, &ProjectSettings::DEND},
    {"DVIE", Kind::kTwoBits, nullptr, nullptr, &ProjectSettings::DVIE},
    {"DBLK", Kind::kTwoBits, nullptr, nullptr, &ProjectSettings::DBLK},
    {"DARC", Kind::kOneBit, nullptr, nullptr, &ProjectSettings::DARC},
    {"DPAK", Kind::kTwoBits, nullptr, nullptr, &ProjectSettings::DPAK},
}};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal as strtol reads it, saturating at the 32-bit limits instead of wrapping.
std::int32_t ReadNumber(const char* p) {
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > kLimit) value = kLimit;  // stays saturated however many digits follow
  }
  if (negative) return static_cast<std::int32_t>(-value);
  return value > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                          : static_cast<std::int32_t>(value);
}

// Up to the first blank or tab (line ends do not end a name); cut to the buffer.
void ReadName(const char* p, Name& name) {
  std::size_t n = 0;
  while (p[n] != '\0' && p[n] != ' ' && p[n] != '\t' && n < name.size() - 1) {
    name[n] = p[n];
    ++n;
  }
  name[n] = '\0';
}

}  // namespace

void ParseInfoText(const char* text, ProjectSettings& settings) {
  if (text == nullptr) return;
  // The first byte is only ever taken, never compared: a tag there is not seen.
  for (const char* p = text; *p++ != '\0';) {
    for (const Tag& tag : kTags) {
      // strncmp stops at the text's zero byte, so it never reads past the text.
      if (std::strncmp(p, tag.letters, kTagLength) != 0) continue;
      // A tag whose separator is the end of the text has the empty text as its value.
      const char* value = p[kTagLength] == '\0' ? p + kTagLength : p + kValueDistance;
      switch (tag.kind) {
        case Kind::kNumber:
          settings.*tag.number = ReadNumber(value);
          break;
        case Kind::kName:
          ReadName(value, settings.*tag.name);
          break;
        case Kind::kTwoBits:
          settings.*tag.character = static_cast<std::uint8_t>(*value) & 3;
          break;
        case Kind::kOneBit:
          settings.*tag.character = static_cast<std::uint8_t>(*value) & 1;
          break;
      }
      break;
    }
  }
}

std::optional<std::string> ValidateProject(const ProjectSettings& settings) {
  if (settings.NSIZ < 0 || settings.NSIZ > kMaxEntries) {
    return "The project cannot be used: NSIZ is " + std::to_string(settings.NSIZ) +
           ", but it must lie between 0 and " + std::to_string(kMaxEntries) + ".";
  }
  if (settings.BLKB < 1) {
    return "The project cannot be used: BLKB is " + std::to_string(settings.BLKB) +
           ", but it must be at least 1.";
  }
  return std::nullopt;
}

}  // namespace zemlo
