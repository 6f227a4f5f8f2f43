// Icons of a creation run prepared ahead on helper threads: each icon's source is chosen and
// loaded, composed over the picture the icons before it leave, encoded, drawn back and
// packed, with every message it would show held back. The run takes the icons in order,
// checks each guess against its own choice and shows the held-back messages when it reaches
// the icon. Nothing is written to disk ahead: the run alone stores.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/deferred_port.h"
#include "core/working_state.h"
#include "library/run/create/source_selection.h"
#include "library/store/tables.h"
#include "project/project_settings.h"

namespace zemlo {

// What a helper made of one icon.
struct PreparedIcon {
  enum class Load : std::uint8_t { kNone, kPcx, kIlbm, kWav, kPng };

  explicit PreparedIcon(bool keep_unsmoothed);

  // One answer the file system gave the helper's choice.
  struct Fact {
    bool archive = false;  // the archive attribute was asked, not existence
    std::string name;
    bool answer = false;
  };

  int icon = -1;
  // What the helper's choice asked the file system, in order; facts_used are valid.
  std::vector<Fact> facts;
  std::size_t facts_used = 0;
  // The source the helper chose, what it loaded and how the load went.
  SelectedSource source;
  Load load = Load::kNone;
  std::string load_name;
  SourceLoad load_result = SourceLoad::kNotOpened;
  std::string_view refusal;    // why a load came back kRejected, when the reader said
  int pcx_rows = 0;            // PCX: the rows the source replaces
  std::size_t wav_length = 0;  // WAV: the bytes loaded
  bool palette_read = false;   // IFF: the file has a palette of its own, in read_palette
  std::array<std::uint8_t, kPaletteSize> read_palette{};

  // Its source's load first; once the icon is composed, the working picture as the icon
  // leaves it, whenever the icon converted or loaded anything. The run shows it, and the
  // next icon is composed over it, when picture_changed.
  bool picture_changed = false;
  Buffer picture;
  std::array<std::uint8_t, kPaletteSize> palette{};
  // The detailed view shows the picture before it is smoothed.
  bool unsmoothed_kept = false;
  std::unique_ptr<Buffer> unsmoothed;

  // A converted source: its entry, packed or not, and what EncodeIcon records.
  Buffer entry;
  std::size_t entry_length = 0;
  Buffer packed;
  std::optional<std::size_t> packed_length;
  std::optional<CoordinatesRecord> record;
  CropBox crop_box{};
  // The title the run sets before drawing back and packing; the packer's titles extend it.
  char title_text[kTextBufferSize] = {};
  // Drawing back and packing: their warnings and the packer's titles.
  DeferredPort calls;
};

// The run's own choice for a prepared icon asks what the helper asked: the answers the
// helper had are given again, so the file system is searched once per icon. Once the run
// asks anything else (the offsets table it consults changed), the file system answers.
class AnsweredFacts final : public SourceFacts {
 public:
  explicit AnsweredFacts(const PreparedIcon& job) : job_(job) {}
  bool Exists(const char* name) override { return Answer(false, name); }
  bool ArchiveAttributeSet(const char* name) override { return Answer(true, name); }

 private:
  bool Answer(bool archive, const char* name);
  const PreparedIcon& job_;
  FileSystemFacts now_;
  std::size_t next_ = 0;
  bool diverged_ = false;
};

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
  // Waits for `icon`, the icon after the one released last (the first icon at the start).
  PreparedIcon& Take(int icon);
  // The run is done with `icon` and every icon before it but `kept` (-1: none), whose
  // picture the run still holds; their buffers take later icons. The kept icon's buffers stay
  // until a later Release no longer names it.
  void Release(int icon, int kept = -1);

 private:
  struct Helper;
  class Wakes;
  std::size_t Place(int icon) const {
    return static_cast<std::size_t>(icon - first_) % in_flight_.size();
  }
  PreparedIcon* FreeSlot(Helper& helper);
  bool MayGoOn(Helper& helper);
  void WaitToGoOn(Helper& helper, std::unique_lock<std::mutex>& lock);
  void Wake(Wakes& wakes);
  void Work(Helper& helper);
  void Guess(int icon, PreparedIcon& job, Helper& helper);
  static bool StandsAlone(const PreparedIcon& job);
  static bool LeavesPicture(const PreparedIcon& job);
  void ComposeAlone(PreparedIcon& job, Helper& helper);
  void Compose(PreparedIcon& job, Helper& helper);
  void HandOn();
  void Encode(PreparedIcon& job, std::span<std::uint8_t> picture);
  void Pack(PreparedIcon& job);

  const bool archive_test_;
  const int first_;
  const int last_;
  const std::uint8_t pack_mode_;
  // What the archive test reads of the offsets table: lengths of icons the run has not reached
  // change only when it opens a block whose file lost entries, and the run finds that guess
  // wrong and starts again.
  std::vector<std::uint8_t> offsets_;
  // The working picture and palette as the icons composed so far leave them; only the helper
  // whose turn it is to compose reads them, and changes them with mutex_ held, as does one
  // handing on icons that waited only for their turn. The picture is the last icon's own
  // that made one (its slot is not taken again while it is), else picture_: whole pictures
  // are not copied from icon to icon.
  Buffer picture_;
  Buffer* current_ = &picture_;
  std::array<std::uint8_t, kPaletteSize> palette_{};

  std::vector<std::unique_ptr<Helper>> helpers_;

  // Each thread waits on a condition of its own and is woken only once what it waits for
  // has come: a wake-up that finds nothing to do costs two context switches, and there were
  // more of them than icons.
  std::mutex mutex_;
  std::condition_variable icon_ready_;
  // Guarded by mutex_.
  int awaited_ = -1;  // the icon the run waits for, or -1
  bool cancelled_ = false;
  int next_;       // the next icon a helper takes
  int composed_;   // the last icon composed
  int released_;   // the last icon the run released
  int kept_ = -1;  // an icon up to released_ whose picture the run still holds, or -1
  // Per icon in flight, at (icon - first_) modulo their size, which is at least the count of
  // slots: the icon's slot, the icon once its preparation is complete (else -1), and the icon
  // while it waits only for its turn (else -1).
  std::vector<PreparedIcon*> in_flight_;
  std::vector<int> ready_;
  std::vector<int> waiting_turn_;
};

}  // namespace zemlo
