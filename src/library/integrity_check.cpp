#include "library/integrity_check.h"

#include <algorithm>
#include <cstdio>

#include "core/status.h"
#include "core/working_state.h"
#include "files/file_layer.h"
#include "library/creation_run.h"
#include "library/icon_encoder.h"
#include "library/stamping.h"
#include "library/tables.h"
#include "library/tables_io.h"
#include "packer/kzp.h"

namespace zemlo {
namespace {

// Byte 1 of the file buffer is set to this before each read: it survives a read that
// delivers fewer than two bytes.
constexpr std::uint8_t kNothingRead = 1;
// A packed entry's byte 1 is the second letter of its magic; it counts as unmasked.
constexpr std::uint8_t kPackedKindByte = static_cast<std::uint8_t>(kKzpMagic[1]);

// The block file being walked, read strictly in sequence.
class BlockReader {
 public:
  ~BlockReader() { Close(); }
  void Open(const char* name) {
    Close();
    file_ = files::OpenFile(name, "rb");
    position_ = 0;
  }
  void Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
  }
  bool open() const { return file_ != nullptr; }
  std::int64_t position() const { return position_; }

  // Reads the next `length` bytes: as many as the buffer takes into it, the rest passed over.
  // Returns the bytes that arrived.
  std::size_t Read(std::int32_t length, std::span<std::uint8_t> buffer) {
    std::size_t arrived = 0;
    if (length > 0) {
      const std::size_t wanted = static_cast<std::size_t>(length);
      const std::size_t into = std::min(wanted, buffer.size());
      arrived = std::fread(buffer.data(), 1, into, file_);
      if (arrived == into && wanted > into) {
        if (std::fseek(file_, static_cast<long>(wanted - into), SEEK_CUR) == 0) arrived = wanted;
      }
    }
    position_ += length;
    return arrived;
  }
  // Whether a byte follows the entries read so far.
  bool HasMoreBytes() {
    if (file_ == nullptr) return false;
    if (std::fseek(file_, static_cast<long>(position_), SEEK_SET) != 0) return false;
    return std::fgetc(file_) != EOF;
  }
  // Passes over entries that precede the check's first icon in its block.
  void Pass(std::int32_t length) {
    if (length <= 0) return;
    std::fseek(file_, length, SEEK_CUR);
    position_ += length;
  }

 private:
  std::FILE* file_ = nullptr;
  std::int64_t position_ = 0;
};

}  // namespace

void IntegrityCheck(ProjectSettings& settings, WorkingState& state) {
  StatusPort& port = state.port;
  const bool offsets_read = ReadOffsetsFile(settings, state);
  if (!offsets_read) {
    ShowWarning(port, Owner::kMain, kOffsetsFileMissingText, "");
    // Whatever the table held came from another project (or none): nothing is reported
    // from it as this library's.
    ClearOffsets(state);
  }
  SetStatusTitle(state, kCheckStartedName, kCheckStartedStatus, kCheckProgressDivisor);
  const OffsetsTable offsets(state.offsets.span());
  const int icons_per_block = settings.BLKB > 0 ? settings.BLKB : 1;
  std::uint8_t* const file = state.file.data();
  BlockReader block;

  int icon = kCheckFirstIcon;
  state.current_icon.store(icon);
  while (icon < kCheckEndIcon && !state.stop_request.load()) {
    const bool block_start = icon % icons_per_block == 0;
    if (block_start || icon == kCheckFirstIcon) {
      block.Close();
      if (StampBlockNumber(icon / icons_per_block, settings.FBLK)) block.Open(settings.FBLK.data());
      // Starting inside a block: its earlier entries are passed over by their records, so
      // the sequential walk reaches the first icon where its block file holds it.
      if (!block_start && block.open()) {
        for (int n = icon / icons_per_block * icons_per_block; n < icon; ++n) {
          block.Pass(offsets.length(n));
        }
      }
    }
    const std::int32_t offset = offsets.offset(icon);
    const std::int32_t length = offsets.length(icon);
    if (offset == 0 && length == 0) {
      SetStatusTitle(state, settings.FBLK.data(), kCheckNotFoundStatus, icon);
    } else if (length == 0) {
      ShowWarningNumber(port, Owner::kMain, kLengthZeroFormat, icon);
    } else if (!block.open()) {
      // Records that claim bytes no block file holds are damage, not an absent icon: a run
      // killed right after moving the block file to BLTEMP leaves exactly this, and the
      // recovery the user is told relies on the check naming the block.
      ShowWarningNumber(port, Owner::kMain, kDataMissingFormat, icon);
      ShowWarningNumber(port, Owner::kMain, kPosValueFormat, offset);
      ShowWarningNumber(port, Owner::kMain, kLengthValueFormat, length);
    } else {
      const std::int64_t expected = block.position();
      file[1] = kNothingRead;
      const std::size_t arrived = block.Read(length, state.file.span().first(kFileBufferSize));
      std::uint8_t kind = file[1];
      if (kind == kPackedKindByte) kind = kUnmasked;
      // Every icon of the checked range is a character icon and must be unmasked.
      if (kind != kUnmasked) ShowWarningNumber(port, Owner::kMain, kMaskedFormat, icon);
      const std::string_view word = MaskKindWord(kind);
      const bool data_missing = file[1] == kNothingRead && arrived < 2;
      if (!word.empty()) {
        SetStatusTitle(state, settings.FBLK.data(), word, icon);
      } else if (!data_missing) {
        ShowWarningNumber(port, Owner::kMain, kIncorrectHeaderFormat, icon);
      }
      // Fewer bytes than the record claims: the block file ends inside this entry.
      if (data_missing || arrived < static_cast<std::size_t>(length)) {
        ShowWarningNumber(port, Owner::kMain, kDataMissingFormat, icon);
        ShowWarningNumber(port, Owner::kMain, kPosValueFormat, offset);
        ShowWarningNumber(port, Owner::kMain, kLengthValueFormat, length);
      }
      if (offset != expected) ShowWarningNumber(port, Owner::kMain, kPosIncorrectFormat, icon);
    }
    port.SetProgress(icon * 100 / kCheckProgressDivisor);
    if ((icon + 1) % icons_per_block == 0) {
      // A block file longer than its records is a new block file beside the old offsets
      // file (a run killed before it wrote them), which header tests alone can miss.
      // Without an offsets file every block is undescribed; that was reported once.
      if (offsets_read && block.HasMoreBytes()) {
        ShowWarning(port, Owner::kMain, kBlockLongerFormat, settings.FBLK.data());
      }
      block.Close();
    }
    ++icon;
    state.current_icon.store(icon);
  }
  block.Close();
  state.stop_request.store(false);
  port.RunEnded();
}

}  // namespace zemlo
