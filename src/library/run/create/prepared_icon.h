// One icon of a creation run as a helper thread prepares it ahead of the run: the source its
// guess chose, what it loaded and, once composed, the picture, entry and packed entry it made,
// with every message held back. Also how the run's own choice is checked against the guess.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/content_hash.h"
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
  std::string_view refusal;     // why a load came back kRejected, when the reader said
  std::uint64_t load_size = 0;  // the loaded file's length as the load read it; 0 unknown
  int pcx_rows = 0;             // PCX: the rows the source replaces
  // 24-bit PCX: the crop box of those rows, found as they were decoded.
  std::optional<CropBox> pcx_ink;
  std::size_t wav_length = 0;  // WAV: the bytes loaded
  bool palette_read = false;   // IFF: the file has a palette of its own, in read_palette
  std::array<std::uint8_t, kPaletteSize> read_palette{};

  // Its source's load first; once the icon is composed, the working picture as the icon
  // leaves it, whenever the icon converted or loaded anything. The run shows it, and the
  // next icon is composed over it, when picture_changed.
  bool picture_changed = false;
  Buffer picture;
  // The rows of `picture` that may hold a pixel that is not black; every other row is black.
  // It describes the buffer, not the icon, so it carries over to the slot's next icon: a PCX
  // decoded into it then leaves the rows already black alone (clearing the black rows of
  // sprite pictures was a sixth of decoding them). Every write to `picture` keeps it true.
  PictureRows inked_rows;
  std::array<std::uint8_t, kPaletteSize> palette{};
  // The detailed view shows the picture before it is smoothed.
  bool unsmoothed_kept = false;
  std::unique_ptr<Buffer> unsmoothed;

  // A converted source: its entry, packed or not, and what EncodeIcon records.
  Buffer entry;
  std::size_t entry_length = 0;
  Buffer packed;
  std::optional<std::size_t> packed_length;
  // The hash of the bytes to be stored (packed or not), made by the helper that packed them:
  // the run's own thread, which writes every file, has no time to spare for it.
  std::optional<ContentHash> stored_hash;
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

// The helper's guess at `icon`: the source the helper's choice takes, with `settings` (the
// helper's own, stamped by its guesses only) and the offsets table as the pipeline started,
// loaded into `job`'s own buffers through `file` and `index`; the answers the file system
// gave are kept in `job` for the run's own choice. Everything else in `job` is reset.
void GuessSource(int icon, PreparedIcon& job, ProjectSettings& settings,
                 std::span<std::uint8_t> offsets, bool archive_test, Buffer& file, Buffer& index);

// The guess loaded a whole picture, in colours of its own where it has any: the icon owes
// nothing to the icons before it.
bool StandsAlone(const PreparedIcon& job);
// The guess loaded nothing and converts nothing: the icon leaves the picture as it was.
bool LeavesPicture(const PreparedIcon& job);

}  // namespace zemlo
