#include "library/run/creation_pipeline.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "core/status.h"
#include "files/file_helpers.h"
#include "library/run/creation_run.h"
#include "library/codec/entry_decoder.h"
#include "library/codec/icon_encoder.h"
#include "packer/kzp.h"
#include "picture/ilbm_reader.h"
#include "picture/pcx_reader.h"

namespace zemlo {
namespace {

// Each helper's own icons in flight: the one it works on and two it prepared, ready or in
// the run's hands (or holding the picture the run shows). The helpers take turns, so one that
// got ahead of the other (the run's thread shares a core with one of them) waits for the run
// less with a third; more took more processor time, in cache misses, than they saved.
constexpr int kSlotsPerHelper = 3;

// The file system, with every answer kept for the run.
class KeptFacts final : public SourceFacts {
 public:
  explicit KeptFacts(PreparedIcon& job) : job_(job) { job_.facts_used = 0; }
  bool Exists(const char* name) override { return Keep(false, name, now_.Exists(name)); }
  bool ArchiveAttributeSet(const char* name) override {
    return Keep(true, name, now_.ArchiveAttributeSet(name));
  }

 private:
  bool Keep(bool archive, const char* name, bool answer) {
    if (job_.facts_used == job_.facts.size()) job_.facts.emplace_back();
    PreparedIcon::Fact& fact = job_.facts[job_.facts_used++];
    fact.archive = archive;
    fact.name.assign(name);
    fact.answer = answer;
    return answer;
  }
  PreparedIcon& job_;
  FileSystemFacts now_;
};

}  // namespace

bool AnsweredFacts::Answer(bool archive, const char* name) {
  if (!diverged_ && next_ < job_.facts_used) {
    const PreparedIcon::Fact& fact = job_.facts[next_];
    if (fact.archive == archive && fact.name == name) {
      ++next_;
      return fact.answer;
    }
  }
  diverged_ = true;
  return archive ? now_.ArchiveAttributeSet(name) : now_.Exists(name);
}

// Every buffer of a prepared icon is written before it is read: its load, its composition,
// its entry and the packed entry.
PreparedIcon::PreparedIcon(bool keep_unsmoothed)
    : picture(kPictureBytes + kReadSpare, Buffer::Unfilled{}),
      unsmoothed(keep_unsmoothed
                     ? std::make_unique<Buffer>(kPictureBytes, Buffer::Unfilled{})
                     : nullptr),
      entry(kMaxPictureEntry, Buffer::Unfilled{}),
      packed(PackedBound(kMaxPictureEntry), Buffer::Unfilled{}) {}

// One helper thread and what it reads sources into.
struct CreationPipeline::Helper {
  Helper(const ProjectSettings& run_settings, int first_icon)
      : settings(run_settings), first(first_icon) {}
  ProjectSettings settings;  // stamped by this helper's guesses only
  const int first;           // its first icon; then every stride_-th
  Buffer file{kPcxMaxSize + kReadSpare, Buffer::Unfilled{}};
  Buffer index{kIndexBufferSize};
  std::thread thread;
};

namespace {

// Loads a guessed source into the icon's own buffers, as the shared loads would.
class AheadLoader final : public SourceLoader {
 public:
  AheadLoader(PreparedIcon& job, Buffer& file, Buffer& index)
      : job_(job), file_(file), index_(index) {}

  SourceLoad LoadPcx(const char* name) override {
    Start(PreparedIcon::Load::kPcx, name);
    const auto length = ReadWholeFile(name, file_.span(), kPcxLoadLimit);
    if (!length) return job_.load_result;
    const auto bytes = file_.span().first(*length);
    if (DecodePcx(bytes, job_.picture.span().first(kPictureBytes)) == 0) {
      return job_.load_result = SourceLoad::kRejected;
    }
    job_.pcx_rows = PcxPictureRows(bytes);
    return job_.load_result = SourceLoad::kLoaded;
  }

  SourceLoad LoadIlbm(const char* name) override {
    Start(PreparedIcon::Load::kIlbm, name);
    const auto length = ReadWholeFile(name, file_.span(), kIlbmLoadLimit);
    if (!length) return job_.load_result;
    // The colours are put in when the icon's turn comes: a file without a palette takes the
    // one the icons before it leave.
    if (!DecodeIlbm(file_.span().first(*length), index_.span(), job_.read_palette,
                    &job_.palette_read)) {
      return job_.load_result = SourceLoad::kRejected;
    }
    return job_.load_result = SourceLoad::kLoaded;
  }

  std::optional<std::span<const std::uint8_t>> LoadWav(const char* name) override {
    Start(PreparedIcon::Load::kWav, name);
    const auto length = ReadWholeFile(name, job_.picture.span(), kWavLoadLimit);
    if (!length) return std::nullopt;
    job_.wav_length = *length;
    job_.load_result = SourceLoad::kLoaded;
    return job_.picture.span().first(*length);
  }

 private:
  void Start(PreparedIcon::Load load, const char* name) {
    job_.load = load;
    job_.load_name = name;
    job_.load_result = SourceLoad::kNotOpened;
  }
  PreparedIcon& job_;
  Buffer& file_;
  Buffer& index_;
};

}  // namespace

CreationPipeline::CreationPipeline(const ProjectSettings& settings, WorkingState& state,
                                   bool archive_test, int first, int last, int helpers,
                                   bool keep_unsmoothed)
    : archive_test_(archive_test),
      first_(first),
      last_(last),
      pack_mode_(settings.DPAK),
      offsets_(state.offsets.span().begin(), state.offsets.span().end()),
      picture_(kPictureBytes + kReadSpare),
      composed_(first - 1),
      released_(first - 1) {
  std::memcpy(picture_.data(), state.picture.data(), kPictureBytes);
  std::copy_n(state.palette.data(), kPaletteSize, palette_.begin());
  helpers = std::max(helpers, 1);
  for (int i = 0; i < helpers; ++i) {
    auto helper = std::make_unique<Helper>(settings, first + i);
    try {
      helper->thread = std::thread([this, h = helper.get()] { Work(*h); });
    } catch (const std::system_error&) {
      break;  // fewer helpers, or none: the run then converts on its own
    }
    helpers_.push_back(std::move(helper));
  }
  if (helpers_.empty()) return;
  // The helpers wait for their count: it decides which icons each of them takes.
  const std::size_t slots = helpers_.size() * kSlotsPerHelper;
  for (std::size_t i = 0; i < slots; ++i) {
    slots_.push_back(std::make_unique<PreparedIcon>(keep_unsmoothed));
  }
  ready_.assign(slots, -1);
  waiting_turn_.assign(slots, -1);
  {
    std::lock_guard lock(mutex_);
    stride_ = static_cast<int>(helpers_.size());
  }
  helpers_wake_.notify_all();
}

CreationPipeline::~CreationPipeline() {
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
  }
  helpers_wake_.notify_all();
  for (auto& helper : helpers_) helper->thread.join();
}

PreparedIcon& CreationPipeline::Take(int icon) {
  std::unique_lock lock(mutex_);
  const std::size_t slot = static_cast<std::size_t>(icon - first_) % slots_.size();
  icon_ready_.wait(lock, [&] { return ready_[slot] == icon; });
  return *slots_[slot];
}

void CreationPipeline::Release(int icon) {
  {
    std::lock_guard lock(mutex_);
    released_ = std::max(released_, icon);
  }
  helpers_wake_.notify_all();
}

// Each helper takes every stride_-th icon, into slots of its own: an icon's picture is
// loaded, composed, encoded and drawn back, in the icon's turn or before it, by one helper,
// into buffers that no other helper wrote. (Taking whichever icon came next spread each
// buffer over both cores' caches: loading and scanning the pictures took a third longer.)
void CreationPipeline::Work(Helper& helper) {
  int stride = 0;
  {
    std::unique_lock lock(mutex_);
    helpers_wake_.wait(lock, [&] { return cancelled_ || stride_ > 0; });
    if (cancelled_) return;
    stride = stride_;
  }
  const int slots = static_cast<int>(slots_.size());
  for (int icon = helper.first; icon <= last_; icon += stride) {
    const std::size_t slot = static_cast<std::size_t>(icon - first_) % slots_.size();
    {
      std::unique_lock lock(mutex_);
      helpers_wake_.wait(lock, [&] {
        // A slot is taken again once the run released its icon and the icon after that one
        // was composed over its picture.
        return cancelled_ || (icon - slots <= released_ && icon - slots < composed_);
      });
      if (cancelled_) return;
      ready_[slot] = -1;
    }
    PreparedIcon& job = *slots_[slot];
    Guess(icon, job, helper);
    if (StandsAlone(job)) {
      // Ready but for its turn, which need not be waited for: whoever ends the icon before
      // it hands this one on, and this helper goes on to its next icon.
      ComposeAlone(job, helper);
      Pack(job);
      {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
        waiting_turn_[slot] = icon;
        HandOn();
      }
      helpers_wake_.notify_all();  // handing on frees turns and slots
    } else {
      {
        std::unique_lock lock(mutex_);
        helpers_wake_.wait(lock, [&] { return cancelled_ || composed_ == icon - 1; });
        if (cancelled_) return;
      }
      Compose(job, helper);
      {
        std::lock_guard lock(mutex_);
        composed_ = icon;
        HandOn();
      }
      helpers_wake_.notify_all();
      Pack(job);
      std::lock_guard lock(mutex_);
      ready_[slot] = icon;
    }
    icon_ready_.notify_one();
  }
}

// Hands on the picture and colours of each icon after the last composed one that waits only
// for its turn. Called with mutex_ held.
void CreationPipeline::HandOn() {
  for (int icon = composed_ + 1; icon <= last_; ++icon) {
    const std::size_t slot = static_cast<std::size_t>(icon - first_) % slots_.size();
    if (waiting_turn_[slot] != icon) return;
    PreparedIcon& job = *slots_[slot];
    current_ = &job.picture;
    if (job.palette_read) palette_ = job.read_palette;
    job.palette = palette_;
    waiting_turn_[slot] = -1;
    composed_ = icon;
    ready_[slot] = icon;
  }
}

void CreationPipeline::Guess(int icon, PreparedIcon& job, Helper& helper) {
  job.icon = icon;
  job.load = PreparedIcon::Load::kNone;
  job.load_name.clear();
  job.pcx_rows = 0;
  job.wav_length = 0;
  job.palette_read = false;
  job.picture_changed = false;
  job.unsmoothed_kept = false;
  job.entry_length = 0;
  job.packed_length.reset();
  job.record.reset();
  job.crop_box = CropBox{};
  job.title_text[0] = '\0';
  job.calls.Clear();
  AheadLoader loader(job, helper.file, helper.index);
  // The helpers' guesses show nothing: the run shows what its own choice finds.
  SilentPort silent;
  KeptFacts facts(job);
  job.source =
      ChooseSource(icon, {helper.settings, facts, offsets_, silent, loader, archive_test_});
}

// A source that replaced the whole picture, in colours of its own where it has any, makes a
// picture that owes nothing to the icons before it.
bool CreationPipeline::StandsAlone(const PreparedIcon& job) {
  if (job.load_result != SourceLoad::kLoaded) return false;
  switch (job.load) {
    case PreparedIcon::Load::kPcx:
      return static_cast<std::size_t>(job.pcx_rows) * kRowBytes >= kPictureBytes;
    case PreparedIcon::Load::kIlbm:
      return job.palette_read;
    case PreparedIcon::Load::kWav:
    case PreparedIcon::Load::kNone:
      return false;
  }
  return false;
}

// Such an icon is composed, encoded and drawn back by the helper that loaded it, before its
// turn: the picture is still in that core's cache, and the icons' turns (which follow one
// another) shrink to handing the picture on.
void CreationPipeline::ComposeAlone(PreparedIcon& job, Helper& helper) {
  job.picture_changed = true;
  const auto picture = job.picture.span().first(kPictureBytes);
  if (job.load == PreparedIcon::Load::kIlbm) {
    ExpandPalette(helper.index.span(), picture, job.read_palette);
  }
  if (job.source.outcome == SourceOutcome::kConverted) Encode(job, picture);
}

// The icon's turn: its load goes over the picture the icons before it left, exactly as the
// shared load would have put it there. The icon's own buffer becomes the working picture, so
// what the load wrote stays where it is and only what it left untouched is copied in.
void CreationPipeline::Compose(PreparedIcon& job, Helper& helper) {
  const std::uint8_t* previous = current_->data();
  std::uint8_t* own = job.picture.data();
  // Bytes [kept, kPictureBytes) come from the previous picture.
  std::optional<std::size_t> kept;
  if (job.load_result == SourceLoad::kLoaded) {
    switch (job.load) {
      case PreparedIcon::Load::kPcx:
        // Rows below the source's keep what the picture held.
        kept = static_cast<std::size_t>(job.pcx_rows) * kRowBytes;
        break;
      case PreparedIcon::Load::kIlbm:
        if (job.palette_read) palette_ = job.read_palette;
        ExpandPalette(helper.index.span(), job.picture.span().first(kPictureBytes), palette_);
        kept = kPictureBytes;
        break;
      case PreparedIcon::Load::kWav:
        // The read also ends the bytes with a zero.
        kept = job.wav_length + kReadSpare;
        break;
      case PreparedIcon::Load::kNone:
        break;
    }
    job.picture_changed = job.load != PreparedIcon::Load::kNone;
  }
  const bool converted = job.source.outcome == SourceOutcome::kConverted;
  // Drawing back changes the picture even where no load did.
  if (!kept && converted) kept = 0;
  if (kept) {
    const std::size_t from = std::min(*kept, kPictureBytes);
    std::memcpy(own + from, previous + from, kPictureBytes - from);
    current_ = &job.picture;
    if (converted) Encode(job, job.picture.span().first(kPictureBytes));
    if (job.picture_changed) job.palette = palette_;
  } else if (current_ != &picture_) {
    // The picture stays as the last icon left it, in a slot that is taken again soon.
    std::memcpy(picture_.data(), previous, kPictureBytes);
    current_ = &picture_;
  }
}

void CreationPipeline::Encode(PreparedIcon& job, std::span<std::uint8_t> picture) {
  const int icon = job.icon;
  const bool sound = IsSoundNumber(icon);
  if (job.unsmoothed && !sound && IsSmoothed(icon)) {
    std::memcpy(job.unsmoothed->data(), picture.data(), kPictureBytes);
    job.unsmoothed_kept = true;
  }
  const auto input = sound ? picture.first(job.source.sound_length) : picture;
  job.entry_length = EncodeIconEntry(icon, input, job.entry.span(), job.record, job.crop_box);
  const auto entry = job.entry.span().first(job.entry_length);
  if (sound) {
    FormatStatusTitle(job.title_text, job.source.name, kSoundStatus,
                      static_cast<int>(job.entry_length));
    return;
  }
  FormatStatusTitle(job.title_text, job.source.name, MaskKindWord(entry[1]),
                    static_cast<int>(job.entry_length));
  // Drawn back where the coordinates table puts it, which knows no icon beyond its range.
  const CoordinatesRecord place =
      job.record && CoordinatesTable::InRange(icon) ? *job.record : CoordinatesRecord{};
  DecodeEntryAt(place, entry, picture, job.calls, Owner::kNone);
}

void CreationPipeline::Pack(PreparedIcon& job) {
  if (job.source.outcome != SourceOutcome::kConverted) return;
  if (PacksEntry(pack_mode_, job.entry_length)) {
    job.packed_length = PackEntry(job.entry.span().first(job.entry_length), job.packed.span(),
                                  job.calls, Owner::kMain, job.title_text);
  }
}

}  // namespace zemlo
