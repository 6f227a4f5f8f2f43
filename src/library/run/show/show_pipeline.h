// Icons of an export prepared ahead on helper threads: each icon's entry is loaded into a
// working state of its own and the picture it leaves is encoded as the export's file (PCX or
// PNG), with every port call
// held back. The export takes the icons in order, puts what each load left into its own
// state, makes the held-back calls and writes the file: the helpers write nothing to disk.
// The threads and what each owns when: docs/threads.md.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <thread>
#include <vector>

#include "core/deferred_port.h"
#include "core/mutex.h"
#include "core/thread_annotations.h"
#include "core/working_state.h"
#include "library/run/entry_loading.h"
#include "project/project_settings.h"

namespace zemlo {

// The file an export writes for each icon.
enum class ShowFormat {
  kPcx,            // 24-bit PCX
  kPng,            // PNG, opaque
  kPngSeeThrough,  // PNG whose black is see-through where the entry is of a masked kind
};

// The file of the 800 x 600 `picture` in `format`, `masked` saying whether the entry shown is
// of a masked kind. PCX is encoded into `pcx` (kPcxMaxSize bytes at least), PNG into `png`;
// the bytes returned lie in one of them. Empty when the memory for a PNG ran out. `ink`: the
// rows outside which the picture is black, when the one who drew it knows.
std::span<const std::uint8_t> EncodeShowFile(ShowFormat format,
                                             std::span<const std::uint8_t> picture, bool masked,
                                             Buffer& pcx, std::vector<std::uint8_t>& png,
                                             PictureRows ink = {});

// One icon as a helper loaded and encoded it.
struct PreparedShow {
  PreparedShow(const ProjectSettings& settings, const WorkingState& shared);

  int icon = -1;
  EntryLoad load = EntryLoad::kNoEntry;
  // The load found no offsets file or single entry file and blanked the picture.
  bool blanked = false;
  // The file, when the entry was shown: in state.pcx or in png.
  std::span<const std::uint8_t> file;
  std::vector<std::uint8_t> png;
  DeferredPort calls;
  // Stamped by this slot's loads only.
  ProjectSettings settings;
  // Its port is `calls`; its coordinates table is the export's. Its offsets table is written
  // by this slot's loads only, and read again only when the offsets file changed.
  WorkingState state;
  // The rows of state's picture that may not be black: a load clears only those. It goes
  // with the picture buffer when the export takes that.
  PictureRows picture_ink;
  KeptTable offsets_kept;
};

class ShowPipeline {
 public:
  // Prepares icons first .. last on `helpers` threads, with the coordinates table `state`
  // holds now, each as a file in `format`.
  ShowPipeline(const ProjectSettings& settings, const WorkingState& state, int first, int last,
               int helpers, ShowFormat format = ShowFormat::kPcx);
  // Icons prepared ahead and not taken are dropped; a helper finishes the icon in hand first.
  ~ShowPipeline();
  ShowPipeline(const ShowPipeline&) = delete;
  ShowPipeline& operator=(const ShowPipeline&) = delete;

  // False when no helper thread could be started: the export loads and encodes by itself.
  bool running() const { return !helpers_.empty(); }

  // Waits for `icon` (the one after the icon taken last) and leaves `settings` and `state`
  // as loading it there would have left them: the picture, whether it is shown, the title,
  // the offsets table and the stamped names; its port calls are made. Returns how the load
  // went and sets `file` to the bytes of the icon's file, valid until the next Take (empty
  // when the memory for a PNG ran out).
  EntryLoad Take(int icon, ProjectSettings& settings, WorkingState& state,
                 std::span<const std::uint8_t>& file) EXCLUDES(mutex_);

 private:
  // Where a slot stands: free, a helper loads an icon into it, ready, or the export reads it
  // (and frees it when done).
  enum class ShowSlot : std::uint8_t { kFree, kLoading, kReady, kTaken };
  struct SlotMark {
    int icon = -1;  // the icon loaded in it last
    ShowSlot state = ShowSlot::kFree;
  };

  void Work() EXCLUDES(mutex_);
  void Prepare(int icon, PreparedShow& job);
  std::size_t SlotOf(int icon) const {
    return static_cast<std::size_t>(icon - first_) % slots_.size();
  }

  const int first_;
  const int last_;
  const bool block_files_;
  const ShowFormat format_;
  // Made before the helpers start, then only read; what is in a slot belongs to whoever its
  // mark says.
  std::vector<std::unique_ptr<PreparedShow>> slots_;
  std::vector<std::thread> helpers_;
  // The export's thread alone: the bytes of the last file taken. An icon whose entry is not shown
  // leaves the picture as it was, so its file repeats them.
  Buffer held_{kPcxMaxSize + kReadSpare};
  std::vector<std::uint8_t> held_png_;
  std::span<const std::uint8_t> held_file_;
  bool held_valid_ = false;
  // The rows of the export's picture that may not be black, for the slot that takes that
  // buffer in exchange for its own (unknown at first: every row).
  PictureRows export_ink_;

  Mutex mutex_;
  std::condition_variable helpers_wake_;  // a slot was freed or the export ended
  std::condition_variable icon_ready_;
  bool cancelled_ GUARDED_BY(mutex_) = false;
  int next_ GUARDED_BY(mutex_);  // the next icon a helper takes
  // Per slot; icon `i` goes to slot (i - first_) modulo their count.
  std::vector<SlotMark> marks_ GUARDED_BY(mutex_);
};

}  // namespace zemlo
