// The deep verification's walker, its members defined in eight files: its own bookkeeping
// (deep_verify.cpp), the walk over the blocks (deep_verify_blocks.cpp), whose bytes a lost
// record or a cut took (deep_verify_placement.cpp), the icons a short table no longer covers
// (deep_verify_tables.cpp), the single entry file layout (deep_verify_single_files.cpp), the
// checks of one entry against its rows and the encoder (deep_verify_entry.cpp), the
// comparison of an entry's two copies (deep_verify_copies.cpp) and the comparison of every
// copy and block with the checksum file (deep_verify_sums.cpp). Only those include it.
#pragma once

#include <algorithm>
#include <climits>
#include <concepts>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/status_port.h"
#include "core/working_state.h"
#include "library/run/check/deep_verify.h"
#include "library/store/block_layout.h"
#include "library/store/checksum_file.h"
#include "library/store/tables.h"
#include "project/project_settings.h"

namespace zemlo::deep_verify_walker {

inline void Append(std::string& text, std::string_view part) { text += part; }
template <std::integral T>
void Append(std::string& text, T number) {
  text += std::to_string(number);
}
template <class... Parts>
std::string Cat(const Parts&... parts) {
  std::string text;
  (Append(text, parts), ...);
  return text;
}

inline std::string NameOf(const Name& name) {
  const auto end = std::find(name.begin(), name.end(), '\0');
  return std::string(name.begin(), end);
}

// The two places an entry may be kept, as the checksum file's flags name them.
enum class SumCopy : std::uint32_t { kBlock = kSumInBlock, kSingle = kSumInSingleFile };

// The buffers one copy of an entry is checked in.
struct Workspace {
  std::span<std::uint8_t> unpack;
  std::span<std::uint8_t> picture;
};

class Verifier {
 public:
  Verifier(ProjectSettings& settings, WorkingState& state, VerifyObserver* observer);

  VerifyOutcome Run();

 private:
  struct BlockWalk {
    std::FILE* file;
    std::int64_t length;  // of the block file
    BlockCursor cursor;   // where the next entry must start: the lengths so far
    std::string name;
    int first = 0;  // the block's icons
    int last = 0;
    std::int64_t skipped = 0;  // bytes found to be entries of icons whose records were lost
    int last_placed = -1;      // the latest icon whose entry took its place in the walk
    // After a cut, the entries from this icon on lie `shift` bytes before their records.
    int shifted_from = INT_MAX;
    std::int64_t shift = 0;
    std::int64_t expected() const { return cursor.position() + skipped; }
  };

  // ---- The walk's own bookkeeping (deep_verify.cpp) ----
  void Add(int icon, std::string_view file, std::string what);
  bool Stopped();
  void Progress(int icon);
  std::int32_t CheckTableLength(const Name& name, std::size_t expected);
  void ReadCoordinates();
  bool ReadOffsets();
  void CheckCovered(VerifiedIcon& info);
  void Report(VerifiedIcon& info, std::span<const std::uint8_t> picture);
  VerifiedIcon StartIcon(int icon, std::string file);

  // ---- Block layout (deep_verify_blocks.cpp) ----
  void VerifyBlocks();
  void VerifyUnrecordedBlock(int first, int last, const Name& stamped, bool named,
                             const std::string& block_name);
  void CheckBlockEnd(BlockWalk& walk);
  std::optional<std::span<const std::uint8_t>> ReadBlockEntry(int icon, BlockWalk& walk);
  void VerifyBlockIcon(int icon, BlockWalk& walk);
  void CheckLoneSingleFile(int icon);
  bool PlaceBlockEntry(int icon, std::int32_t offset, std::int32_t length, BlockWalk& walk);

  // ---- Whose bytes a lost record or a cut took (deep_verify_placement.cpp) ----
  std::optional<std::span<const std::uint8_t>> ReadAt(BlockWalk& walk, std::int64_t offset,
                                                      std::int64_t length);
  bool ChecksClean(int icon, std::span<const std::uint8_t> stored, const Workspace& work);
  bool FitsAt(int icon, BlockWalk& walk, std::int64_t offset);
  bool RecordConfirmed(int icon, const BlockWalk& walk);
  bool NameLostEntry(std::int64_t start, std::int64_t end, int after, BlockWalk& walk,
                     bool must_fit);
  bool AttributeGap(int after, std::int64_t start, BlockWalk& walk);
  bool AttributeTrailingBytes(BlockWalk& walk);
  std::pair<std::size_t, std::size_t> CutRange(const std::vector<int>& icons, std::size_t leading,
                                               std::size_t trailing_from);
  void PlanCut(BlockWalk& walk);
  void ReportCut(const std::vector<int>& icons, std::size_t lo, std::size_t hi, bool ambiguous,
                 const BlockWalk& walk);

  // ---- Tables shorter than NSIZ records (deep_verify_tables.cpp) ----
  bool OffsetsCover(int icon) const { return icon < offsets_covered_; }
  bool CoordinatesCover(int icon) const { return icon < coordinates_covered_; }
  bool NameUncoveredInBlock(BlockWalk& walk);
  void NameUncoveredIcons(int first, int last, const std::string& block_name, std::int64_t extra);

  // ---- Both layouts: the two copies (deep_verify_copies.cpp) ----
  void AllocateCopyBuffers();
  void CompareSingleCopy(int icon, std::optional<std::span<const std::uint8_t>> block_copy,
                         const std::string& block_name, bool block_clean);
  VerifiedIcon StartCopy(int icon, const std::string& name);

  // ---- Single entry file layout (deep_verify_single_files.cpp) ----
  std::optional<std::string> SingleName(int icon);
  std::optional<std::span<const std::uint8_t>> ReadSingleFile(int icon, const std::string& name,
                                                              std::span<std::uint8_t> buffer);
  void VerifySingleFiles();

  // ---- The checksum file (deep_verify_sums.cpp) ----
  void ReadSums();
  const IconSum* SumOf(int icon) const;
  void CheckAgainstSum(int icon, const std::string& file, std::span<const std::uint8_t> stored,
                       SumCopy copy);
  void CheckIconSums(VerifiedIcon& info);
  void HashLoneSingleCopy(int icon, const IconSum& sum);
  void CheckCopiesPresent(int icon, const IconSum& sum);
  void CheckUnvisitedIcons();
  void CheckBlockSums();
  void CheckBlockSum(int block, const BlockSum& sum);
  bool SumsJudgedBothCopies(int icon) const;
  std::string SumsRun() const;

  // ---- One entry (deep_verify_entry.cpp) ----
  void CheckCoveredEntry(int icon, std::span<const std::uint8_t> stored, const std::string& file,
                         const Workspace& work, VerifiedIcon& info);
  void CheckEntry(int icon, std::span<const std::uint8_t> stored, const std::string& file,
                  const Workspace& work, VerifiedIcon& info);
  void CompareWithPacker(int icon, std::span<const std::uint8_t> stored,
                         std::span<const std::uint8_t> entry, const std::string& file);
  void CheckPicture(int icon, std::span<const std::uint8_t> entry, const std::string& file,
                    const Workspace& work, VerifiedIcon& info);
  bool RowsFitBox(int icon, std::span<const std::uint8_t> entry, const std::string& file,
                  const CoordinatesRecord& r);
  void CompareWithEncoder(int icon, std::span<const std::uint8_t> entry, const std::string& file,
                          std::span<std::uint8_t> picture, const CoordinatesRecord& r);

  ProjectSettings& settings_;
  WorkingState& state_;
  VerifyObserver* observer_;
  CoordinatesTable coordinates_;
  OffsetsTable offsets_;
  // DecodeEntry is only handed entries whose runs were found to fit, so anything it would
  // say is a finding of this walk already.
  SilentPort silent_;
  VerifyOutcome outcome_;
  std::int32_t records_ = 0;
  // Records the table files hold whole; NSIZ when they are as long as they must be.
  std::int32_t offsets_covered_ = 0;
  std::int32_t coordinates_covered_ = 0;
  int icon_findings_ = 0;
  bool coordinates_known_ = false;
  bool offsets_known_ = false;
  bool single_pattern_reported_ = false;
  std::vector<std::uint8_t> reencoded_;
  std::vector<std::uint8_t> scratch_coordinates_;
  // What the packer writes for an unpacked entry, grown to the longest entry met.
  std::vector<std::uint8_t> repacked_;
  // The second copy of an entry (DBLK 3) and its own buffers, so that the first copy's
  // picture stays for the observer.
  std::vector<std::uint8_t> copy_;
  std::vector<std::uint8_t> copy_unpack_;
  std::vector<std::uint8_t> copy_picture_;
  // The checksum file, when there is one the reader takes; icons and blocks beyond what both
  // it and the project cover are not compared.
  std::optional<ChecksumFile> sums_;
  std::string sums_name_;
  int sum_icons_ = 0;
  int sum_blocks_ = 0;
  std::uint32_t copies_hashed_ = 0;        // SumCopy bits of the icon in hand
  std::vector<bool> icon_visited_;         // reported during the walk
  std::vector<bool> block_entry_differs_;  // an entry of the block differs from its sum
};

}  // namespace zemlo::deep_verify_walker
