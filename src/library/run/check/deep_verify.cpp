#include "library/run/check/deep_verify.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "core/geometry.h"
#include "core/working_state.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/codec/entry_format.h"
#include "library/codec/icon_encoder.h"
#include "library/run/check/deep_verify_walker.h"
#include "library/store/block_store.h"
#include "library/store/tables_io.h"

namespace zemlo::deep_verify_walker {

Verifier::Verifier(ProjectSettings& settings, WorkingState& state, VerifyObserver* observer)
    : settings_(settings),
      state_(state),
      observer_(observer),
      coordinates_(state.coordinates.span()),
      offsets_(state.offsets.span()),
      reencoded_(kMaxPictureEntry),
      scratch_coordinates_(kCoordinatesTableSize) {}

VerifyOutcome Verifier::Run() {
  records_ = std::clamp<std::int32_t>(settings_.NSIZ, 0, kOffsetsCapacity);
  offsets_covered_ = records_;
  coordinates_covered_ = records_;
  if (files::Exists(kTempBlockName)) {
    Add(-1, kTempBlockName,
        "left over from an interrupted run; it holds the previous content of a block "
        "(the integrity check tells which)");
  }
  ReadCoordinates();
  ReadSums();
  if (BlockFilesOn(settings_)) {
    if (SingleFilesOn(settings_)) AllocateCopyBuffers();
    offsets_known_ = ReadOffsets();
    if (offsets_known_) VerifyBlocks();
  } else {
    VerifySingleFiles();
  }
  if (!outcome_.stopped) {
    CheckUnvisitedIcons();
    CheckBlockSums();
  }
  return std::move(outcome_);
}

void Verifier::Add(int icon, std::string_view file, std::string what) {
  outcome_.findings.push_back({icon, std::string(file), std::move(what)});
  ++icon_findings_;
}

bool Verifier::Stopped() {
  if (state_.stop_request.load()) outcome_.stopped = true;
  return outcome_.stopped;
}

void Verifier::Progress(int icon) {
  if (records_ == 0) return;
  state_.port.SetProgress(static_cast<int>(std::int64_t{icon} * 100 / records_));
}

// A table file must be exactly NSIZ records; a shorter one leaves the rest of its records
// zero, a longer one carries records nobody reads. Returns the records it holds whole: the
// icons past them are named where their entries show the records were lost.
std::int32_t Verifier::CheckTableLength(const Name& name, std::size_t expected) {
  const std::int64_t length = FileLength(name.data());
  if (length != static_cast<std::int64_t>(expected)) {
    Add(-1, NameOf(name),
        Cat("holds ", length, " bytes; NSIZ ", settings_.NSIZ, " asks for exactly ", expected));
  }
  const std::int64_t whole =
      std::max<std::int64_t>(length, 0) / static_cast<std::int64_t>(kRecordSize);
  return static_cast<std::int32_t>(std::min<std::int64_t>(whole, records_));
}

void Verifier::ReadCoordinates() {
  const std::size_t bytes = CoordinatesFileBytes(settings_);
  std::fill_n(state_.coordinates.data(), bytes, std::uint8_t{0});
  coordinates_known_ = ReadCoordinatesFile(settings_, state_);
  if (!coordinates_known_) {
    Add(-1, NameOf(settings_.FCOO),
        "cannot be read; crop boxes are not related to the entries and nothing is drawn");
    return;
  }
  coordinates_covered_ = CheckTableLength(settings_.FCOO, bytes);
}

bool Verifier::ReadOffsets() {
  const std::size_t bytes = OffsetsFileBytes(settings_);
  std::fill_n(state_.offsets.data(), bytes, std::uint8_t{0});
  if (!ReadOffsetsFile(settings_, state_)) {
    Add(-1, NameOf(settings_.FOFS), "cannot be read; no entry of the block files can be found");
    return false;
  }
  offsets_covered_ = CheckTableLength(settings_.FOFS, bytes);
  return true;
}

void Verifier::Report(VerifiedIcon& info, std::span<const std::uint8_t> picture) {
  ++outcome_.icons_verified;
  CheckCovered(info);
  CheckIconSums(info);
  info.findings = icon_findings_;
  if (observer_ != nullptr) observer_->IconVerified(info, picture);
}

VerifiedIcon Verifier::StartIcon(int icon, std::string file) {
  icon_findings_ = 0;
  copies_hashed_ = 0;
  VerifiedIcon info;
  info.icon = icon;
  info.sound = IsSoundNumber(icon);
  info.file = std::move(file);
  if (!info.sound) info.box = coordinates_.Get(icon);
  return info;
}

}  // namespace zemlo::deep_verify_walker

namespace zemlo {

std::string FindingLine(const VerifyFinding& finding) {
  if (finding.icon < 0) return finding.file + ": " + finding.what;
  return deep_verify_walker::Cat("icon ", finding.icon, ": ", finding.file, ": ", finding.what);
}

VerifyOutcome DeepVerify(ProjectSettings& settings, WorkingState& state, VerifyObserver* observer) {
  return deep_verify_walker::Verifier(settings, state, observer).Run();
}

}  // namespace zemlo
