#include "library/run/check/deep_verify.h"

#include <algorithm>
#include <concepts>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "core/byte_reader.h"
#include "core/status_port.h"
#include "core/working_state.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/codec/entry_decoder.h"
#include "library/codec/entry_format.h"
#include "library/codec/icon_encoder.h"
#include "library/run/entry_loading.h"
#include "library/store/block_layout.h"
#include "library/store/block_store.h"
#include "library/store/stamping.h"
#include "library/store/tables_io.h"
#include "packer/kzp.h"
#include "packer/kzp_tag.h"

namespace zemlo {
namespace {

// Re-encoding a decoded entry under a plain picture number applies no smoothing: the stored
// pixels were smoothed already where their own icon number asks for it.
constexpr int kUnsmoothedPicture = 0;

void Append(std::string& text, std::string_view part) { text += part; }
template <std::integral T>
void Append(std::string& text, T number) {
  text += std::to_string(number);
}
template <class... Parts>
std::string Cat(const Parts&... parts) {
  std::string text;
  (Append(text, parts), ...);
  return text;
}

std::string NameOf(const Name& name) {
  const auto end = std::find(name.begin(), name.end(), '\0');
  return std::string(name.begin(), end);
}

// The buffers one copy of an entry is checked in.
struct Workspace {
  std::span<std::uint8_t> unpack;
  std::span<std::uint8_t> picture;
};

class Verifier {
 public:
  Verifier(ProjectSettings& settings, WorkingState& state, VerifyObserver* observer)
      : settings_(settings),
        state_(state),
        observer_(observer),
        coordinates_(state.coordinates.span()),
        offsets_(state.offsets.span()),
        reencoded_(kMaxPictureEntry),
        scratch_coordinates_(kCoordinatesTableSize) {}

  VerifyOutcome Run() {
    records_ = std::clamp<std::int32_t>(settings_.NSIZ, 0, kOffsetsCapacity);
    if (files::Exists(kTempBlockName)) {
      Add(-1, kTempBlockName,
          "left over from an interrupted run; it holds the previous content of a block "
          "(the integrity check tells which)");
    }
    ReadCoordinates();
    if (BlockFilesOn(settings_)) {
      if (SingleFilesOn(settings_)) AllocateCopyBuffers();
      if (ReadOffsets()) VerifyBlocks();
    } else {
      VerifySingleFiles();
    }
    return std::move(outcome_);
  }

 private:
  void Add(int icon, std::string_view file, std::string what) {
    outcome_.findings.push_back({icon, std::string(file), std::move(what)});
    ++icon_findings_;
  }

  bool Stopped() {
    if (state_.stop_request.load()) outcome_.stopped = true;
    return outcome_.stopped;
  }

  void Progress(int icon) {
    if (records_ == 0) return;
    state_.port.SetProgress(static_cast<int>(std::int64_t{icon} * 100 / records_));
  }

  void AllocateCopyBuffers() {
    copy_.resize(kFileBufferSize + kReadSpare);
    copy_unpack_.resize(kUnpackBufferSize);
    copy_picture_.resize(kPictureBytes);
  }

  // A table file must be exactly NSIZ records; a shorter one leaves the rest of its records
  // zero, a longer one carries records nobody reads.
  void CheckTableLength(const Name& name, std::size_t expected) {
    const std::int64_t length = FileLength(name.data());
    if (length != static_cast<std::int64_t>(expected)) {
      Add(-1, NameOf(name),
          Cat("holds ", length, " bytes; NSIZ ", settings_.NSIZ, " asks for exactly ", expected));
    }
  }

  void ReadCoordinates() {
    const std::size_t bytes = CoordinatesFileBytes(settings_);
    std::fill_n(state_.coordinates.data(), bytes, std::uint8_t{0});
    coordinates_known_ = ReadCoordinatesFile(settings_, state_);
    if (!coordinates_known_) {
      Add(-1, NameOf(settings_.FCOO),
          "cannot be read; crop boxes are not related to the entries and nothing is drawn");
      return;
    }
    CheckTableLength(settings_.FCOO, bytes);
  }

  bool ReadOffsets() {
    const std::size_t bytes = OffsetsFileBytes(settings_);
    std::fill_n(state_.offsets.data(), bytes, std::uint8_t{0});
    if (!ReadOffsetsFile(settings_, state_)) {
      Add(-1, NameOf(settings_.FOFS), "cannot be read; no entry of the block files can be found");
      return false;
    }
    CheckTableLength(settings_.FOFS, bytes);
    return true;
  }

  // The single entry file of `icon`, or nullopt when the pattern cannot name it (said once).
  std::optional<std::string> SingleName(int icon) {
    Name name = settings_.FSEP;
    if (StampIconNumber(icon, name)) return NameOf(name);
    if (!single_pattern_reported_) {
      single_pattern_reported_ = true;
      Add(icon, NameOf(settings_.FSEP), "the single entry file pattern cannot name this icon");
    }
    return std::nullopt;
  }

  void Report(VerifiedIcon& info, std::span<const std::uint8_t> picture) {
    ++outcome_.icons_verified;
    info.findings = icon_findings_;
    if (observer_ != nullptr) observer_->IconVerified(info, picture);
  }

  VerifiedIcon StartIcon(int icon, std::string file) {
    icon_findings_ = 0;
    VerifiedIcon info;
    info.icon = icon;
    info.sound = IsSoundNumber(icon);
    info.file = std::move(file);
    if (!info.sound) info.box = coordinates_.Get(icon);
    return info;
  }

  // ---- Block layout ----

  void VerifyBlocks() {
    const int per_block = std::max<std::int32_t>(settings_.BLKB, 1);
    for (int first = 0; first < records_; first += per_block) {
      const int last = std::min(first + per_block, records_) - 1;
      const int block = first / per_block;
      Name stamped = settings_.FBLK;
      const bool named = StampBlockNumber(block, stamped);
      const std::string block_name = NameOf(named ? stamped : settings_.FBLK);
      bool recorded = false;
      for (int n = first; n <= last; ++n) {
        recorded = recorded || offsets_.offset(n) != 0 || offsets_.length(n) != 0;
      }
      if (!recorded) {
        if (named && files::Exists(stamped.data())) {
          Add(-1, block_name,
              Cat("holds ", FileLength(stamped.data()), " bytes, but no entry of icons ", first,
                  " to ", last, " is recorded"));
        }
        for (int n = first; n <= last; ++n) {
          if (Stopped()) return;
          if (SingleFilesOn(settings_)) CheckLoneSingleFile(n);
          Progress(n);
        }
        continue;
      }
      if (!named) {
        Add(first, block_name, Cat("block ", block, " cannot be named from this pattern"));
      }
      std::FILE* file = named ? files::OpenFile(stamped.data(), "rb").value_or(nullptr) : nullptr;
      BlockWalk walk{file, named ? FileLength(stamped.data()) : 0, BlockCursor(first), block_name};
      for (int n = first; n <= last && !Stopped(); ++n) {
        VerifyBlockIcon(n, walk);
        Progress(n);
      }
      if (file != nullptr) {
        const std::int64_t accounted = walk.cursor.position();
        if (!outcome_.stopped && walk.length > accounted) {
          Add(-1, block_name,
              Cat("holds ", walk.length - accounted, " bytes after its last entry (", walk.length,
                  " bytes, its records account for ", accounted, ")"));
        }
        (void)files::CloseFile(file);  // only read: nothing to lose
      }
      if (outcome_.stopped) return;
    }
  }

  struct BlockWalk {
    std::FILE* file;
    std::int64_t length;  // of the block file
    BlockCursor cursor;   // where the next entry must start: the lengths so far
    std::string name;
  };

  // Reads the entry the records describe into the file buffer; nullopt after a finding.
  std::optional<std::span<const std::uint8_t>> ReadBlockEntry(int icon, BlockWalk& walk) {
    const std::int32_t offset = offsets_.offset(icon);
    const std::int32_t length = offsets_.length(icon);
    const std::string offsets_name = NameOf(settings_.FOFS);
    if (length == 0) {
      Add(icon, offsets_name, Cat("offsets record has length 0 but offset ", offset));
      return std::nullopt;
    }
    if (length < 0 || offset < 0) {
      Add(icon, offsets_name,
          Cat("offsets record is negative (offset ", offset, ", length ", length, ")"));
      return std::nullopt;
    }
    const EntryPlace place = walk.cursor.Step({offset, length});
    if (!place.in_place()) {
      Add(icon, walk.name,
          Cat("offsets record puts the entry at byte ", offset,
              ", but the entries before it end at byte ", place.start));
    }
    if (walk.file == nullptr) {
      Add(icon, walk.name, "the block file holding the entry cannot be opened");
      return std::nullopt;
    }
    const std::int64_t end = std::int64_t{offset} + length;
    if (end > walk.length) {
      Add(icon, walk.name,
          Cat("entry at bytes ", offset, " to ", end - 1, " runs past the end of the block file (",
              walk.length, " bytes)"));
      return std::nullopt;
    }
    const std::size_t size = static_cast<std::size_t>(length);
    if (size > kFileBufferSize) {
      Add(icon, walk.name, Cat("entry length ", length, " is more than any entry can be"));
      return std::nullopt;
    }
    if (!files::SeekTo(walk.file, offset) ||
        files::ReadBytes(walk.file, state_.file.data(), size) != size) {
      Add(icon, walk.name, "entry could not be read");
      return std::nullopt;
    }
    return std::span<const std::uint8_t>(state_.file.span().first(size));
  }

  void VerifyBlockIcon(int icon, BlockWalk& walk) {
    if (offsets_.offset(icon) == 0 && offsets_.length(icon) == 0) {
      if (SingleFilesOn(settings_)) CheckLoneSingleFile(icon);
      return;
    }
    VerifiedIcon info = StartIcon(icon, walk.name);
    const Workspace primary{state_.unpack.span(), state_.Picture()};
    const auto stored = ReadBlockEntry(icon, walk);
    bool block_clean = false;
    if (stored) {
      info.stored_length = stored->size();
      const int before = icon_findings_;
      CheckEntry(icon, *stored, walk.name, primary, info);
      block_clean = icon_findings_ == before;
    }
    if (SingleFilesOn(settings_)) CompareSingleCopy(icon, stored, walk.name, block_clean);
    Report(info, state_.Picture());
  }

  // Both layouts are written: the single entry file must be the block copy byte for byte.
  // Copies that differ are blamed on the one that does not decode or fit the tables while
  // the other does (`block_clean`: the block copy did); where both or neither do, nothing
  // tells which copy was damaged, and both are named.
  void CompareSingleCopy(int icon, std::optional<std::span<const std::uint8_t>> block_copy,
                         const std::string& block_name, bool block_clean) {
    const auto name = SingleName(icon);
    if (!name) return;
    if (!files::Exists(name->c_str())) {
      Add(icon, *name, "single entry file is missing; DBLK 3 keeps every entry in both layouts");
      return;
    }
    const auto copy = ReadSingleFile(icon, *name, copy_);
    if (!copy) return;
    const Workspace spare{copy_unpack_, copy_picture_};
    if (!block_copy) {
      // The block copy could not be read; the single copy is judged on its own.
      VerifiedIcon scratch = StartCopy(icon, *name);
      CheckEntry(icon, *copy, *name, spare, scratch);
      return;
    }
    if (std::equal(copy->begin(), copy->end(), block_copy->begin(), block_copy->end())) return;
    const auto mismatch =
        std::mismatch(copy->begin(), copy->end(), block_copy->begin(), block_copy->end());
    const std::string where =
        Cat(" bytes, first difference at byte ", mismatch.first - copy->begin(), ")");
    // The single copy's own findings come under its name, then which copy is blamed.
    VerifiedIcon scratch = StartCopy(icon, *name);
    const int before = icon_findings_;
    CheckEntry(icon, *copy, *name, spare, scratch);
    const bool single_clean = icon_findings_ == before;
    if (block_clean && !single_clean) {
      Add(icon, *name,
          Cat("differs from the block copy in ", block_name, " (", copy->size(), " and ",
              block_copy->size(), where, "; the block copy checks clean, this copy is damaged"));
    } else if (single_clean && !block_clean) {
      Add(icon, block_name,
          Cat("differs from the single entry file ", *name, " (", block_copy->size(), " and ",
              copy->size(), where, "; that copy checks clean, the block copy is damaged"));
    } else {
      Add(icon, block_name,
          Cat("the two copies differ: ", block_name, " and ", *name, " (", block_copy->size(),
              " and ", copy->size(), where, "; ",
              single_clean ? "both check clean" : "neither checks clean",
              ", so nothing tells which was damaged"));
    }
  }

  VerifiedIcon StartCopy(int icon, const std::string& name) {
    VerifiedIcon info;
    info.icon = icon;
    info.sound = IsSoundNumber(icon);
    info.file = name;
    if (!info.sound) info.box = coordinates_.Get(icon);
    return info;
  }

  // DBLK 3 and no block record: a single entry file there is an entry the block lost.
  void CheckLoneSingleFile(int icon) {
    Name name = settings_.FSEP;
    if (!StampIconNumber(icon, name) || !files::Exists(name.data())) return;
    VerifiedIcon info = StartIcon(icon, NameOf(name));
    info.stored_length = static_cast<std::size_t>(FileLength(name.data()));
    Add(icon, info.file, "single entry file exists, but the offsets file records no entry");
    Report(info, state_.Picture());
  }

  // ---- Single entry file layout ----

  std::optional<std::span<const std::uint8_t>> ReadSingleFile(int icon, const std::string& name,
                                                              std::span<std::uint8_t> buffer) {
    const std::int64_t length = FileLength(name.c_str());
    if (length > static_cast<std::int64_t>(kSingleEntryReadLimit)) {
      Add(icon, name,
          Cat("single entry file of ", length, " bytes is longer than the ", kSingleEntryReadLimit,
              " bytes an entry file is read to"));
      return std::nullopt;
    }
    const auto read = ReadWholeFile(name.c_str(), buffer, kSingleEntryReadLimit);
    if (!read || static_cast<std::int64_t>(*read) != length) {
      Add(icon, name, "single entry file could not be read");
      return std::nullopt;
    }
    return std::span<const std::uint8_t>(buffer.first(*read));
  }

  void VerifySingleFiles() {
    for (int icon = 0; icon < records_ && !Stopped(); ++icon) {
      Progress(icon);
      const auto name = SingleName(icon);
      if (!name || !files::Exists(name->c_str())) continue;
      VerifiedIcon info = StartIcon(icon, *name);
      const auto stored = ReadSingleFile(icon, *name, state_.file.span());
      if (stored) {
        info.stored_length = stored->size();
        CheckEntry(icon, *stored, *name, {state_.unpack.span(), state_.Picture()}, info);
      }
      Report(info, state_.Picture());
    }
  }

  // ---- One entry ----

  void CheckEntry(int icon, std::span<const std::uint8_t> stored, const std::string& file,
                  const Workspace& work, VerifiedIcon& info) {
    std::span<const std::uint8_t> entry = stored;
    if (IsPackedEntry(stored)) {
      info.packed = true;
      const PackedStreamWalk walk = WalkPackedStream(stored, work.unpack.size());
      if (!walk.fault.empty()) {
        Add(icon, file, "packed stream: " + walk.fault);
        return;
      }
      const auto produced = UnpackEntry(stored, work.unpack);
      if (!produced || *produced != walk.unpacked) {
        Add(icon, file,
            Cat("packed stream does not unpack to the ", walk.unpacked, " bytes its tags imply"));
        return;
      }
      entry = work.unpack.first(*produced);
    }
    info.entry_length = entry.size();
    if (info.sound) {
      if (entry.empty()) {
        Add(icon, file, "sound entry is empty");
      } else if (entry.size() > kMaxSoundEntry) {
        Add(icon, file,
            Cat("sound entry of ", entry.size(), " bytes is longer than a WAV source can give (",
                kMaxSoundEntry, ")"));
      }
      return;
    }
    CheckPicture(icon, entry, file, work, info);
  }

  void CheckPicture(int icon, std::span<const std::uint8_t> entry, const std::string& file,
                    const Workspace& work, VerifiedIcon& info) {
    if (entry.size() < kEntryHeaderSize) {
      Add(icon, file, Cat("entry of ", entry.size(), " bytes is shorter than its 4-byte header"));
      return;
    }
    info.kind = entry[1];
    bool drawable = true;
    if (entry[0] != kEntryBitsPerPixel) {
      Add(icon, file, Cat("bits per pixel byte is ", entry[0], ", not 24"));
      drawable = false;
    }
    if (MaskKindWord(entry[1]).empty()) {
      Add(icon, file, Cat("mask kind byte is ", entry[1], ", none of 0, 64 and 128"));
      drawable = false;
    }
    if (entry[2] != 0 || entry[3] != 0) {
      Add(icon, file, Cat("reserved header bytes are ", entry[2], " and ", entry[3], ", not 0"));
    }
    if (entry.size() > kMaxPictureEntry) {
      Add(icon, file,
          Cat("entry of ", entry.size(), " bytes is longer than any picture entry (",
              kMaxPictureEntry, ")"));
      drawable = false;
    }
    if (!drawable || !coordinates_known_) return;

    const CoordinatesRecord r = info.box;
    const std::string coordinates_name = NameOf(settings_.FCOO);
    if (r == CoordinatesRecord{}) {
      // The record of a picture without any non-black pixel; its entry is the header alone.
      if (entry.size() != kEntryHeaderSize || entry[1] != kUnmasked) {
        Add(icon, coordinates_name,
            Cat("coordinates record is empty, but the ", MaskKindText(entry[1]), " entry holds ",
                entry.size() - kEntryHeaderSize, " bytes of rows"));
      }
      return;
    }
    if (r.width == 0 || r.height == 0) {
      Add(icon, coordinates_name, "crop box " + CropBoxText(r) + " holds no pixel");
      return;
    }
    if (r.left + r.width > kPictureWidth || r.top + r.height > kPictureHeight) {
      Add(icon, coordinates_name,
          "crop box " + CropBoxText(r) + " reaches outside the 800 x 600 picture");
      return;
    }
    if (!RowsFitBox(icon, entry, file, r)) return;

    std::fill(work.picture.begin(), work.picture.end(), std::uint8_t{0});
    DecodeEntry(icon, entry, work.picture, coordinates_, silent_, Owner::kNone);
    info.drawn = true;
    CompareWithEncoder(icon, entry, file, work.picture, r);
  }

  // The rows hold exactly what the crop box asks for: nothing left over, nothing short.
  bool RowsFitBox(int icon, std::span<const std::uint8_t> entry, const std::string& file,
                  const CoordinatesRecord& r) {
    const std::uint64_t rows_bytes = entry.size() - kEntryHeaderSize;
    if (!(entry[1] & kXMasked)) {
      const std::uint64_t needed = std::uint64_t{r.width} * r.height * kBytesPerPixel;
      if (rows_bytes != needed) {
        Add(icon, file,
            Cat("entry holds ", rows_bytes, " bytes of rows; its crop box ", CropBoxText(r),
                " needs ", needed));
        return false;
      }
      return true;
    }
    ByteReader in(entry.subspan(std::min(kEntryHeaderSize, entry.size())));
    for (unsigned row = 0; row < r.height; ++row) {
      std::uint64_t reached = 0;  // pixels from the box's left edge
      for (;;) {
        const auto copy_count = ReadCount(in);
        const auto skip_count =
            copy_count && *copy_count != 0 ? ReadCount(in) : std::optional<std::uint64_t>{0};
        if (!copy_count || !skip_count) {
          Add(icon, file,
              Cat("entry ends inside row ", row, " of the ", r.height, " rows of its crop box ",
                  CropBoxText(r)));
          return false;
        }
        const std::uint64_t copy = *copy_count;
        if (copy == 0) break;
        reached += *skip_count + copy;
        if (reached > r.width) {
          Add(icon, file,
              Cat("row ", row, " reaches ", reached - r.width,
                  " pixels past the right edge of its crop box ", CropBoxText(r)));
          return false;
        }
        if (!in.Skip(static_cast<std::size_t>(copy) * kBytesPerPixel)) {
          Add(icon, file,
              Cat("entry ends inside row ", row, " of the ", r.height, " rows of its crop box ",
                  CropBoxText(r)));
          return false;
        }
      }
    }
    if (!in.empty()) {
      Add(icon, file,
          Cat(in.remaining(), " bytes left over after the ", r.height, " rows of its crop box ",
              CropBoxText(r)));
      return false;
    }
    return true;
  }

  // The encoder is a function of the pixels: encoding what the entry drew must give back the
  // same crop box, the same mask kind and the same bytes. Pixel values of plain rows pass this
  // whatever they are; their runs, edges and kind do not.
  void CompareWithEncoder(int icon, std::span<const std::uint8_t> entry, const std::string& file,
                          std::span<std::uint8_t> picture, const CoordinatesRecord& r) {
    CoordinatesTable scratch(scratch_coordinates_);
    CropBox box;
    const std::size_t length = EncodeIcon(kUnsmoothedPicture, picture, reencoded_, scratch, box);
    const CoordinatesRecord found = scratch.Get(kUnsmoothedPicture);
    const std::string coordinates_name = NameOf(settings_.FCOO);
    if (found != r) {
      if (found == CoordinatesRecord{}) {
        Add(icon, coordinates_name,
            "crop box " + CropBoxText(r) +
                " contradicts the entry: its pixels there are all black");
      } else {
        Add(icon, coordinates_name,
            "crop box " + CropBoxText(r) + " contradicts the entry, whose pixels fill " +
                CropBoxText(found));
      }
      return;
    }
    if (length < kEntryHeaderSize || reencoded_[1] != entry[1]) {
      Add(icon, file,
          Cat("mask kind ", MaskKindText(entry[1]), " does not fit its pixels, which make it ",
              MaskKindText(reencoded_[1])));
      return;
    }
    const std::span<const std::uint8_t> again(reencoded_.data(), length);
    if (!std::equal(again.begin(), again.end(), entry.begin(), entry.end())) {
      const auto mismatch = std::mismatch(entry.begin(), entry.end(), again.begin(), again.end());
      Add(icon, file,
          Cat("rows are not what the encoder writes for their pixels (first difference at byte ",
              mismatch.first - entry.begin(), ")"));
    }
  }

  ProjectSettings& settings_;
  WorkingState& state_;
  VerifyObserver* observer_;
  CoordinatesTable coordinates_;
  OffsetsTable offsets_;
  // DecodeEntry is only handed entries whose runs were found to fit, so anything it would
  // say is a finding of this walk already.
  SilentPort silent_;
  VerifyOutcome outcome_;
  std::int32_t records_ = 0;
  int icon_findings_ = 0;
  bool coordinates_known_ = false;
  bool single_pattern_reported_ = false;
  std::vector<std::uint8_t> reencoded_;
  std::vector<std::uint8_t> scratch_coordinates_;
  // The second copy of an entry (DBLK 3) and its own buffers, so that the first copy's
  // picture stays for the observer.
  std::vector<std::uint8_t> copy_;
  std::vector<std::uint8_t> copy_unpack_;
  std::vector<std::uint8_t> copy_picture_;
};

}  // namespace

std::string FindingLine(const VerifyFinding& finding) {
  if (finding.icon < 0) return finding.file + ": " + finding.what;
  return Cat("icon ", finding.icon, ": ", finding.file, ": ", finding.what);
}

VerifyOutcome DeepVerify(ProjectSettings& settings, WorkingState& state, VerifyObserver* observer) {
  return Verifier(settings, state, observer).Run();
}

}  // namespace zemlo
