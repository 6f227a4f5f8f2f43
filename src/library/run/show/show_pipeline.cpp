#include "library/run/show/show_pipeline.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

#include "picture/pcx_writer.h"
#include "picture/png_writer.h"

namespace zemlo {
namespace {

// Icons in flight beyond one a helper: the export may be writing one while each helper
// works on another and one more waits, ready.
constexpr int kSpareSlots = 2;

void CopyBuffer(const Buffer& from, Buffer& to, std::size_t bytes) {
  std::memcpy(to.data(), from.data(), bytes);
}

}  // namespace

std::span<const std::uint8_t> EncodeShowFile(ShowFormat format,
                                             std::span<const std::uint8_t> picture, bool masked,
                                             Buffer& pcx, std::vector<std::uint8_t>& png,
                                             PictureRows ink) {
  if (format == ShowFormat::kPcx) return pcx.span().first(EncodePcx(picture, pcx.span(), ink));
  png = EncodePicturePng(picture, format == ShowFormat::kPngSeeThrough && masked);
  return png;
}

PreparedShow::PreparedShow(const ProjectSettings& export_settings, const WorkingState& shared)
    : settings(export_settings), state(calls) {
  // A failed read of the offsets file leaves the table as it was, so it starts as the
  // export's does.
  CopyBuffer(shared.coordinates, state.coordinates, kCoordinatesTableSize);
  CopyBuffer(shared.offsets, state.offsets, kOffsetsTableSize);
  CopyBuffer(shared.palette, state.palette, kPaletteSize);
}

ShowPipeline::ShowPipeline(const ProjectSettings& settings, const WorkingState& state, int first,
                           int last, int helpers, ShowFormat format)
    : first_(first),
      last_(last),
      block_files_(BlockFilesOn(settings)),
      format_(format),
      next_(first) {
  helpers = std::max(helpers, 1);
  const int slots = std::min(helpers + kSpareSlots, last - first + 1);
  slots_.reserve(static_cast<std::size_t>(std::max(slots, 1)));
  for (int i = 0; i < std::max(slots, 1); ++i) {
    try {
      slots_.push_back(std::make_unique<PreparedShow>(settings, state));
    } catch (const std::bad_alloc&) {
      // Where the buffers cannot be had (a 32-bit process on a machine of many processors),
      // fewer helpers share the slots there are; without any, the export goes on by itself.
      if (slots_.empty()) return;
      helpers = std::min(helpers, static_cast<int>(slots_.size()));
      break;
    }
  }
  {
    MutexLock lock(mutex_);
    marks_.assign(slots_.size(), SlotMark{});
  }
  for (int i = 0; i < helpers; ++i) {
    try {
      helpers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      break;  // fewer helpers, or none: the export then goes on by itself
    }
  }
}

ShowPipeline::~ShowPipeline() {
  {
    MutexLock lock(mutex_);
    cancelled_ = true;
  }
  helpers_wake_.notify_all();
  for (auto& helper : helpers_) helper.join();
}

// A helper takes the next icon once its slot is free: the export is done with the icon one
// round of slots before it.
void ShowPipeline::Work() {
  for (;;) {
    int icon = 0;
    {
      MutexLock lock(mutex_);
      while (!cancelled_ && next_ <= last_ && marks_[SlotOf(next_)].state != ShowSlot::kFree) {
        mutex_.Wait(helpers_wake_);
      }
      if (cancelled_ || next_ > last_) return;
      icon = next_++;
      marks_[SlotOf(icon)] = {icon, ShowSlot::kLoading};
    }
    Prepare(icon, *slots_[SlotOf(icon)]);
    {
      MutexLock lock(mutex_);
      marks_[SlotOf(icon)].state = ShowSlot::kReady;
    }
    icon_ready_.notify_one();
  }
}

void ShowPipeline::Prepare(int icon, PreparedShow& job) {
  job.icon = icon;
  job.calls.Clear();
  // Marks that tell the export afterwards what the load set: only a blank clears the flag,
  // and a title always has text.
  job.state.title_text[0] = '\0';
  job.state.picture_shown.store(true);
  bool masked = false;
  job.load =
      LoadIconEntry(icon, job.settings, job.state, &masked, &job.picture_ink, &job.offsets_kept);
  job.blanked = job.load != EntryLoad::kShown && !job.state.picture_shown.load();
  job.file = {};
  if (job.load == EntryLoad::kShown) {
    job.file = EncodeShowFile(format_, job.state.Picture(), masked, job.state.pcx, job.png,
                              job.picture_ink);
  }
}

EntryLoad ShowPipeline::Take(int icon, ProjectSettings& settings, WorkingState& state,
                             std::span<const std::uint8_t>& file) {
  const std::size_t slot = SlotOf(icon);
  {
    MutexLock lock(mutex_);
    while (marks_[slot].icon != icon || marks_[slot].state != ShowSlot::kReady) {
      mutex_.Wait(icon_ready_);
    }
    marks_[slot].state = ShowSlot::kTaken;
  }
  PreparedShow& job = *slots_[slot];
  const bool shown = job.load == EntryLoad::kShown;
  if (shown) {
    // Where nobody looks at the export's picture while it runs (no window paints it), the
    // slot's picture buffer is taken whole and the export's goes to the slot, whose next load
    // draws its picture afresh: no 1.4 MB copy per icon on the thread that writes the files.
    // A window may be painting the export's picture: there it is copied.
    if (state.port.ShowsPicture()) {
      std::memcpy(state.Picture().data(), job.state.Picture().data(), kPictureBytes);
    } else {
      std::swap(state.picture, job.state.picture);
      std::swap(export_ink_, job.picture_ink);
    }
    state.picture_shown.store(true);
  } else if (job.blanked) {
    state.picture_shown.store(false);
  }
  if (job.state.title_text[0] != '\0') {
    std::memcpy(state.title_text, job.state.title_text, sizeof state.title_text);
  }
  settings.FSEP = job.settings.FSEP;
  settings.FBLK = job.settings.FBLK;
  if (block_files_) CopyBuffer(job.state.offsets, state.offsets, kOffsetsTableSize);
  job.calls.ReplayTo(state.port);
  if (shown) {
    // The slot takes the buffers of the file before; their bytes are not needed again. The
    // file's bytes stay where they are, now owned by held_ or held_png_.
    std::swap(held_, job.state.pcx);
    std::swap(held_png_, job.png);
    held_file_ = job.file;
    held_valid_ = true;
  } else if (!held_valid_) {
    // No entry shown yet: the file is the picture the export started with.
    held_file_ = EncodeShowFile(format_, state.Picture(), false, held_, held_png_);
    held_valid_ = true;
  }
  file = held_file_;
  const EntryLoad load = job.load;
  {
    MutexLock lock(mutex_);
    marks_[slot].state = ShowSlot::kFree;
  }
  helpers_wake_.notify_all();
  return load;
}

}  // namespace zemlo
