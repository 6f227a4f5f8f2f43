#include "library/run/creation_run.h"

#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "core/status.h"
#include "core/working_state.h"
#include "files/file_layer.h"
#include "library/store/block_store.h"
#include "library/codec/entry_decoder.h"
#include "files/file_helpers.h"
#include "library/codec/icon_encoder.h"
#include "library/run/source_loading.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"
#include "packer/kzp.h"

namespace zemlo {
namespace {

constexpr std::string_view kSkippedStatus = "skipped";
constexpr std::string_view kSoundStatus = "Wave-File";

// An existing source whose pattern could be stamped. A pattern that cannot hold the number
// names no file, so its icon counts as having no such source.
bool SourceExists(int icon, Name& pattern) {
  return StampIconNumber(icon, pattern) && files::Exists(pattern.data());
}

SelectedSource Skipped(int icon, ProjectSettings& settings) {
  StampIconNumber(icon, settings.FSEP);
  return {SourceOutcome::kSkipped, settings.FSEP.data(), 0};
}

// The archive test: false means convert.
bool UpToDate(int icon, const char* source, ProjectSettings& settings, WorkingState& state,
              bool archive_test) {
  if (!archive_test || settings.DARC == 0 || files::ArchiveAttributeSet(source)) return false;
  const bool single_named = StampIconNumber(icon, settings.FSEP);
  if (BlockFilesOn(settings) && OffsetsTable(state.offsets.span()).length(icon) == 0) {
    return false;
  }
  if (SingleFilesOn(settings) && (!single_named || !files::Exists(settings.FSEP.data()))) {
    return false;
  }
  return true;
}

// A WAV file the encoder can take a sound from: the letters "data" and a size after them.
bool HasSoundData(std::span<const std::uint8_t> bytes) {
  return FindSoundData(bytes).has_value();
}

// Coordinates records of one block, as they were before the run touched the block.
struct CoordinatesSnapshot {
  int first = 0;
  std::vector<CoordinatesRecord> records;

  void Take(int icon, int icons_per_block, const CoordinatesTable& table) {
    first = icon / icons_per_block * icons_per_block;
    records.clear();
    for (int n = first; n < first + icons_per_block && CoordinatesTable::InRange(n); ++n) {
      records.push_back(table.Get(n));
    }
  }
  void Restore(CoordinatesTable& table) const {
    for (std::size_t i = 0; i < records.size(); ++i) {
      table.Set(first + static_cast<int>(i), records[i]);
    }
  }
};

// Converts the selected source of `icon` and stores it; false when the store failed.
bool Convert(int icon, const SelectedSource& source, StoreContext& store) {
  ProjectSettings& settings = store.settings;
  WorkingState& state = store.state;
  StatusPort& port = state.port;
  const bool sound = IsSoundNumber(icon);
  if (settings.DVIE == 2 && !sound) port.Repaint(false);

  CoordinatesTable coordinates(state.coordinates.span());
  const std::span<std::uint8_t> input =
      sound ? state.picture.span().first(source.sound_length) : state.Picture();
  CropBox crop_box;
  std::size_t length = EncodeIcon(icon, input, state.file.span(), coordinates, crop_box);
  state.crop_box.store(crop_box);
  const std::span<const std::uint8_t> entry = state.file.span().first(length);

  if (sound) {
    SetStatusTitle(state, source.name, kSoundStatus, static_cast<int>(length));
  } else {
    state.picture_shown.store(true);
    state.crop_lines.store(true);
    SetStatusTitle(state, source.name, MaskKindWord(entry[1]), static_cast<int>(length));
    DecodeEntry(icon, entry, state.Picture(), coordinates, port, Owner::kNone);
  }

  std::span<const std::uint8_t> data = entry;
  if (settings.DPAK == 2 || (settings.DPAK == 1 && length > kPackThreshold)) {
    length = PackEntry(entry, state.unpack.span(), port, Owner::kMain, state.title_text);
    data = state.unpack.span().first(length);
  }

  const bool single_named = StampIconNumber(icon, settings.FSEP);
  if (SingleFilesOn(settings)) {
    // Replaced, not truncated and rewritten: a run killed here leaves the old entry or the
    // new one, never a short file.
    if (!single_named ||
        !ReplaceWholeFile(settings.FSEP.data(), data, Durability::kNoFlush)) {
      ShowWarning(port, Owner::kMain, kWriteErrorFormat, settings.FSEP.data());
    }
  } else if (single_named) {
    files::RemoveFile(settings.FSEP.data());
    RemoveLeftoverTemporary(settings.FSEP.data());
  }
  return StoreEntry(icon, data, store);
}

}  // namespace

SelectedSource SelectSource(int icon, ProjectSettings& settings, WorkingState& state,
                            bool archive_test) {
  StatusPort& port = state.port;
  if (IsSoundNumber(icon)) {
    if (!SourceExists(icon, settings.FWAV)) return {};
    if (UpToDate(icon, settings.FWAV.data(), settings, state, archive_test)) {
      return Skipped(icon, settings);
    }
    const auto loaded = LoadWavSource(settings.FWAV.data(), state);
    if (!loaded || !HasSoundData(state.picture.span().first(*loaded))) {
      ShowWarning(port, Owner::kMain, kWavNotLoadedFormat, settings.FWAV.data());
      return Skipped(icon, settings);
    }
    return {SourceOutcome::kConverted, settings.FWAV.data(), *loaded};
  }

  if (SourceExists(icon, settings.FPCX)) {
    // Looked at again: a source removed in between is not worth a conversion from leftovers.
    if (!files::Exists(settings.FPCX.data())) {
      ShowWarningNumber(port, Owner::kNone, kDeadEndFormat, icon);
      return Skipped(icon, settings);
    }
    if (UpToDate(icon, settings.FPCX.data(), settings, state, archive_test)) {
      return Skipped(icon, settings);
    }
    if (LoadPcxSource(settings.FPCX.data(), state) != SourceLoad::kLoaded) {
      ShowWarning(port, Owner::kMain, kPcxNotLoadedFormat, settings.FPCX.data());
      return Skipped(icon, settings);
    }
    return {SourceOutcome::kConverted, settings.FPCX.data(), 0};
  }

  if (!SourceExists(icon, settings.FLBM)) return {};
  if (UpToDate(icon, settings.FLBM.data(), settings, state, archive_test)) {
    return Skipped(icon, settings);
  }
  if (LoadIlbmSource(settings.FLBM.data(), state) != SourceLoad::kLoaded) {
    ShowWarning(port, Owner::kMain, kIffNotLoadedFormat, settings.FLBM.data());
    return Skipped(icon, settings);
  }
  return {SourceOutcome::kConverted, settings.FLBM.data(), 0};
}

void CreationRun(StoreContext& store) {
  ProjectSettings& settings = store.settings;
  WorkingState& state = store.state;
  StatusPort& port = state.port;
  store.rewrite = RewriteState{};

  if (TempBlockLeftOver()) {
    // BLTEMP may be the only copy of a block: nothing is touched until the user sorted it.
    WarnTempBlockLeftOver(state);
    state.stop_request.store(false);
    port.RunEnded();
    return;
  }

  const int run_start = settings.DSTA;
  const int run_end = settings.DEND;
  const int icons_per_block = settings.BLKB > 0 ? settings.BLKB : 1;
  CoordinatesTable coordinates(state.coordinates.span());
  CoordinatesSnapshot block_coordinates;
  // Sources converted into the open block. Their archive attributes are cleared only once
  // the block is safely closed and the coordinates file holds their crop boxes, so a cleared
  // attribute always means "entry and crop box stored"; a run that fails or is killed before
  // that converts them again.
  std::vector<std::string> pending_sources;
  bool coordinates_warned = false;
  const auto write_coordinates = [&] {
    if (WriteCoordinatesFile(settings, state)) return true;
    if (!coordinates_warned) {
      ShowWarning(port, Owner::kMain, kWriteErrorFormat, settings.FCOO.data());
    }
    coordinates_warned = true;
    return false;
  };
  const auto settle_sources = [&](bool written) {
    if (written) {
      for (const auto& name : pending_sources) files::SetAttributesNormal(name.c_str());
    }
    pending_sources.clear();
  };
  // Icons whose entries their block file no longer held (the store dropped their records):
  // converted again here, or named.
  std::vector<int> lost_icons;
  const auto name_lost = [&](auto&& named) {
    std::erase_if(lost_icons, [&](int n) {
      if (!named(n)) return false;
      ShowWarningNumber(port, Owner::kMain, kLostIconFormat, n);
      return true;
    });
  };

  bool store_failed = false;
  // A block of the block layout is being rewritten: its coordinates are in the snapshot.
  bool block_in_hand = false;
  int last_icon = state.current_icon.load();
  for (;;) {
    const int icon = state.current_icon.load();
    last_icon = icon;
    if (store.rewrite.open_block == -1) {
      if (BlockFilesOn(settings)) {
        block_coordinates.Take(icon, icons_per_block, coordinates);
        block_in_hand = true;
      }
      if (!OpenBlock(icon, store)) {
        store_failed = true;
        break;
      }
      lost_icons = store.rewrite.lost_icons;
      // Those before the run's first icon were carried over already, as nothing.
      name_lost([icon](int n) { return n < icon; });
    }
    state.crop_lines.store(false);
    state.picture_shown.store(false);

    const SelectedSource source = SelectSource(icon, settings, state, !store.convert_all);
    bool stored = true;
    switch (source.outcome) {
      case SourceOutcome::kConverted:
        stored = Convert(icon, source, store);
        if (stored) pending_sources.push_back(source.name);
        break;
      case SourceOutcome::kSkipped:
        SetStatusTitle(state, source.name, kSkippedStatus, 0);
        if (StampIconNumber(icon, settings.FSEP)) {
          if (!SingleFilesOn(settings)) files::RemoveFile(settings.FSEP.data());
          RemoveLeftoverTemporary(settings.FSEP.data());
        }
        stored = KeepEntry(icon, store);
        break;
      case SourceOutcome::kNotFound:
        StampIconNumber(icon, settings.FPCX);
        SetStatusTitle(state, settings.FPCX.data(), kNotFoundStatus, 0);
        if (StampIconNumber(icon, settings.FSEP)) {
          files::RemoveFile(settings.FSEP.data());
          RemoveLeftoverTemporary(settings.FSEP.data());
        }
        stored = DropEntry(icon, store);
        break;
    }
    if (!stored) {
      store_failed = true;
      break;
    }
    const bool rebuilt = source.outcome == SourceOutcome::kConverted;
    name_lost([icon, rebuilt](int n) { return n == icon && !rebuilt; });
    std::erase(lost_icons, icon);
    if (settings.DVIE >= 1 && source.outcome == SourceOutcome::kConverted) port.Repaint(false);
    if (!CheckBlockEnd(icon, store)) {
      store_failed = true;
      break;
    }
    const bool block_closed = BlockFilesOn(settings)
                                  ? store.rewrite.open_block == -1
                                  : (std::int64_t{icon} + 1) % icons_per_block == 0;
    if (block_closed) {
      block_in_hand = false;
      settle_sources(pending_sources.empty() || write_coordinates());
      name_lost([](int) { return true; });
    }
    port.SetProgress(run_end > run_start ? (icon - run_start) * 100 / (run_end - run_start)
                                         : 100);
    state.current_icon.store(icon + 1);
    if (icon >= run_end || state.stop_request.load()) break;
  }

  state.stop_request.store(false);
  // The open block is closed before the coordinates file is written, so that a block the
  // store could not finish has its coordinates put back first.
  if (!store_failed && store.rewrite.open_block != -1) {
    store_failed = !CloseBlock(last_icon, store);
  }
  if (store_failed) {
    // The store kept the block's previous content (BLTEMP or its file) and the offsets file
    // that describes it; the block's coordinates go back to match them, and its sources stay
    // marked as changed. A BLTEMP that stays is put right by the next command.
    if (block_in_hand) block_coordinates.Restore(coordinates);
    store.rewrite = RewriteState{};
    pending_sources.clear();
  }
  // Lost icons the run did not reach (stopped, or the block's end beyond the run).
  name_lost([](int) { return true; });
  settle_sources(write_coordinates());
  port.RunEnded();
}

}  // namespace zemlo
