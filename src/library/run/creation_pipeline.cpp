#include "library/run/creation_pipeline.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#include "core/status.h"
#include "files/file_helpers.h"
#include "library/codec/entry_decoder.h"
#include "library/codec/icon_encoder.h"
#include "library/run/creation_run.h"
#include "packer/kzp.h"
#include "picture/ilbm_reader.h"
#include "picture/pcx_reader.h"

namespace zemlo {
namespace {

// Each helper's own icons in flight: the one it works on and two it prepared, ready or in
// the run's hands (or holding the working picture, or the picture the run shows). A helper
// that got ahead (the run's thread shares a core with one of them) waits for the run less
// with a third; more took more processor time, in cache misses, than they saved.
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
      unsmoothed(keep_unsmoothed ? std::make_unique<Buffer>(kPictureBytes, Buffer::Unfilled{})
                                 : nullptr),
      entry(kMaxPictureEntry, Buffer::Unfilled{}),
      packed(PackedBound(kMaxPictureEntry), Buffer::Unfilled{}) {}

// One helper thread, what it reads sources into and the slots it prepares icons in: a
// picture's buffers are only ever written by one helper, so they stay in one core's caches.
// (Slots shared by the helpers spread each buffer over both cores' caches: loading and
// scanning the pictures took a third longer.)
struct CreationPipeline::Helper {
  Helper(const ProjectSettings& run_settings, int first_icon, bool keep_unsmoothed)
      : settings(run_settings) {
    for (auto& slot : slots) {
      slot = std::make_unique<PreparedIcon>(keep_unsmoothed);
      slot->icon = first_icon - 1;  // before the run: free
    }
  }
  ProjectSettings settings;  // stamped by this helper's guesses only
  Buffer file{kPcxMaxSize + kReadSpare, Buffer::Unfilled{}};
  Buffer index{kIndexBufferSize};
  std::array<std::unique_ptr<PreparedIcon>, kSlotsPerHelper> slots;
  // Guarded by mutex_: whether the helper waits, and for the turn of which icon (-1: for a
  // free slot).
  bool waiting = false;
  int turn = -1;
  std::condition_variable wake;
  std::thread thread;
};

// The threads to wake once mutex_ is let go (declared before the lock, so destroyed after
// it): woken while the lock is held, they would only wait for it.
class CreationPipeline::Wakes {
 public:
  void Add(std::condition_variable& waiter) { waiters_[count_++] = &waiter; }
  ~Wakes() {
    for (std::size_t i = 0; i < count_; ++i) waiters_[i]->notify_one();
  }

 private:
  std::array<std::condition_variable*, kMaxJobs + 1> waiters_{};  // the helpers and the run
  std::size_t count_ = 0;
};

namespace {

// Loads a guessed source into the icon's own buffers, as the shared loads would.
class AheadLoader final : public SourceLoader {
 public:
  AheadLoader(PreparedIcon& job, Buffer& file, Buffer& index)
      : job_(job), file_(file), index_(index) {}

  SourceLoad LoadPcx(const char* name) override {
    Start(PreparedIcon::Load::kPcx, name);
    const auto length = Read(name, file_.span(), kPcxLoadLimit);
    if (!length) return job_.load_result;
    const auto bytes = file_.span().first(*length);
    const auto rows = DecodePcx(bytes, job_.picture.span().first(kPictureBytes));
    if (!rows) {
      job_.refusal = rows.error().text;
      return job_.load_result = SourceLoad::kRejected;
    }
    job_.pcx_rows = *rows;
    return job_.load_result = SourceLoad::kLoaded;
  }

  SourceLoad LoadIlbm(const char* name) override {
    Start(PreparedIcon::Load::kIlbm, name);
    const auto length = Read(name, file_.span(), kIlbmLoadLimit);
    if (!length) return job_.load_result;
    // The colours are put in when the icon's turn comes: a file without a palette takes the
    // one the icons before it leave.
    const auto decoded = DecodeIlbm(file_.span().first(*length), index_.span(), job_.read_palette);
    if (!decoded) {
      job_.refusal = decoded.error().text;
      return job_.load_result = SourceLoad::kRejected;
    }
    job_.palette_read = decoded->palette_read;
    return job_.load_result = SourceLoad::kLoaded;
  }

  // The whole picture, straight into the icon's own buffer.
  SourceLoad LoadPng(const char* name) override {
    Start(PreparedIcon::Load::kPng, name);
    const PngFileRead read = ReadPngFile(name);
    if (read.result != SourceLoad::kLoaded) {
      job_.refusal = read.refusal;
      return job_.load_result = read.result;
    }
    const Status decoded = DecodePng(read.bytes, job_.picture.span().first(kPictureBytes));
    if (!decoded) {
      job_.refusal = decoded.error().text;
      return job_.load_result = SourceLoad::kRejected;
    }
    return job_.load_result = SourceLoad::kLoaded;
  }

  std::optional<std::span<const std::uint8_t>> LoadWav(const char* name) override {
    Start(PreparedIcon::Load::kWav, name);
    const auto length = Read(name, job_.picture.span(), kWavLoadLimit);
    if (!length) return std::nullopt;
    job_.wav_length = *length;
    job_.load_result = SourceLoad::kLoaded;
    return job_.picture.span().first(*length);
  }

 private:
  // The file's bytes, or why it could not be opened in the icon's refusal.
  std::optional<std::size_t> Read(const char* name, std::span<std::uint8_t> buffer,
                                  std::size_t limit) {
    files::FileProblem problem = files::FileProblem::kOther;
    const auto length = ReadWholeFile(name, buffer, limit, &problem);
    if (!length) job_.refusal = files::FileProblemText(problem);
    return length;
  }
  void Start(PreparedIcon::Load load, const char* name) {
    job_.load = load;
    job_.load_name = name;
    job_.load_result = SourceLoad::kNotOpened;
    job_.refusal = {};
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
      next_(first),
      composed_(first - 1),
      released_(first - 1) {
  std::memcpy(picture_.data(), state.picture.data(), kPictureBytes);
  std::copy_n(state.palette.data(), kPaletteSize, palette_.begin());
  helpers = std::clamp(helpers, 1, kMaxJobs);
  // Room for every slot, should every helper start.
  const std::size_t places = static_cast<std::size_t>(helpers) * kSlotsPerHelper;
  in_flight_.assign(places, nullptr);
  ready_.assign(places, -1);
  waiting_turn_.assign(places, -1);
  // The helpers wake one another through the list, which is complete once they get the lock.
  std::lock_guard lock(mutex_);
  helpers_.reserve(static_cast<std::size_t>(helpers));
  for (int i = 0; i < helpers; ++i) {
    // Fewer helpers, or none, where the threads or their buffers cannot be had (a 32-bit
    // process on a machine of many processors): the run then converts on its own.
    std::unique_ptr<Helper> helper;
    try {
      helper = std::make_unique<Helper>(settings, first, keep_unsmoothed);
    } catch (const std::bad_alloc&) {
      break;
    }
    try {
      helper->thread = std::thread([this, h = helper.get()] { Work(*h); });
    } catch (const std::system_error&) {
      break;
    }
    helpers_.push_back(std::move(helper));
  }
}

CreationPipeline::~CreationPipeline() {
  {
    Wakes wakes;
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    Wake(wakes);
  }
  for (auto& helper : helpers_) helper->thread.join();
}

PreparedIcon& CreationPipeline::Take(int icon) {
  std::unique_lock lock(mutex_);
  const std::size_t place = Place(icon);
  while (ready_[place] != icon) {
    awaited_ = icon;
    icon_ready_.wait(lock);
  }
  awaited_ = -1;
  return *in_flight_[place];
}

void CreationPipeline::Release(int icon, int kept) {
  Wakes wakes;
  std::lock_guard lock(mutex_);
  released_ = std::max(released_, icon);
  kept_ = kept;
  Wake(wakes);
}

// Called with mutex_ held.
bool CreationPipeline::MayGoOn(Helper& helper) {
  if (cancelled_) return true;
  if (helper.turn != -1) return composed_ == helper.turn - 1;
  return next_ > last_ || FreeSlot(helper) != nullptr;
}

void CreationPipeline::WaitToGoOn(Helper& helper, std::unique_lock<std::mutex>& lock) {
  while (!MayGoOn(helper)) {
    helper.waiting = true;
    helper.wake.wait(lock);
  }
  helper.waiting = false;
}

// Picks the waiting threads whose wait is over. Called with mutex_ held.
void CreationPipeline::Wake(Wakes& wakes) {
  for (auto& helper : helpers_) {
    if (helper->waiting && MayGoOn(*helper)) {
      helper->waiting = false;
      wakes.Add(helper->wake);
    }
  }
  if (awaited_ != -1 && ready_[Place(awaited_)] == awaited_) {
    awaited_ = -1;
    wakes.Add(icon_ready_);
  }
}

// A slot is taken again once the run released its icon and the icon after that one was
// composed over its picture, unless its picture is still the working picture or the one the
// run holds. Called with mutex_ held.
PreparedIcon* CreationPipeline::FreeSlot(Helper& helper) {
  for (auto& slot : helper.slots) {
    const int icon = slot->icon;
    if (icon < first_ ||
        (icon <= released_ && icon < composed_ && icon != kept_ && &slot->picture != current_)) {
      return slot.get();
    }
  }
  return nullptr;
}

// Each helper takes the next icon whenever one of its slots is free, so a helper that got
// heavier sources is not waited for by the other.
void CreationPipeline::Work(Helper& helper) {
  for (;;) {
    int icon = 0;
    PreparedIcon* taken = nullptr;
    std::size_t place = 0;
    {
      std::unique_lock lock(mutex_);
      WaitToGoOn(helper, lock);
      if (cancelled_ || next_ > last_) return;
      taken = FreeSlot(helper);
      icon = next_++;
      // Icons not yet free are the ones after the last freed, one per slot, so the place
      // of the icon one round of places before this one is free.
      place = Place(icon);
      taken->icon = icon;
      in_flight_[place] = taken;
      ready_[place] = -1;
    }
    PreparedIcon& job = *taken;
    Guess(icon, job, helper);
    const bool alone = StandsAlone(job);
    if (alone || LeavesPicture(job)) {
      // Ready but for its turn, which need not be waited for: whoever ends the icon before
      // it hands this one on, and this helper goes on to its next icon.
      if (alone) {
        ComposeAlone(job, helper);
        Pack(job);
      }
      Wakes wakes;
      std::lock_guard lock(mutex_);
      if (cancelled_) return;
      waiting_turn_[place] = icon;
      HandOn();
      Wake(wakes);
    } else {
      {
        std::unique_lock lock(mutex_);
        helper.turn = icon;
        WaitToGoOn(helper, lock);
        helper.turn = -1;
        if (cancelled_) return;
      }
      Compose(job, helper);
      {
        Wakes wakes;
        std::lock_guard lock(mutex_);
        current_ = &job.picture;
        composed_ = icon;
        HandOn();
        Wake(wakes);
      }
      Pack(job);
      Wakes wakes;
      std::lock_guard lock(mutex_);
      ready_[place] = icon;
      Wake(wakes);
    }
  }
}

// Ends, in order, the turns of the icons after the last composed one that wait only for
// them: the picture and colours of each one that made a picture become the working ones.
// Called with mutex_ held.
void CreationPipeline::HandOn() {
  for (int icon = composed_ + 1; icon <= last_; ++icon) {
    const std::size_t place = Place(icon);
    if (waiting_turn_[place] != icon) return;
    PreparedIcon& job = *in_flight_[place];
    if (job.picture_changed) {
      current_ = &job.picture;
      if (job.palette_read) palette_ = job.read_palette;
      job.palette = palette_;
    }
    waiting_turn_[place] = -1;
    composed_ = icon;
    ready_[place] = icon;
  }
}

void CreationPipeline::Guess(int icon, PreparedIcon& job, Helper& helper) {
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
    case PreparedIcon::Load::kPng:
      return true;
    case PreparedIcon::Load::kWav:
    case PreparedIcon::Load::kNone:
      return false;
  }
  return false;
}

// An icon that loaded nothing and converts nothing: the picture stays as the icons before it
// left it.
bool CreationPipeline::LeavesPicture(const PreparedIcon& job) {
  return (job.load_result != SourceLoad::kLoaded || job.load == PreparedIcon::Load::kNone) &&
         job.source.outcome != SourceOutcome::kConverted;
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

// The turn of an icon that loaded or converts something: its load goes over the picture the
// icons before it left, exactly as the shared load would have put it there. The icon's own
// buffer becomes the working picture, so what the load wrote stays where it is and only what
// it left untouched is copied in.
void CreationPipeline::Compose(PreparedIcon& job, Helper& helper) {
  const std::uint8_t* previous = current_->data();
  std::uint8_t* own = job.picture.data();
  // Bytes [kept, kPictureBytes) come from the previous picture; all of them where the icon
  // only draws back over it.
  std::size_t kept = 0;
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
      case PreparedIcon::Load::kPng:
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
  const std::size_t from = std::min(kept, kPictureBytes);
  std::memcpy(own + from, previous + from, kPictureBytes - from);
  if (job.source.outcome == SourceOutcome::kConverted) {
    Encode(job, job.picture.span().first(kPictureBytes));
  }
  if (job.picture_changed) job.palette = palette_;
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
