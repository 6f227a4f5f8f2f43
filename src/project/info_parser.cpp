#include "project/info_parser.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <utility>

#include "core/geometry.h"

namespace zemlo {
namespace {

// A tag's value starts this many bytes after the tag: four letters and one separator.
constexpr std::size_t kValueDistance = 5;
constexpr std::size_t kTagLength = 4;

constexpr std::int32_t kMaxEntries = kOffsetsCapacity;

// Values quoted in messages are cut to this many characters.
constexpr std::size_t kWrittenLimit = 40;

enum class Kind { kNumber, kName, kTwoBits, kOneBit };

struct Tag {
  const char* letters;
  Kind kind;
  std::int32_t ProjectSettings::*number = nullptr;
  Name ProjectSettings::*name = nullptr;
  std::uint8_t ProjectSettings::*character = nullptr;
};

// In the order the tags are compared.
const std::array<Tag, 20> kTags = {{
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
    // Added last: older programs ignore it, and nothing before it changes.
    {"FPNG", Kind::kName, nullptr, &ProjectSettings::FPNG},
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

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where ReadNumber would find its first digit, if there is one.
bool NumberHasDigit(const char* p) {
  while (IsSpace(*p)) ++p;
  if (*p == '+' || *p == '-') ++p;
  return IsDigit(*p);
}

std::size_t NameLength(const char* p) {
  std::size_t n = 0;
  while (p[n] != '\0' && p[n] != ' ' && p[n] != '\t') ++n;
  return n;
}

// The value up to the line end; bytes a terminal would not show become "?".
std::string Written(const char* p) {
  std::string out;
  for (; *p != '\0' && *p != '\n' && *p != '\r'; ++p) {
    if (out.size() == kWrittenLimit) return out + "...";
    const auto byte = static_cast<unsigned char>(*p);
    out.push_back(byte < 0x20 || byte >= 0x7F ? '?' : *p);
  }
  return out;
}

void Note(const Tag& tag, const char* value, InfoTextReport& report) {
  TagNote note;
  note.written = Written(value);
  switch (tag.kind) {
    case Kind::kNumber:
      note.has_digit = NumberHasDigit(value);
      break;
    case Kind::kName:
      note.name_length = NameLength(value);
      break;
    case Kind::kTwoBits:
    case Kind::kOneBit:
      note.has_digit = IsDigit(*value);
      break;
  }
  report.tags.insert_or_assign(tag.letters, std::move(note));
}

}  // namespace

const TagNote* InfoTextReport::Find(std::string_view tag) const {
  const auto found = tags.find(tag);
  return found == tags.end() ? nullptr : &found->second;
}

bool InfoTextReport::Names(std::string_view tag) const {
  const TagNote* note = Find(tag);
  return note != nullptr && note->name_length > 0;
}

void ParseInfoText(const char* text, ProjectSettings& settings, InfoTextReport* report) {
  if (text == nullptr) return;
  // The first byte is only ever taken, never compared: a tag there is not seen.
  for (const char* p = text; *p++ != '\0';) {
    for (const Tag& tag : kTags) {
      // strncmp stops at the text's zero byte, so it never reads past the text.
      if (std::strncmp(p, tag.letters, kTagLength) != 0) continue;
      // A tag whose separator is the end of the text has the empty text as its value.
      const char* value = p[kTagLength] == '\0' ? p + kTagLength : p + kValueDistance;
      if (report != nullptr) Note(tag, value, *report);
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

std::optional<std::string> ValidateProject(const ProjectSettings& settings,
                                           const InfoTextReport* report) {
  if (report != nullptr) {
    // In the order the tags are compared, so the same text always gives the same refusal.
    for (const Tag& tag : kTags) {
      const TagNote* note = report->Find(tag.letters);
      if (note == nullptr) continue;
      if (!note->has_digit) {
        return "The project cannot be used: " + std::string(tag.letters) + " \"" + note->written +
               "\" is not a number.";
      }
      if (note->name_length >= kNameSize) {
        return "The project cannot be used: the " + std::string(tag.letters) + " name is " +
               std::to_string(note->name_length) +
               " characters long, but a name may have at most " + std::to_string(kNameSize - 1) +
               " (\"" + note->written + "\").";
      }
    }
  }
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

std::optional<std::string> MissingProjectPart(const InfoTextReport& report) {
  const auto names_any = [&report](std::initializer_list<std::string_view> tags) {
    for (const std::string_view tag : tags) {
      if (report.Names(tag)) return true;
    }
    return false;
  };
  if (!names_any({"FSEP", "FCOO", "FOFS", "FBLK"})) {
    return "it names no output file (FSEP, FCOO, FOFS or FBLK)";
  }
  if (!names_any({"FPCX", "FLBM", "FPNG", "FWAV"})) {
    return "it names no source pattern (FPCX, FLBM, FPNG or FWAV)";
  }
  return std::nullopt;
}

std::vector<std::string_view> TagLetters() {
  std::vector<std::string_view> letters;
  for (const Tag& tag : kTags) letters.emplace_back(tag.letters);
  return letters;
}

}  // namespace zemlo
