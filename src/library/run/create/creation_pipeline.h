// Icons of a creation run prepared ahead on helper threads: each icon's source is chosen and
// loaded, composed over the picture the icons before it leave, encoded, drawn back and
// packed, with every message it would show held back. The run takes the icons in order,
// checks each guess against its own choice and shows the held-back messages when it reaches
// the icon. Nothing is written to disk ahead: the run alone stores. The threads and what
// each owns when: docs/threads.md.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "core/mutex.h"
#include "core/thread_annotations.h"
#include "core/working_state.h"
#include "library/run/create/prepared_icon.h"
#include "library/run/create/slot_state.h"
#include "library/run/create/source_selection.h"
#include "library/store/tables.h"
#include "project/project_settings.h"

namespace zemlo {

class CreationPipeline {
 public:
  // Prepares icons first .. last on `helpers` threads. The picture, palette and offsets table
  // of `state` are taken as they are now: the run must not have changed them for icons it
  // has not reached. With `keep_unsmoothed` (the detailed view is shown) each smoothed
  // icon's picture is also kept as it was before smoothing.
  CreationPipeline(const ProjectSettings& settings, WorkingState& state, bool archive_test,
                   int first, int last, int helpers, bool keep_unsmoothed);
  // Work prepared for icons the run did not take is dropped; a helper in the middle of
  // packing finishes that entry first.
  ~CreationPipeline();
  CreationPipeline(const CreationPipeline&) = delete;
  CreationPipeline& operator=(const CreationPipeline&) = delete;

  // False when no helper thread could be started: the run converts on its own.
  bool running() const { return !helpers_.empty(); }
  // Waits for `icon`, the icon after the one taken last (the first icon at the start), and
  // hands it to the run. Before it waits, the run calls `meanwhile` (if given) for as long as
  // the icon is not ready and it found something to do (returned true): one short piece of
  // the run's own work a call.
  PreparedIcon& Take(int icon, const std::function<bool()>& meanwhile = nullptr) EXCLUDES(mutex_);
  // The run is done with `icon` and every icon before it but `kept` (-1: none), whose
  // picture the run still holds; their buffers take later icons. The kept icon's buffers stay
  // until a later Release no longer names it.
  void Release(int icon, int kept = -1) EXCLUDES(mutex_);

 private:
  struct Helper;
  class Wakes;
  // One icon's buffers, owned by one helper, and where they stand.
  struct Slot {
    PreparedIcon* job = nullptr;
    int icon = -1;  // the icon prepared in it last
    SlotState state = SlotState::kFree;
  };
  // What a helper waits for, when it waits.
  struct Waiting {
    bool waiting = false;
    int turn = -1;  // the icon whose turn it waits for, or -1: for a free slot
  };

  std::size_t Place(int icon) const {
    return static_cast<std::size_t>(icon - first_) % place_count_;
  }
  // The slot `icon` is prepared in, when it is in flight.
  Slot* InFlight(int icon) REQUIRES(mutex_);
  // Hands `icon` to the run when it is ready; nullptr when not.
  PreparedIcon* TakeIfReady(int icon) REQUIRES(mutex_);
  void Move(Slot& slot, SlotState to) REQUIRES(mutex_);
  Slot* FreeSlot(const Helper& helper) REQUIRES(mutex_);
  bool MayGoOn(const Helper& helper) REQUIRES(mutex_);
  void WaitToGoOn(Helper& helper) REQUIRES(mutex_);
  void Recycle() REQUIRES(mutex_);
  void Wake(Wakes& wakes, int free_slots = 1) REQUIRES(mutex_);
  int FreeSlots(const Helper& helper) const REQUIRES(mutex_);
  void HandOn() REQUIRES(mutex_);

  void Work(Helper& helper) EXCLUDES(mutex_);
  bool PrepareAlone(Helper& helper, std::size_t slot, PreparedIcon& job) EXCLUDES(mutex_);
  bool ComposeInTurn(Helper& helper, std::size_t slot, PreparedIcon& job) EXCLUDES(mutex_);
  void ComposeAlone(PreparedIcon& job, Helper& helper);
  void Compose(PreparedIcon& job, Helper& helper, const Buffer& working);
  void Encode(PreparedIcon& job, std::span<std::uint8_t> picture);
  void Pack(PreparedIcon& job);

  const bool archive_test_;
  const int first_;
  const int last_;
  const std::uint8_t pack_mode_;
  // Room for every slot, should every helper start; set before any helper starts.
  const std::size_t place_count_;
  // What the archive test reads of the offsets table: lengths of icons the run has not reached
  // change only when it opens a block whose file lost entries, and the run finds that guess
  // wrong and starts again. Set before the helpers start, then only read.
  std::vector<std::uint8_t> offsets_;

  // The helpers, complete before any of them gets mutex_; then only read.
  std::vector<std::unique_ptr<Helper>> helpers_;

  // Each thread waits on a condition of its own and is woken only once what it waits for
  // has come: a wake-up that finds nothing to do costs two context switches, and there were
  // more of them than icons.
  Mutex mutex_;
  std::condition_variable icon_ready_;
  int awaited_ GUARDED_BY(mutex_) = -1;  // the icon the run waits for, or -1
  bool cancelled_ GUARDED_BY(mutex_) = false;
  int next_ GUARDED_BY(mutex_);      // the next icon a helper takes
  int composed_ GUARDED_BY(mutex_);  // the last icon composed
  // The working picture and palette as the icons composed so far leave them. The picture is
  // the last icon's own that made one (its slot is not freed while it is), else picture_:
  // whole pictures are not copied from icon to icon. Both change only with mutex_ held, by the
  // thread that ends an icon's turn. The helper whose turn it is takes them with mutex_ held
  // (the palette as a copy) and then reads the picture's bytes without it: while its turn
  // lasts nobody else composes or hands on, and the buffer is in no free slot.
  Buffer picture_;
  const Buffer* current_ GUARDED_BY(mutex_) = &picture_;
  std::array<std::uint8_t, kPaletteSize> palette_ GUARDED_BY(mutex_){};
  // Every helper's slots, kSlotsPerHelper each in helper order, and what each helper waits for.
  std::vector<Slot> slots_ GUARDED_BY(mutex_);
  std::vector<Waiting> waiting_ GUARDED_BY(mutex_);
  // Per icon in flight, at (icon - first_) modulo place_count_, which is at least the count of
  // slots: the index of the icon's slot in slots_.
  std::vector<std::size_t> in_flight_ GUARDED_BY(mutex_);
};

}  // namespace zemlo
