// What a project file sets, tag by tag, for a reader who wants to know what a run would do
// with it before running it: each setting's value, whether the file gives it or it is the
// default, and what that value means (a pattern with a name stamped from it, a number code
// with its words).
#pragma once

#include <string>
#include <vector>

#include "project/info_parser.h"
#include "project/project_settings.h"

namespace zemlo {

struct SettingLine {
  std::string tag;      // the four letters
  std::string value;    // as the run takes it; "-" for a name that is not given
  bool given = false;   // the file gives the tag; otherwise the value is the default
  std::string meaning;  // a few words on what the value does
};

// The settings a run uses, in the order a project file usually gives them, then those that
// are read and kept but used by no command. `settings` is what parsing the text into the
// defaults gave, `report` what the parser noted about the same text.
std::vector<SettingLine> ListSettings(const ProjectSettings& settings,
                                      const InfoTextReport& report);

}  // namespace zemlo
