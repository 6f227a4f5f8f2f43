// The project info file: four-letter tags with values, searched at every byte of the text.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "project/project_settings.h"

namespace zemlo {

// The info text buffer holds this much text (plus one zero byte); commands read at most this.
inline constexpr std::size_t kInfoTextLimit = 4096;

// What a text said about one tag, from its last occurrence: the one whose value stands.
struct TagNote {
  // Number tags: the value holds a decimal digit where it is read (after blanks and a sign);
  // character tags: the value's one byte is a digit. Without one the setting becomes 0,
  // which is never what was meant.
  bool has_digit = true;
  // Name tags: the name's full length; more than a name holds is cut.
  std::size_t name_length = 0;
  // The value as written, up to the line end, shortened and made printable for messages.
  std::string written;
};

// Filled by ParseInfoText for the commands' checks; ParseInfoText itself still reports
// nothing and assigns exactly what it always did.
struct InfoTextReport {
  std::map<std::string, TagNote, std::less<>> tags;  // by tag letters; only tags that occur

  const TagNote* Find(std::string_view tag) const;
  // The text gives the name tag a value of at least one character.
  bool Names(std::string_view tag) const;
};

// Assigns every setting whose tag occurs in the zero-terminated `text` (the last occurrence
// wins); settings whose tag does not occur keep their values. Reports nothing. Names of 260
// characters or more are cut to 259; numbers beyond the 32-bit range saturate. With a
// `report`, what the text said about each tag is noted there as well.
void ParseInfoText(const char* text, ProjectSettings& settings, InfoTextReport* report = nullptr);

// The letters of every tag, in the order the parser compares them.
std::vector<std::string_view> TagLetters();

// A warning text when the settings cannot be used (NSIZ outside 0 to 20000, BLKB below 1),
// and with a `report` also when a number tag's value holds no digit or a name was too long
// to keep whole: the commands show it and write nothing. nullopt when the project is usable.
std::optional<std::string> ValidateProject(const ProjectSettings& settings,
                                           const InfoTextReport* report = nullptr);

// A text that names no output file (FSEP, FCOO, FOFS, FBLK) or no source pattern (FPCX,
// FLBM, FPNG, FWAV) of its own is no project info file, whatever settings an earlier file left:
// what it lacks, for the commands' refusal; nullopt for a project.
std::optional<std::string> MissingProjectPart(const InfoTextReport& report);

}  // namespace zemlo
