// The project info file: four-letter tags with values, searched at every byte of the text.
#pragma once

#include <optional>
#include <string>

#include "project/project_settings.h"

namespace zemlo {

// The info text buffer holds this much text (plus one zero byte); commands read at most this.
inline constexpr std::size_t kInfoTextLimit = 4096;

// Assigns every setting whose tag occurs in the zero-terminated `text` (the last occurrence
// wins); settings whose tag does not occur keep their values. Reports nothing. Names of 260
// characters or more are cut to 259; numbers beyond the 32-bit range saturate.
void ParseInfoText(const char* text, ProjectSettings& settings);

// A warning text when the settings cannot be used (NSIZ outside 0 to 20000, BLKB below 1):
// the commands show it and write nothing. nullopt when the project is usable.
std::optional<std::string> ValidateProject(const ProjectSettings& settings);

}  // namespace zemlo
