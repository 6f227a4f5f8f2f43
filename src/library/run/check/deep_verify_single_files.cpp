// The single entry file layout: each icon's entry is the whole of the file FSEP names for it.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/run/check/deep_verify_walker.h"
#include "library/run/entry_loading.h"
#include "library/store/stamping.h"

namespace zemlo::deep_verify_walker {

// The single entry file of `icon`, or nullopt when the pattern cannot name it (said once).
std::optional<std::string> Verifier::SingleName(int icon) {
  Name name = settings_.FSEP;
  if (StampIconNumber(icon, name)) return NameOf(name);
  if (!single_pattern_reported_) {
    single_pattern_reported_ = true;
    Add(icon, NameOf(settings_.FSEP), "the single entry file pattern cannot name this icon");
  }
  return std::nullopt;
}

std::optional<std::span<const std::uint8_t>> Verifier::ReadSingleFile(
    int icon, const std::string& name, std::span<std::uint8_t> buffer) {
  const std::int64_t length = FileLength(name.c_str());
  if (length > static_cast<std::int64_t>(kSingleEntryReadLimit)) {
    Add(icon, name,
        Cat("single entry file of ", length, " bytes is longer than the ", kSingleEntryReadLimit,
            " bytes an entry file is read to"));
    return std::nullopt;
  }
  const auto read = ReadWholeFile(name.c_str(), buffer, kSingleEntryReadLimit);
  if (!read || static_cast<std::int64_t>(*read) != length) {
    Add(icon, name, "single entry file could not be read");
    return std::nullopt;
  }
  return std::span<const std::uint8_t>(buffer.first(*read));
}

void Verifier::VerifySingleFiles() {
  for (int icon = 0; icon < records_ && !Stopped(); ++icon) {
    Progress(icon);
    const auto name = SingleName(icon);
    if (!name || !files::Exists(name->c_str())) continue;
    VerifiedIcon info = StartIcon(icon, *name);
    const auto stored = ReadSingleFile(icon, *name, state_.file.span());
    if (stored) {
      info.stored_length = stored->size();
      CheckAgainstSum(icon, *name, *stored, SumCopy::kSingle);
      CheckCoveredEntry(icon, *stored, *name, {state_.unpack.span(), state_.Picture()}, info);
    }
    Report(info, state_.Picture());
  }
}

}  // namespace zemlo::deep_verify_walker
