// A name field of the settings holding `text`, cut to the field's size as the parser cuts it.
#pragma once

#include <string>

#include "project/project_settings.h"

namespace zemlo::testing {

inline Name MakeName(const std::string& text) {
  Name name{};
  text.copy(name.data(), name.size() - 1);
  return name;
}

}  // namespace zemlo::testing
