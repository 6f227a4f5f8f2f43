#include "library/run/create/creation_pipeline.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "core/status.h"
#include "library/codec/entry_decoder.h"
#include "library/codec/icon_encoder.h"
#include "library/run/create/creation_run.h"
#include "library/run/jobs.h"
#include "packer/kzp.h"
#include "picture/ilbm_reader.h"

namespace zemlo {
namespace {

// Each helper's own icons in flight: the one it works on and three it prepared, ready or in
// the run's hands (or holding the working picture, or the picture the run shows). A helper
// that got ahead (the run's thread shares a core with one of them) waits for the run less
// with a third. With a source at every other icon, the icons without one hold slots until
// the run takes them: a fourth kept both helpers busy there (1.05x as fast) and costs a full
// range nothing now that a picture is no longer scanned whole after it is decoded; more took
// more processor time, in cache misses, than they saved.
constexpr int kSlotsPerHelper = 4;
// A helper that waits for a free slot is woken by the run's Release only once this many of
// its slots are free: where the icons cost next to nothing (a range without sources) the run
// spent a fifth of its time waking a helper for every icon, and each wake-up costs the other
// processor a switch as well. The run wakes every helper that can go on before it waits.
constexpr int kReleaseWakeSlots = 2;

}  // namespace

// One helper thread, what it reads sources into and the icons it prepares: a picture's
// buffers are only ever written by one helper, so they stay in one core's caches. (Slots
// shared by the helpers spread each buffer over both cores' caches: loading and scanning the
// pictures took a third longer.)
struct CreationPipeline::Helper {
  Helper(const ProjectSettings& run_settings, std::size_t helper_number, bool keep_unsmoothed)
      : settings(run_settings), number(helper_number) {
    for (auto& job : jobs) job = std::make_unique<PreparedIcon>(keep_unsmoothed);
  }
  ProjectSettings settings;  // stamped by this helper's guesses only
  Buffer file{kPcxMaxSize + kReadSpare, Buffer::Unfilled{}};
  Buffer index{kIndexBufferSize};
  std::array<std::unique_ptr<PreparedIcon>, kSlotsPerHelper> jobs;
  // Its place in helpers_ and waiting_; its slots in slots_ start at number * kSlotsPerHelper.
  const std::size_t number;
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

CreationPipeline::CreationPipeline(const ProjectSettings& settings, WorkingState& state,
                                   bool archive_test, int first, int last, int helpers,
                                   bool keep_unsmoothed)
    : archive_test_(archive_test),
      first_(first),
      last_(last),
      pack_mode_(settings.DPAK),
      place_count_(static_cast<std::size_t>(std::clamp(helpers, 1, kMaxJobs)) * kSlotsPerHelper),
      offsets_(state.offsets.span().begin(), state.offsets.span().end()),
      next_(first),
      composed_(first - 1),
      picture_(kPictureBytes + kReadSpare) {
  std::memcpy(picture_.data(), state.picture.data(), kPictureBytes);
  // The helpers wake one another through the list, which is complete once they get the lock.
  MutexLock lock(mutex_);
  std::copy_n(state.palette.data(), kPaletteSize, palette_.begin());
  const std::size_t count = place_count_ / kSlotsPerHelper;
  in_flight_.assign(place_count_, 0);
  slots_.reserve(place_count_);
  waiting_.reserve(count);
  helpers_.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    // Fewer helpers, or none, where the threads or their buffers cannot be had (a 32-bit
    // process on a machine of many processors): the run then converts on its own.
    std::unique_ptr<Helper> helper;
    try {
      helper = std::make_unique<Helper>(settings, i, keep_unsmoothed);
    } catch (const std::bad_alloc&) {
      break;
    }
    try {
      helper->thread = std::thread([this, h = helper.get()] { Work(*h); });
    } catch (const std::system_error&) {
      break;
    }
    for (auto& job : helper->jobs) slots_.push_back(Slot{job.get(), first - 1});
    waiting_.emplace_back();
    helpers_.push_back(std::move(helper));
  }
}

CreationPipeline::~CreationPipeline() {
  {
    Wakes wakes;
    MutexLock lock(mutex_);
    cancelled_ = true;
    Wake(wakes);
  }
  for (auto& helper : helpers_) helper->thread.join();
}

PreparedIcon* CreationPipeline::TakeIfReady(int icon) {
  Slot* slot = InFlight(icon);
  if (slot == nullptr || slot->state != SlotState::kReady) return nullptr;
  Move(*slot, SlotState::kTaken);
  return slot->job;
}

PreparedIcon& CreationPipeline::Take(int icon, const std::function<bool()>& meanwhile) {
  {
    Wakes wakes;
    MutexLock lock(mutex_);
    if (PreparedIcon* job = TakeIfReady(icon)) return *job;
    // The run is about to wait: every helper that can go on must, those Release let sleep on
    // a single free slot too.
    Wake(wakes);
  }
  while (meanwhile && meanwhile()) {
    MutexLock lock(mutex_);
    if (PreparedIcon* job = TakeIfReady(icon)) return *job;
  }
  MutexLock lock(mutex_);
  PreparedIcon* job = TakeIfReady(icon);
  while (job == nullptr) {
    awaited_ = icon;
    mutex_.Wait(icon_ready_);
    job = TakeIfReady(icon);
  }
  awaited_ = -1;
  return *job;
}

void CreationPipeline::Release(int icon, int kept) {
  Wakes wakes;
  MutexLock lock(mutex_);
  // The run takes the icons in order, so every icon up to `icon` is in its hands or released.
  for (Slot& slot : slots_) {
    if (slot.state == SlotState::kTaken && slot.icon <= icon && slot.icon != kept) {
      Move(slot, SlotState::kReleased);
    }
  }
  Wake(wakes, kReleaseWakeSlots);
}

CreationPipeline::Slot* CreationPipeline::InFlight(int icon) {
  const std::size_t index = in_flight_[Place(icon)];
  if (index >= slots_.size() || slots_[index].icon != icon) return nullptr;
  return &slots_[index];
}

void CreationPipeline::Move(Slot& slot, SlotState to) {
  assert(SlotMayMove(slot.state, to));
  slot.state = to;
}

bool CreationPipeline::MayGoOn(const Helper& helper) {
  if (cancelled_) return true;
  const int turn = waiting_[helper.number].turn;
  if (turn != -1) return composed_ == turn - 1;
  return next_ > last_ || FreeSlot(helper) != nullptr;
}

void CreationPipeline::WaitToGoOn(Helper& helper) {
  while (!MayGoOn(helper)) {
    waiting_[helper.number].waiting = true;
    mutex_.Wait(helper.wake);
  }
  waiting_[helper.number].waiting = false;
}

// A released slot is free once the icon after its own was composed over its picture, unless
// its picture is still the working picture.
void CreationPipeline::Recycle() {
  for (Slot& slot : slots_) {
    if (slot.state == SlotState::kReleased && slot.icon < composed_ &&
        &slot.job->picture != current_) {
      Move(slot, SlotState::kFree);
    }
  }
}

// Frees what the change just made under mutex_ let go, and picks the waiting threads whose
// wait is over. Every change a waiting thread may wait for is followed by this.
void CreationPipeline::Wake(Wakes& wakes, int free_slots) {
  Recycle();
  for (auto& helper : helpers_) {
    Waiting& waiting = waiting_[helper->number];
    // Only a helper that waits for a free slot while the run goes on may be left to sleep.
    const bool enough = free_slots <= 1 || cancelled_ || waiting.turn != -1 || next_ > last_ ||
                        FreeSlots(*helper) >= free_slots;
    if (waiting.waiting && enough && MayGoOn(*helper)) {
      waiting.waiting = false;
      wakes.Add(helper->wake);
    }
  }
  if (awaited_ == -1) return;
  const Slot* slot = InFlight(awaited_);
  if (slot != nullptr && slot->state == SlotState::kReady) {
    awaited_ = -1;
    wakes.Add(icon_ready_);
  }
}

int CreationPipeline::FreeSlots(const Helper& helper) const {
  const Slot* slot = &slots_[helper.number * kSlotsPerHelper];
  return static_cast<int>(std::count_if(slot, slot + kSlotsPerHelper,
                                        [](const Slot& s) { return s.state == SlotState::kFree; }));
}

CreationPipeline::Slot* CreationPipeline::FreeSlot(const Helper& helper) {
  Slot* slot = &slots_[helper.number * kSlotsPerHelper];
  for (int i = 0; i < kSlotsPerHelper; ++i, ++slot) {
    if (slot->state == SlotState::kFree) return slot;
  }
  return nullptr;
}

// Each helper takes the next icon whenever one of its slots is free, so a helper that got
// heavier sources is not waited for by the other.
void CreationPipeline::Work(Helper& helper) {
  for (;;) {
    std::size_t slot = 0;
    PreparedIcon* job = nullptr;
    {
      MutexLock lock(mutex_);
      WaitToGoOn(helper);
      if (cancelled_ || next_ > last_) return;
      Slot& free = *FreeSlot(helper);
      const int icon = next_++;
      free.icon = icon;
      free.job->icon = icon;
      Move(free, SlotState::kPreparing);
      // Slots not yet free hold the icons after the last one freed, one a slot, so the place
      // of the icon one round of places before this one is no longer needed.
      slot = static_cast<std::size_t>(&free - slots_.data());
      in_flight_[Place(icon)] = slot;
      job = free.job;
    }
    GuessSource(job->icon, *job, helper.settings, offsets_, archive_test_, helper.file,
                helper.index);
    const bool alone = StandsAlone(*job);
    const bool went_on = alone || LeavesPicture(*job) ? PrepareAlone(helper, slot, *job)
                                                      : ComposeInTurn(helper, slot, *job);
    if (!went_on) return;
  }
}

// Ready but for its turn, which need not be waited for: whoever ends the icon before it
// hands this one on, and this helper goes on to its next icon. False once the run is over.
bool CreationPipeline::PrepareAlone(Helper& helper, std::size_t slot, PreparedIcon& job) {
  if (StandsAlone(job)) {
    ComposeAlone(job, helper);
    Pack(job);
  }
  Wakes wakes;
  MutexLock lock(mutex_);
  if (cancelled_) return false;
  Move(slots_[slot], SlotState::kAwaitingTurn);
  HandOn();
  Wake(wakes);
  return true;
}

// Waits for the icon's turn, composes it over the working picture, which it then becomes,
// and packs it. False once the run is over.
bool CreationPipeline::ComposeInTurn(Helper& helper, std::size_t slot, PreparedIcon& job) {
  const Buffer* previous = nullptr;
  {
    MutexLock lock(mutex_);
    waiting_[helper.number].turn = job.icon;
    WaitToGoOn(helper);
    waiting_[helper.number].turn = -1;
    if (cancelled_) return false;
    previous = current_;
    job.palette = palette_;
  }
  Compose(job, helper, *previous);
  {
    Wakes wakes;
    MutexLock lock(mutex_);
    current_ = &job.picture;
    palette_ = job.palette;
    composed_ = job.icon;
    Move(slots_[slot], SlotState::kPacking);
    HandOn();
    Wake(wakes);
  }
  Pack(job);
  Wakes wakes;
  MutexLock lock(mutex_);
  Move(slots_[slot], SlotState::kReady);
  Wake(wakes);
  return true;
}

// Ends, in order, the turns of the icons after the last composed one that wait only for
// them: the picture and colours of each one that made a picture become the working ones.
void CreationPipeline::HandOn() {
  for (int icon = composed_ + 1; icon <= last_; ++icon) {
    Slot* slot = InFlight(icon);
    if (slot == nullptr || slot->state != SlotState::kAwaitingTurn) return;
    PreparedIcon& job = *slot->job;
    if (job.picture_changed) {
      current_ = &job.picture;
      if (job.palette_read) palette_ = job.read_palette;
      job.palette = palette_;
    }
    composed_ = icon;
    Move(*slot, SlotState::kReady);
  }
}

// Such an icon is composed, encoded and drawn back by the helper that loaded it, before its
// turn: the picture is still in that core's cache, and the icons' turns (which follow one
// another) shrink to handing the picture on.
void CreationPipeline::ComposeAlone(PreparedIcon& job, Helper& helper) {
  job.picture_changed = true;
  const auto picture = job.picture.span().first(kPictureBytes);
  if (job.load == PreparedIcon::Load::kIlbm) {
    ExpandPalette(helper.index.span(), picture, job.read_palette);
    job.inked_rows = {};
  }
  if (job.source.outcome == SourceOutcome::kConverted) Encode(job, picture);
}

// The turn of an icon that loaded or converts something: its load goes over the picture the
// icons before it left, exactly as the shared load would have put it there. The icon's own
// buffer becomes the working picture, so what the load wrote stays where it is and only what
// it left untouched is copied in. The icon's palette comes in as the working one.
void CreationPipeline::Compose(PreparedIcon& job, Helper& helper, const Buffer& working) {
  const std::uint8_t* previous = working.data();
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
        if (job.palette_read) job.palette = job.read_palette;
        ExpandPalette(helper.index.span(), job.picture.span().first(kPictureBytes), job.palette);
        job.inked_rows = {};
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
  if (from < kPictureBytes) job.inked_rows = {};
  if (job.source.outcome == SourceOutcome::kConverted) {
    Encode(job, job.picture.span().first(kPictureBytes));
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
  // A PCX that replaced the whole picture found its crop box as it was decoded.
  const CropBox* known_box = job.load == PreparedIcon::Load::kPcx && job.pcx_ink && StandsAlone(job)
                                 ? &*job.pcx_ink
                                 : nullptr;
  job.entry_length =
      EncodeIconEntry(icon, input, job.entry.span(), job.record, job.crop_box, known_box);
  const auto entry = job.entry.span().first(job.entry_length);
  // Smoothing may have painted past the rows known before; the crop box, found after it,
  // holds every pixel that is not black, and drawing back adds the rows it writes.
  job.inked_rows = !sound && job.entry_length != 0 ? RowsOf(job.crop_box) : PictureRows{};
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
  DecodeEntryAt(place, entry, picture, job.calls, Owner::kNone, &job.inked_rows);
}

void CreationPipeline::Pack(PreparedIcon& job) {
  if (job.source.outcome != SourceOutcome::kConverted) return;
  if (PacksEntry(pack_mode_, job.entry_length)) {
    job.packed_length = PackEntry(job.entry.span().first(job.entry_length), job.packed.span(),
                                  job.calls, Owner::kMain, job.title_text);
  }
  job.stored_hash = HashBytes(job.packed_length ? job.packed.span().first(*job.packed_length)
                                                : job.entry.span().first(job.entry_length));
}

}  // namespace zemlo
