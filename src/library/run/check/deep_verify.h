// The deep verification of a library: every recorded entry is read where its records put it,
// unpacked and decoded within its own bounds, compared with its second copy, and related to
// its coordinates record as far as the entry format allows. It only reads. Findings come back
// as plain records; the only thing shown on the way is the progress bar.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "library/store/tables.h"
#include "packer/kzp_tag.h"
#include "project/project_settings.h"

namespace zemlo {

struct WorkingState;

// The longest sound entry a run can make: the WAV bytes it loads, less the "data" letters
// and the size field in front of the samples.
inline constexpr std::size_t kMaxSoundEntry = 400000 - 8;

struct VerifyFinding {
  int icon = -1;     // -1: the finding concerns a file as a whole
  std::string file;  // the file in which it was found
  std::string what;  // what is wrong
  friend bool operator==(const VerifyFinding&, const VerifyFinding&) = default;
};

// One line: "icon 3005: demo30.blk: what" ("demo30.blk: what" for a whole file).
std::string FindingLine(const VerifyFinding& finding);

// What was learnt about one recorded icon.
struct VerifiedIcon {
  int icon = 0;
  bool sound = false;
  bool packed = false;
  std::uint8_t kind = 0;          // pictures: byte 1 of the entry
  std::size_t stored_length = 0;  // bytes as stored (the packed stream for packed entries)
  std::size_t entry_length = 0;   // bytes of the entry itself, unpacked
  std::string file;               // the file the entry was read from
  CoordinatesRecord box;          // pictures: the coordinates record
  bool drawn = false;             // the picture holds the entry drawn onto black at its box
  int findings = 0;
  // From the checksum file, when it has the icon: what the entry was made from.
  std::string source;  // "" unknown
  std::uint64_t source_size = 0;
};

class VerifyObserver {
 public:
  virtual ~VerifyObserver() = default;
  // After each recorded icon. `picture` (800 x 600, blue green red) is valid only during the
  // call and holds the decoded entry when icon.drawn is set.
  virtual void IconVerified(const VerifiedIcon& icon, std::span<const std::uint8_t> picture) = 0;
};

struct VerifyOutcome {
  int icons_verified = 0;
  std::vector<VerifyFinding> findings;
  bool stopped = false;  // a stop request ended the walk early
  // Not a finding: a line on what this verification could not see, "" when it saw all. A
  // library without a checksum file works everywhere, but changed pixels escape the checks.
  std::string sums_note;
};

inline constexpr char kNoSumsNote[] = "no checksum file: the checks below cannot see pixel changes";

// Verifies the library that `settings` describe, with the current directory its folder, over
// icons 0 to NSIZ - 1. Reads the offsets and coordinates files into `state`'s tables and uses
// its file, unpack and picture buffers. Progress goes to state.port; a stop request (left
// set) ends the walk after the icon in hand.
VerifyOutcome DeepVerify(ProjectSettings& settings, WorkingState& state,
                         VerifyObserver* observer = nullptr);

}  // namespace zemlo
