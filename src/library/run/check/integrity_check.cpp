#include "library/run/check/integrity_check.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "core/byte_reader.h"
#include "core/status.h"
#include "core/working_state.h"
#include "files/file_layer.h"
#include "library/codec/icon_encoder.h"
#include "library/store/block_layout.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"
#include "packer/kzp.h"

namespace zemlo {
namespace {

// A packed entry's byte 1 is the second letter of its magic; it counts as unmasked.
constexpr std::uint8_t kPackedKindByte = static_cast<std::uint8_t>(kKzpMagic[1]);
// Where an entry's mask kind stands.
constexpr std::size_t kKindByteAt = 1;

// The entry's mask kind, a packed entry's counted as unmasked; nothing when the entry ends
// before its kind byte.
std::optional<std::uint8_t> MaskKindOf(ByteReader entry) {
  if (!entry.Skip(kKindByteAt)) return std::nullopt;
  const auto kind = entry.U8();
  if (kind == kPackedKindByte) return kUnmasked;
  return kind;
}

// The block file being walked, its entries placed by the records walked so far. The file's
// length is known from the start, so what a read delivers never depends on where the stream
// was left.
class BlockReader {
 public:
  ~BlockReader() { Close(); }
  void Open(const char* name, int first_icon) {
    Close();
    file_ = files::OpenFile(name, "rb").value_or(nullptr);
    cursor_ = BlockCursor(first_icon);
    length_ = file_ != nullptr ? files::SeekToEnd(file_).value_or(0) : 0;
  }
  void Close() {
    if (file_ != nullptr) (void)files::CloseFile(file_);  // only read: nothing to lose
    file_ = nullptr;
  }
  bool open() const { return file_ != nullptr; }

  // Places the next entry by its record.
  EntryPlace Pass(const EntryRecord& record) { return cursor_.Step(record); }

  // Reads the entry at `place`: as many bytes as the buffer takes into it. Returns the bytes
  // the file holds of them.
  std::size_t Read(const EntryPlace& place, std::span<std::uint8_t> buffer) {
    const std::int32_t length = place.record.length;
    if (length <= 0) return 0;
    const std::int64_t held =
        std::clamp<std::int64_t>(length_ - place.start, 0, std::int64_t{length});
    const std::size_t into = std::min(static_cast<std::size_t>(held), buffer.size());
    std::size_t arrived = 0;
    if (into > 0 && files::SeekTo(file_, place.start)) {
      arrived = files::ReadBytes(file_, buffer.data(), into);
    }
    return arrived < into ? arrived : static_cast<std::size_t>(held);
  }
  // Whether a byte follows the entries placed so far.
  bool HasMoreBytes() const { return file_ != nullptr && cursor_.position() < length_; }

 private:
  std::FILE* file_ = nullptr;
  BlockCursor cursor_;
  std::int64_t length_ = 0;
};

// The check of one block set, icon by icon, in the order the block files hold them.
class CheckWalk {
 public:
  CheckWalk(ProjectSettings& settings, WorkingState& state, bool offsets_read, RunTally& tally)
      : settings_(settings),
        state_(state),
        port_(state.port),
        offsets_(state.offsets.span()),
        icons_per_block_(settings.BLKB > 0 ? settings.BLKB : 1),
        offsets_read_(offsets_read),
        tally_(tally) {}

  void CheckIcon(int icon) {
    if (icon % icons_per_block_ == 0 || icon == kCheckFirstIcon) EnterBlock(icon);
    const int findings = findings_;
    CheckRecord(icon);
    Count(icon, findings_ > findings);
    port_.SetProgress(icon * 100 / kCheckProgressDivisor);
    if ((icon + 1) % icons_per_block_ == 0) CheckEndOfBlock();
  }

 private:
  // Opens the block file of `icon`. Starting inside a block, its earlier entries are passed
  // over by their records, so the walk reaches the first icon where its block file holds it.
  void EnterBlock(int icon) {
    block_.Close();
    if (StampBlockNumber(icon / icons_per_block_, settings_.FBLK)) {
      block_.Open(settings_.FBLK.data(), icon / icons_per_block_ * icons_per_block_);
    }
    if (!block_.open()) return;
    for (int n = icon / icons_per_block_ * icons_per_block_; n < icon; ++n) {
      block_.Pass(offsets_.record(n));
    }
  }

  void Count(int icon, bool found) {
    ++tally_.checked;
    tally_.last_icon = icon;
    if (found) {
      ++tally_.damaged;
    } else if (offsets_.offset(icon) == 0 && offsets_.length(icon) == 0) {
      ++tally_.no_entry;
    } else {
      ++tally_.intact;
    }
  }

  // A finding about `icon`'s entry: a warning, and the icon counts as damaged.
  void Finding(NumberFormat format, int number) {
    ++findings_;
    ShowWarningNumber(port_, Owner::kMain, format, number);
  }

  void CheckRecord(int icon) {
    const std::int32_t offset = offsets_.offset(icon);
    const std::int32_t length = offsets_.length(icon);
    if (offset == 0 && length == 0) {
      SetStatusTitle(state_, settings_.FBLK.data(), kCheckNotFoundStatus, icon);
    } else if (length == 0) {
      Finding(kLengthZeroFormat, icon);
    } else if (!block_.open()) {
      // Records that claim bytes no block file holds are damage, not an absent icon: a run
      // killed right after moving the block file to BLTEMP leaves exactly this, and the
      // recovery the user is told relies on the check naming the block.
      ReportDataMissing(icon, offset, length);
    } else {
      CheckEntry(icon, offset, length);
    }
  }

  // Reads the entry the record describes and judges its header.
  void CheckEntry(int icon, std::int32_t offset, std::int32_t length) {
    const EntryPlace place = block_.Pass({offset, length});
    const auto buffer = state_.file.span().first(kFileBufferSize);
    const std::size_t arrived = block_.Read(place, buffer);
    const std::optional<std::uint8_t> kind =
        MaskKindOf(ByteReader(buffer.first(std::min(arrived, buffer.size()))));
    // Every icon of the checked range is a character icon and must be unmasked.
    if (kind != kUnmasked) Finding(kMaskedFormat, icon);
    const std::string_view word = kind ? MaskKindWord(*kind) : std::string_view();
    if (!word.empty()) {
      SetStatusTitle(state_, settings_.FBLK.data(), word, icon);
    } else if (kind) {
      Finding(kIncorrectHeaderFormat, icon);
    }
    // Fewer bytes than the record claims: the block file ends inside this entry.
    if (!kind || length < 0 || arrived < static_cast<std::size_t>(length)) {
      ReportDataMissing(icon, offset, length);
    }
    if (!place.in_place()) Finding(kPosIncorrectFormat, icon);
  }

  void ReportDataMissing(int icon, std::int32_t offset, std::int32_t length) {
    Finding(kDataMissingFormat, icon);
    Finding(kPosValueFormat, offset);
    Finding(kLengthValueFormat, length);
  }

  // A block file longer than its records is a new block file beside the old offsets file (a
  // run killed before it wrote them), which header tests alone can miss. Without an offsets
  // file every block is undescribed; that was reported once.
  void CheckEndOfBlock() {
    if (offsets_read_ && block_.HasMoreBytes()) {
      ++tally_.long_blocks;
      ShowWarning(port_, Owner::kMain, kBlockLongerFormat, settings_.FBLK.data());
    }
    block_.Close();
  }

  ProjectSettings& settings_;
  WorkingState& state_;
  StatusPort& port_;
  const OffsetsTable offsets_;
  const int icons_per_block_;
  const bool offsets_read_;
  RunTally& tally_;
  int findings_ = 0;
  BlockReader block_;
};

}  // namespace

void IntegrityCheck(ProjectSettings& settings, WorkingState& state, RunTally* tally) {
  RunTally unread;
  StatusPort& port = state.port;
  const bool offsets_read = ReadOffsetsFile(settings, state);
  if (!offsets_read) {
    ShowWarningText(port, Owner::kMain, kOffsetsFileMissingText);
    // Whatever the table held came from another project (or none): nothing is reported
    // from it as this library's.
    ClearOffsets(state);
  }
  SetStatusTitle(state, kCheckStartedName, kCheckStartedStatus, kCheckProgressDivisor);
  CheckWalk walk(settings, state, offsets_read, tally != nullptr ? *tally : unread);
  int icon = kCheckFirstIcon;
  state.current_icon.store(icon);
  while (icon < kCheckEndIcon && !state.stop_request.load()) {
    walk.CheckIcon(icon);
    ++icon;
    state.current_icon.store(icon);
  }
  state.stop_request.store(false);
  port.RunEnded();
}

}  // namespace zemlo
