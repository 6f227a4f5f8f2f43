#include "library/run/creation_run.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "core/status.h"
#include "core/working_state.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/codec/entry_decoder.h"
#include "library/codec/icon_encoder.h"
#include "library/run/creation_pipeline.h"
#include "library/store/block_store.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"
#include "packer/kzp.h"

namespace zemlo {
namespace {

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

// The block the run writes into, as one transaction: begun when the run reaches the block,
// committed once the block is closed and the coordinates file holds its crop boxes, rolled
// back when the store fails. Archive attributes of the sources converted into the block are
// cleared only on commit, so a cleared attribute always means "entry and crop box stored"; a
// run that fails or is killed before that converts them again. What the commit relies on is
// on the disk before it: the block file and the offsets file (the store flushes them), the
// coordinates file, and the single entry files, which are written without a flush each and
// flushed together here, so a power cut cannot leave a cleared attribute over a lost entry.
class BlockTransaction {
 public:
  explicit BlockTransaction(StoreContext& store)
      : store_(store),
        coordinates_(store.state.coordinates.span()),
        icons_per_block_(store.settings.BLKB > 0 ? store.settings.BLKB : 1) {}

  // Opens the block of `icon` unless one is open; false when the store failed.
  bool Begin(int icon) {
    if (store_.rewrite.open_block != -1) return true;
    if (BlockFilesOn(store_.settings)) {
      snapshot_.Take(icon, icons_per_block_, coordinates_);
      in_hand_ = true;
    }
    if (!OpenBlock(icon, store_)) return false;
    lost_icons_ = store_.rewrite.lost_icons;
    // Those before the run's first icon were carried over already, as nothing.
    NameLost([icon](int n) { return n < icon; });
    return true;
  }

  // `entry_file` is the single entry file the icon was written to, "" when none.
  void Converted(const std::string& source, const std::string& entry_file) {
    pending_sources_.push_back(source);
    if (!entry_file.empty()) pending_entry_files_.push_back(entry_file);
  }

  // The icon is stored: a lost icon that it did not convert again stays lost.
  void Stored(int icon, bool rebuilt) {
    NameLost([icon, rebuilt](int n) { return n == icon && !rebuilt; });
    std::erase(lost_icons_, icon);
  }

  // After CheckBlockEnd for `icon`: commits when that closed the block.
  void CommitIfClosed(int icon) {
    const bool closed = BlockFilesOn(store_.settings)
                            ? store_.rewrite.open_block == -1
                            : (std::int64_t{icon} + 1) % icons_per_block_ == 0;
    if (!closed) return;
    in_hand_ = false;
    Settle(pending_sources_.empty() || WriteCoordinates());
    NameLost([](int) { return true; });
  }

  // The run's end: a block still open is closed (commit) unless the store failed, in which
  // case the block rolls back. Lost icons the run did not reach are named.
  void Finish(int last_icon, bool store_failed) {
    // The open block is closed before the coordinates file is written, so that a block the
    // store could not finish has its coordinates put back first.
    if (!store_failed && store_.rewrite.open_block != -1) {
      store_failed = !CloseBlock(last_icon, store_);
    }
    if (store_failed) RollBack();
    NameLost([](int) { return true; });
    Settle(WriteCoordinates());
  }

 private:
  // The store kept the block's previous content (BLTEMP or its file) and the offsets file
  // that describes it; the block's coordinates go back to match them, and its sources stay
  // marked as changed. A BLTEMP that stays is put right by the next command.
  void RollBack() {
    if (in_hand_) snapshot_.Restore(coordinates_);
    store_.rewrite = RewriteState{};
    pending_sources_.clear();
    pending_entry_files_.clear();
  }

  bool WriteCoordinates() {
    if (WriteCoordinatesFile(store_.settings, store_.state)) return true;
    if (!coordinates_warned_) {
      ShowWarning(store_.state.port, Owner::kMain, kWriteErrorFormat, store_.settings.FCOO.data());
    }
    coordinates_warned_ = true;
    return false;
  }

  void Settle(bool written) {
    if (written && !pending_entry_files_.empty() &&
        !files::FlushFilesToDisk(pending_entry_files_)) {
      // Their sources stay marked as changed: the next run writes them again.
      ShowWarning(store_.state.port, Owner::kMain, kEntriesNotFlushedFormat,
                  pending_entry_files_.front());
      written = false;
    }
    if (written) {
      // A source whose attribute stays set is only converted again by the next run.
      for (const auto& name : pending_sources_) (void)files::SetAttributesNormal(name.c_str());
    }
    pending_sources_.clear();
    pending_entry_files_.clear();
  }

  // Icons whose entries their block file no longer held (the store dropped their records):
  // converted again by the run, or named.
  template <typename Named>
  void NameLost(Named&& named) {
    std::erase_if(lost_icons_, [&](int n) {
      if (!named(n)) return false;
      ShowWarningNumber(store_.state.port, Owner::kMain, kLostIconFormat, n);
      return true;
    });
  }

  StoreContext& store_;
  CoordinatesTable coordinates_;
  const int icons_per_block_;
  CoordinatesSnapshot snapshot_;
  bool in_hand_ = false;  // the block layout's block is open: its coordinates are in snapshot_
  std::vector<std::string> pending_sources_;
  std::vector<std::string> pending_entry_files_;
  std::vector<int> lost_icons_;
  bool coordinates_warned_ = false;
};

// The icon's single entry file (FSEP stamped) goes: the icon has none in this library, or
// not in this layout. A file that stays is named, as it would be taken for the icon's entry.
void RemoveEntryFile(StoreContext& store) {
  const char* name = store.settings.FSEP.data();
  if (!files::RemoveFile(name) && files::Exists(name)) {
    ShowWarning(store.state.port, Owner::kMain, kEntryFileNotRemovedFormat, name);
  }
  RemoveLeftoverTemporary(name);
}

// What became of a converted icon.
enum class StoreOutcome {
  kAll,          // its entry is where the layout puts it
  kNoEntryFile,  // in the block, but its single entry file could not be written
  kStoreFailed,  // the block store failed: the run stops
};

struct StoreResult {
  StoreOutcome outcome;
  std::size_t bytes = 0;  // the entry as stored
};

// A converted entry into the single entry file and the block.
StoreResult StoreConverted(int icon, std::span<const std::uint8_t> data, StoreContext& store) {
  ProjectSettings& settings = store.settings;
  const bool single_named = StampIconNumber(icon, settings.FSEP);
  bool entry_file_written = true;
  if (SingleFilesOn(settings)) {
    // Replaced, not truncated and rewritten: a run killed here leaves the old entry or the
    // new one, never a short file. Flushed with the others when the block commits.
    entry_file_written =
        single_named && ReplaceWholeFile(settings.FSEP.data(), data, Durability::kNoFlush);
    if (!entry_file_written) {
      ShowWarning(store.state.port, Owner::kMain, kWriteErrorFormat, settings.FSEP.data());
    }
  } else if (single_named) {
    RemoveEntryFile(store);
  }
  if (!StoreEntry(icon, data, store)) return {StoreOutcome::kStoreFailed};
  return {entry_file_written ? StoreOutcome::kAll : StoreOutcome::kNoEntryFile, data.size()};
}

// Converts the selected source of `icon` on the run's own thread and stores it.
StoreResult Convert(int icon, const SelectedSource& source, StoreContext& store) {
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
  if (PacksEntry(settings.DPAK, length)) {
    length = PackEntry(entry, state.unpack.span(), port, Owner::kMain, state.title_text);
    data = state.unpack.span().first(length);
  }
  return StoreConverted(icon, data, store);
}

// Stores an icon a helper converted: the shared state, titles and messages as Convert
// leaves and shows them.
StoreResult StorePrepared(int icon, const SelectedSource& source, const PreparedIcon& job,
                          StoreContext& store) {
  WorkingState& state = store.state;
  StatusPort& port = state.port;
  const bool sound = IsSoundNumber(icon);
  if (store.settings.DVIE == 2 && !sound) port.Repaint(false);

  CoordinatesTable coordinates(state.coordinates.span());
  if (job.record) coordinates.Set(icon, *job.record);
  state.crop_box.store(job.crop_box);
  // The detailed view was shown the picture before smoothing; now it is smoothed.
  if (job.unsmoothed_kept) std::memcpy(state.picture.data(), job.picture.data(), kPictureBytes);
  const auto entry = job.entry.span().first(job.entry_length);
  const int length = static_cast<int>(job.entry_length);
  if (sound) {
    SetStatusTitle(state, source.name, kSoundStatus, length);
  } else {
    state.picture_shown.store(true);
    state.crop_lines.store(true);
    SetStatusTitle(state, source.name, MaskKindWord(entry[1]), length);
  }
  job.calls.ReplayTo(port);
  const std::span<const std::uint8_t> data =
      job.packed_length ? job.packed.span().first(*job.packed_length) : entry;
  return StoreConverted(icon, data, store);
}

// Where the run gets each icon's source and its conversion.
class IconSupply {
 public:
  virtual ~IconSupply() = default;
  virtual SelectedSource Select(int icon) = 0;
  // Converts and stores.
  virtual StoreResult Convert(int icon, const SelectedSource& source) = 0;
  // The run is done with the icon.
  virtual void Finished(int) {}
};

// Everything on the run's own thread, in the shared buffers.
class OwnThreadSupply final : public IconSupply {
 public:
  explicit OwnThreadSupply(StoreContext& store) : store_(store) {}
  SelectedSource Select(int icon) override {
    return SelectSource(icon, store_.settings, store_.state, !store_.convert_all);
  }
  StoreResult Convert(int icon, const SelectedSource& source) override {
    return zemlo::Convert(icon, source, store_);
  }

 private:
  StoreContext& store_;
};

// Where the working picture is while the run takes prepared icons. A run that is watched puts
// each icon's picture into the shared buffers as it reaches the icon. Where nothing shows the
// picture during the run, it stays in the last prepared icon that changed it (whose buffers
// the helpers then do not take again) rather than being copied icon by icon, a copy of 1.4 MB
// on the run's own thread, and goes into the shared buffers only before anything else reads
// them: a load or conversion of the run's own, new helpers, the end of the run.
class HeldPicture {
 public:
  HeldPicture(WorkingState& state, bool shown) : state_(state), shown_(shown) {}

  bool shown() const { return shown_; }
  bool Holds(int icon) const { return held_ != nullptr && held_->icon == icon; }
  // The icon whose picture is held, or -1.
  int HeldIcon() const { return held_ != nullptr ? held_->icon : -1; }

  // The run took `job`, which changed the picture.
  void Take(const PreparedIcon& job, CreationPipeline& pipeline) {
    if (shown_) {
      Copy(job.unsmoothed_kept ? *job.unsmoothed : job.picture, job);
      return;
    }
    if (held_ != nullptr) pipeline.Release(held_->icon);
    held_ = &job;
  }

  // Puts the picture held into the shared buffers and lets its icon's buffers go.
  void Settle(CreationPipeline& pipeline) {
    if (held_ == nullptr) return;
    Copy(held_->picture, *held_);
    pipeline.Release(held_->icon);
    held_ = nullptr;
  }

  // The bytes the run's load of a WAV source left in the picture.
  std::span<const std::uint8_t> Sound(std::size_t length) const {
    return (held_ != nullptr ? held_->picture.span() : state_.picture.span()).first(length);
  }

 private:
  void Copy(const Buffer& picture, const PreparedIcon& job) {
    std::memcpy(state_.picture.data(), picture.data(), kPictureBytes);
    std::copy(job.palette.begin(), job.palette.end(), state_.palette.data());
  }

  WorkingState& state_;
  const bool shown_;
  const PreparedIcon* held_ = nullptr;
};

// The run's choice for an icon, checked against the helper's: a load the helper made of the
// same file is taken (and the picture it left becomes the working picture); any other load is
// made here, and a load the helper made that the run did not means the helpers worked from
// a picture the run does not have.
class PreparedLoader final : public SourceLoader {
 public:
  PreparedLoader(const PreparedIcon& job, WorkingState& state, HeldPicture& held,
                 CreationPipeline& pipeline)
      : job_(job), state_(state), held_(held), pipeline_(pipeline), shared_(state) {}

  SourceLoad LoadPcx(const char* name) override {
    if (!Take(PreparedIcon::Load::kPcx, name)) return shared_.LoadPcx(name);
    if (job_.load_result == SourceLoad::kLoaded) state_.picture_shown = true;
    return job_.load_result;
  }
  SourceLoad LoadIlbm(const char* name) override {
    if (!Take(PreparedIcon::Load::kIlbm, name)) return shared_.LoadIlbm(name);
    if (job_.load_result == SourceLoad::kLoaded) state_.picture_shown = true;
    return job_.load_result;
  }
  SourceLoad LoadPng(const char* name) override {
    if (!Take(PreparedIcon::Load::kPng, name)) return shared_.LoadPng(name);
    if (job_.load_result == SourceLoad::kLoaded) state_.picture_shown = true;
    return job_.load_result;
  }
  std::optional<std::span<const std::uint8_t>> LoadWav(const char* name) override {
    if (!Take(PreparedIcon::Load::kWav, name)) return shared_.LoadWav(name);
    if (job_.load_result != SourceLoad::kLoaded) return std::nullopt;
    return held_.Sound(job_.wav_length);
  }

  std::string_view Refusal() const override { return matched_ ? job_.refusal : shared_.Refusal(); }

  // The helper chose as the run did.
  bool GuessedRight() const {
    return !mismatched_ && (matched_ || job_.load == PreparedIcon::Load::kNone);
  }

 private:
  bool Take(PreparedIcon::Load load, const char* name) {
    if (matched_ || mismatched_ || job_.load != load || job_.load_name != name) {
      mismatched_ = true;
      held_.Settle(pipeline_);  // the run's own load goes over the working picture
      return false;
    }
    matched_ = true;
    if (job_.picture_changed) held_.Take(job_, pipeline_);
    return true;
  }

  const PreparedIcon& job_;
  WorkingState& state_;
  HeldPicture& held_;
  CreationPipeline& pipeline_;
  SharedBufferLoader shared_;
  bool matched_ = false;
  bool mismatched_ = false;
};

// Icons prepared ahead by helper threads. A wrong guess (a block whose file lost entries, a
// source changed while the run goes) is met at its icon: that icon is converted here and the
// helpers start again after it from the run's own picture.
class PreparedSupply final : public IconSupply {
 public:
  PreparedSupply(StoreContext& store, int first, int last, int helpers)
      : store_(store),
        own_(store),
        last_(last),
        helpers_(helpers),
        held_(store.state, store.settings.DVIE != 0 && store.state.port.ShowsPicture()) {
    Start(first);
  }
  // Icons prepared beyond the last one taken are dropped; the picture stays.
  ~PreparedSupply() override {
    if (pipeline_) held_.Settle(*pipeline_);
  }

  SelectedSource Select(int icon) override {
    job_ = pipeline_ ? &pipeline_->Take(icon) : nullptr;
    if (job_ == nullptr) return own_.Select(icon);
    PreparedLoader loader(*job_, store_.state, held_, *pipeline_);
    AnsweredFacts facts(*job_);
    SelectedSource source = ChooseSource(icon, {store_.settings, facts, store_.state.offsets.span(),
                                                store_.state.port, loader, !store_.convert_all});
    guessed_right_ = loader.GuessedRight();
    return source;
  }

  StoreResult Convert(int icon, const SelectedSource& source) override {
    if (job_ != nullptr && guessed_right_) return StorePrepared(icon, source, *job_, store_);
    // The run's own conversion starts from the working picture.
    if (pipeline_) held_.Settle(*pipeline_);
    return own_.Convert(icon, source);
  }

  void Finished(int icon) override {
    if (job_ == nullptr) return;
    job_ = nullptr;
    // An icon whose picture is held is let go once a later icon replaces its picture; icons
    // after it that left the picture as it was go before it, their buffers being all the
    // helpers need (with a source at every other icon, settling the picture at each icon
    // between cost the run's thread a 1.4 MB copy per source). New helpers start from the
    // shared buffers.
    if (held_.Holds(icon)) return;
    if (guessed_right_) {
      pipeline_->Release(icon, held_.HeldIcon());
      return;
    }
    held_.Settle(*pipeline_);
    pipeline_->Release(icon);
    pipeline_.reset();
    if (icon < last_) Start(icon + 1);
  }

 private:
  void Start(int first) {
    pipeline_ = std::make_unique<CreationPipeline>(store_.settings, store_.state,
                                                   !store_.convert_all, first, last_, helpers_,
                                                   held_.shown() && store_.settings.DVIE == 2);
    // Without helpers the run goes on by itself.
    if (!pipeline_->running()) pipeline_.reset();
  }

  StoreContext& store_;
  OwnThreadSupply own_;
  const int last_;
  const int helpers_;
  HeldPicture held_;
  std::unique_ptr<CreationPipeline> pipeline_;
  const PreparedIcon* job_ = nullptr;
  bool guessed_right_ = false;
};

std::unique_ptr<IconSupply> MakeSupply(StoreContext& store, int first, int last) {
  const int jobs = std::clamp(store.jobs, 1, kMaxJobs);
  if (jobs == 1 || first >= last) return std::make_unique<OwnThreadSupply>(store);
  return std::make_unique<PreparedSupply>(store, first, last, jobs);
}

// One icon: its source chosen, converted, kept or dropped, and stored; the block closed
// when the icon is its last. False when the store failed.
bool ProcessIcon(int icon, IconSupply& supply, StoreContext& store, BlockTransaction& block,
                 RunTally& tally) {
  ProjectSettings& settings = store.settings;
  WorkingState& state = store.state;
  state.crop_lines.store(false);
  state.picture_shown.store(false);

  const SelectedSource source = supply.Select(icon);
  bool stored = true;
  switch (source.outcome) {
    case SourceOutcome::kConverted: {
      const StoreResult result = supply.Convert(icon, source);
      stored = result.outcome != StoreOutcome::kStoreFailed;
      if (stored) {
        ++tally.converted;
        tally.stored_bytes += static_cast<std::int64_t>(result.bytes);
      }
      // A source whose single entry file is missing stays marked as changed.
      if (result.outcome == StoreOutcome::kAll) {
        block.Converted(source.name, SingleFilesOn(settings) ? settings.FSEP.data() : "");
      }
      break;
    }
    case SourceOutcome::kSkipped:
      SetStatusTitle(state, source.name, kSkippedStatus, 0);
      if (StampIconNumber(icon, settings.FSEP)) {
        if (SingleFilesOn(settings)) {
          RemoveLeftoverTemporary(settings.FSEP.data());
        } else {
          RemoveEntryFile(store);
        }
      }
      stored = KeepEntry(icon, store);
      if (stored) ++tally.skipped;
      break;
    case SourceOutcome::kNotFound:
      StampIconNumber(icon, settings.FPCX);
      SetStatusTitle(state, settings.FPCX.data(),
                     settings.FPNG[0] != '\0' ? kNotFoundWithPngStatus : kNotFoundStatus, 0);
      if (StampIconNumber(icon, settings.FSEP)) RemoveEntryFile(store);
      stored = DropEntry(icon, store);
      if (stored) ++tally.not_found;
      break;
  }
  if (!stored) return false;
  const bool rebuilt = source.outcome == SourceOutcome::kConverted;
  block.Stored(icon, rebuilt);
  if (settings.DVIE >= 1 && rebuilt) state.port.Repaint(false);
  if (!CheckBlockEnd(icon, store)) return false;
  block.CommitIfClosed(icon);
  return true;
}

}  // namespace

int DefaultJobs() {
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxJobs);
}

void CreationRun(StoreContext& store, RunTally* tally) {
  RunTally unread;
  RunTally& counted = tally != nullptr ? *tally : unread;
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
  BlockTransaction block(store);
  auto supply = MakeSupply(store, state.current_icon.load(), run_end);
  bool store_failed = false;
  int last_icon = state.current_icon.load();
  for (;;) {
    const int icon = state.current_icon.load();
    last_icon = icon;
    if (!block.Begin(icon) || !ProcessIcon(icon, *supply, store, block, counted)) {
      store_failed = true;
      counted.store_failed = true;
      break;
    }
    counted.last_icon = icon;
    port.SetProgress(run_end > run_start ? (icon - run_start) * 100 / (run_end - run_start) : 100);
    state.current_icon.store(icon + 1);
    if (icon >= run_end || state.stop_request.load()) break;
    supply->Finished(icon);
  }
  // Icons prepared beyond the last one stored are dropped.
  supply.reset();
  state.stop_request.store(false);
  block.Finish(last_icon, store_failed);
  port.RunEnded();
}

}  // namespace zemlo
