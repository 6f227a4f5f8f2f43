#include "library/run/create/icon_storing.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "core/content_hash.h"
#include "core/status.h"
#include "core/working_state.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/codec/entry_decoder.h"
#include "library/codec/icon_encoder.h"
#include "library/run/create/creation_run.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "packer/kzp.h"

namespace zemlo {
namespace {

// A converted entry into the single entry file and the block. `hash` is that of `data`,
// where a helper made it already.
StoreResult StoreConverted(int icon, std::span<const std::uint8_t> data, StoreContext& store,
                           std::optional<ContentHash> hash) {
  ProjectSettings& settings = store.settings;
  const bool single_named = StampIconNumber(icon, settings.FSEP);
  bool entry_file_written = true;
  if (SingleFilesOn(settings)) {
    // Replaced, not truncated and rewritten: a run killed here leaves the old entry or the
    // new one, never a short file. On the disk with the others when the block commits.
    entry_file_written =
        single_named && ReplaceWholeFile(settings.FSEP.data(), data, Durability::kForCommit);
    if (!entry_file_written) {
      ShowWarning(store.state.port, Owner::kMain, kWriteErrorFormat, settings.FSEP.data());
    }
  } else if (single_named) {
    RemoveEntryFile(store);
  }
  if (!Told(StoreEntry(icon, data, store), store)) return {StoreOutcome::kStoreFailed};
  return {entry_file_written ? StoreOutcome::kAll : StoreOutcome::kNoEntryFile, data.size(),
          hash ? *hash : HashBytes(data)};
}

// Where a conversion starts, either way: a picture about to be converted is shown first in
// the detailed view. True for a sound.
bool StartConversion(int icon, StoreContext& store) {
  const bool sound = IsSoundNumber(icon);
  if (store.settings.DVIE == 2 && !sound) store.state.port.Repaint(false);
  return sound;
}

// The tail of a conversion, either way: the icon's title for `entry` (as encoded), then
// `finish`, which draws the picture back and packs the entry (or shows what a helper's did)
// and returns the bytes to store, and those stored (of `hash`, where it is known).
template <typename Finish>
StoreResult Publish(int icon, const SelectedSource& source, std::span<const std::uint8_t> entry,
                    StoreContext& store, std::optional<ContentHash> hash, Finish&& finish) {
  WorkingState& state = store.state;
  const int length = static_cast<int>(entry.size());
  if (IsSoundNumber(icon)) {
    SetStatusTitle(state, source.name, kSoundStatus, length);
  } else {
    state.picture_shown.store(true);
    state.crop_lines.store(true);
    SetStatusTitle(state, source.name, MaskKindWord(entry[1]), length);
  }
  const std::span<const std::uint8_t> data = finish();
  return StoreConverted(icon, data, store, hash);
}

}  // namespace

void RemoveEntryFile(StoreContext& store) {
  const char* name = store.settings.FSEP.data();
  // Most icons without a source had no entry file: the removal says so, nothing to ask again.
  const files::FileStatus removed = files::RemoveFile(name);
  const bool gone = removed || removed.error() == files::FileProblem::kNoSuchFile ||
                    removed.error() == files::FileProblem::kNoSuchFolder;
  if (!gone && files::Exists(name)) {
    ShowWarning(store.state.port, Owner::kMain, kEntryFileNotRemovedFormat, name);
  }
  RemoveLeftoverTemporary(name);
}

StoreResult ConvertAndStore(int icon, const SelectedSource& source, StoreContext& store) {
  const bool sound = StartConversion(icon, store);
  WorkingState& state = store.state;
  StatusPort& port = state.port;
  CoordinatesTable coordinates(state.coordinates.span());
  const std::span<std::uint8_t> input =
      sound ? state.picture.span().first(source.sound_length) : state.Picture();
  CropBox crop_box;
  const std::size_t length = EncodeIcon(icon, input, state.file.span(), coordinates, crop_box);
  state.crop_box.store(crop_box);
  const std::span<const std::uint8_t> entry = state.file.span().first(length);
  return Publish(icon, source, entry, store, std::nullopt, [&]() -> std::span<const std::uint8_t> {
    if (!sound) DecodeEntry(icon, entry, state.Picture(), coordinates, port, Owner::kNone);
    if (!PacksEntry(store.settings.DPAK, length)) return entry;
    const std::size_t packed =
        PackEntry(entry, state.unpack.span(), port, Owner::kMain, state.title_text);
    return state.unpack.span().first(packed);
  });
}

StoreResult StorePrepared(int icon, const SelectedSource& source, const PreparedIcon& job,
                          StoreContext& store) {
  StartConversion(icon, store);
  WorkingState& state = store.state;
  CoordinatesTable coordinates(state.coordinates.span());
  if (job.record) coordinates.Set(icon, *job.record);
  state.crop_box.store(job.crop_box);
  // The detailed view was shown the picture before smoothing; now it is smoothed.
  if (job.unsmoothed_kept) std::memcpy(state.picture.data(), job.picture.data(), kPictureBytes);
  const std::span<const std::uint8_t> entry = job.entry.span().first(job.entry_length);
  return Publish(icon, source, entry, store, job.stored_hash,
                 [&]() -> std::span<const std::uint8_t> {
                   job.calls.ReplayTo(state.port);
                   if (!job.packed_length) return entry;
                   return job.packed.span().first(*job.packed_length);
                 });
}

}  // namespace zemlo
