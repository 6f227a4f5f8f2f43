// The project info text: any bytes up to the info buffer's size, parsed over the start-up
// defaults and then validated. Every name must stay zero-terminated inside its buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_assert.h"
#include "project/info_parser.h"
#include "project/project_settings.h"

namespace {

void CheckName(const zemlo::Name& name) {
  FUZZ_ASSERT_MSG(std::memchr(name.data(), 0, name.size()) != nullptr,
                  "a name ends inside its field");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The command reads at most kInfoTextLimit bytes and stores a zero after them.
  const std::size_t n = size < zemlo::kInfoTextLimit ? size : zemlo::kInfoTextLimit;
  std::vector<char> text(data, data + n);
  text.push_back('\0');

  zemlo::ProjectSettings settings;
  zemlo::InfoTextReport report;
  zemlo::ParseInfoText(text.data(), settings, &report);
  for (const zemlo::Name* name :
       {&settings.FCOL, &settings.FSEP, &settings.FCOO, &settings.FOFS, &settings.FBLK,
        &settings.FPCX, &settings.FWAV, &settings.FLBM, &settings.FPNG}) {
    CheckName(*name);
  }
  const auto refusal = zemlo::ValidateProject(settings, &report);
  // A project that passes must be one the store can index without leaving its tables, and
  // must have every name whole.
  FUZZ_ASSERT_MSG(refusal || (settings.NSIZ >= 0 && settings.NSIZ <= 20000 && settings.BLKB >= 1),
                  "accepted settings are in range");
  for (const auto& [tag, note] : report.tags) {
    FUZZ_ASSERT_MSG(refusal || (note.has_digit && note.name_length < zemlo::kNameSize),
                    "an accepted pattern has a digit and fits");
    FUZZ_ASSERT_MSG(note.written.size() <= 43, "messages quote values shortened");
  }
  zemlo::MissingProjectPart(report);
  // Parsing a second text on top of the first keeps the earlier values where tags are absent.
  zemlo::ParseInfoText(text.data(), settings);
  return 0;
}
