#include "library/run/entry_loading.h"

#include <cstdio>
#include <optional>
#include <span>

#include "core/status.h"
#include "core/working_state.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/codec/entry_decoder.h"
#include "library/codec/icon_encoder.h"
#include "library/store/block_store.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"
#include "packer/kzp.h"

namespace zemlo {
namespace {

// The entry as ShowEntry should see it: unpacked into the unpack buffer when packed; nullopt
// when a packed stream is malformed or does not fit the unpack buffer.
std::optional<std::span<const std::uint8_t>> Expand(std::span<const std::uint8_t> entry,
                                                    WorkingState& state) {
  if (!IsPackedEntry(entry)) return entry;
  const auto unpacked = UnpackEntry(entry, state.unpack.span());
  if (!unpacked) return std::nullopt;
  return std::span<const std::uint8_t>(state.unpack.span().first(*unpacked));
}

// Shows `entry` and says whether it is a masked picture.
EntryLoad Shown(int icon, std::span<const std::uint8_t> entry, WorkingState& state,
                ProjectSettings& settings, bool* masked, PictureRows* ink) {
  ShowEntry(icon, entry, state, settings.FSEP, ink);
  if (masked != nullptr) {
    *masked = !IsSoundNumber(icon) && entry.size() > 1 &&
              (entry[1] == kZeroMasked || entry[1] == kXMasked);
  }
  return EntryLoad::kShown;
}

void BlankPicture(WorkingState& state) {
  state.picture_shown.store(false);
  state.port.Repaint(true);
}

EntryLoad LoadFromBlock(int icon, ProjectSettings& settings, WorkingState& state, bool* masked,
                        PictureRows* ink, KeptTable* offsets_kept) {
  const bool offsets_read = offsets_kept != nullptr
                                ? ReadOffsetsFileKept(settings, state, *offsets_kept)
                                : ReadOffsetsFile(settings, state);
  if (!offsets_read) {
    SetStatusTitle(state, settings.FOFS.data(), kOffsetsMissingStatus, 0);
    BlankPicture(state);
    return EntryLoad::kFailed;
  }
  const int block = settings.BLKB > 0 ? icon / settings.BLKB : -1;
  std::FILE* file = nullptr;
  if (block >= 0 && StampBlockNumber(block, settings.FBLK)) {
    file = files::OpenFile(settings.FBLK.data(), "rb").value_or(nullptr);
  }
  const OffsetsTable offsets(state.offsets.span());
  const std::int32_t offset = offsets.offset(icon);
  const std::int32_t length = offsets.length(icon);
  // A block may have no file when none of its icons has an entry.
  const EntryLoad not_shown = offset == 0 && length == 0 ? EntryLoad::kNoEntry : EntryLoad::kFailed;
  if (file == nullptr) {
    SetStatusTitle(state, settings.FBLK.data(), kBlockMissingStatus, 0);
    return not_shown;
  }
  // A record that does not describe bytes the file buffer can hold is no entry: a length of
  // 0, a negative field, or more than the buffer.
  bool delivered = false;
  if (offset >= 0 && length > 0 && static_cast<std::size_t>(length) < state.file.size() &&
      files::SeekTo(file, offset)) {
    delivered = files::ReadBytes(file, state.file.data(), static_cast<std::size_t>(length)) ==
                static_cast<std::size_t>(length);
  }
  (void)files::CloseFile(file);  // only read: nothing to lose
  if (!delivered) {
    SetStatusTitle(state, settings.FBLK.data(), kEntryMissingStatus, icon);
    return not_shown;
  }
  const auto entry = Expand(state.file.span().first(static_cast<std::size_t>(length)), state);
  if (!entry) {
    SetStatusTitle(state, settings.FBLK.data(), kEntryMissingStatus, icon);
    return EntryLoad::kFailed;
  }
  return Shown(icon, *entry, state, settings, masked, ink);
}

EntryLoad LoadFromSingleFile(int icon, ProjectSettings& settings, WorkingState& state, bool* masked,
                             PictureRows* ink) {
  StampIconNumber(icon, settings.FSEP);
  const auto read = ReadWholeFile(settings.FSEP.data(), state.file.span(), kSingleEntryReadLimit);
  if (!read) {
    SetStatusTitle(state, settings.FSEP.data(), kSingleMissingStatus, 0);
    BlankPicture(state);
    // Runs delete the single entry file of an icon without source: that is no entry. One
    // that exists but cannot be read is a failure.
    return files::Exists(settings.FSEP.data()) ? EntryLoad::kFailed : EntryLoad::kNoEntry;
  }
  // The bytes read are the file's size for every file the buffer takes; a longer packed
  // file is cut and then rejected as malformed instead of being unpacked from stale bytes.
  const auto entry = Expand(state.file.span().first(*read), state);
  if (!entry) {
    SetStatusTitle(state, settings.FSEP.data(), kEntryMissingStatus, icon);
    return EntryLoad::kFailed;
  }
  return Shown(icon, *entry, state, settings, masked, ink);
}

}  // namespace

EntryLoad LoadIconEntry(int icon, ProjectSettings& settings, WorkingState& state, bool* masked,
                        PictureRows* ink, KeptTable* offsets_kept) {
  if (BlockFilesOn(settings))
    return LoadFromBlock(icon, settings, state, masked, ink, offsets_kept);
  return LoadFromSingleFile(icon, settings, state, masked, ink);
}

}  // namespace zemlo
