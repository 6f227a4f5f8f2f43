// One entry on its own: its packed stream against what the packer writes, its header, its rows
// against its crop box, and its bytes against what the encoder makes of the pixels they draw.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/byte_reader.h"
#include "core/geometry.h"
#include "core/working_state.h"
#include "library/codec/entry_decoder.h"
#include "library/codec/entry_format.h"
#include "library/codec/icon_encoder.h"
#include "library/run/check/deep_verify_walker.h"
#include "packer/kzp.h"
#include "packer/kzp_tag.h"

namespace zemlo::deep_verify_walker {

namespace {

// Re-encoding a decoded entry under a plain picture number applies no smoothing: the stored
// pixels were smoothed already where their own icon number asks for it.
constexpr int kUnsmoothedPicture = 0;

}  // namespace

void Verifier::CheckEntry(int icon, std::span<const std::uint8_t> stored, const std::string& file,
                          const Workspace& work, VerifiedIcon& info) {
  std::span<const std::uint8_t> entry = stored;
  if (IsPackedEntry(stored)) {
    info.packed = true;
    const PackedStreamWalk walk = WalkPackedStream(stored, work.unpack.size(), KzpRules::kAsPacked);
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
    CompareWithPacker(icon, stored, entry, file);
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

// The packer is a function of its source: the stream must be what packing the bytes it unpacks
// to writes. This tells a tag within the packer's limits that copies the wrong bytes (a
// distance of 3 made 1). A changed literal mostly packs to the changed stream again, and is
// left to the checks of the entry itself.
void Verifier::CompareWithPacker(int icon, std::span<const std::uint8_t> stored,
                                 std::span<const std::uint8_t> entry, const std::string& file) {
  const std::size_t bound = PackedBound(entry.size());
  if (repacked_.size() < bound) repacked_.resize(bound);
  const std::size_t length = PackEntry(entry, repacked_, silent_, Owner::kNone, "");
  const std::span<const std::uint8_t> again(repacked_.data(), length);
  const auto mismatch = std::mismatch(stored.begin(), stored.end(), again.begin(), again.end());
  if (mismatch.first == stored.end() && mismatch.second == again.end()) return;
  Add(icon, file,
      Cat("packed stream is not what the packer writes for its bytes (first difference at byte ",
          mismatch.first - stored.begin(), ")"));
}

void Verifier::CheckPicture(int icon, std::span<const std::uint8_t> entry, const std::string& file,
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
bool Verifier::RowsFitBox(int icon, std::span<const std::uint8_t> entry, const std::string& file,
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
void Verifier::CompareWithEncoder(int icon, std::span<const std::uint8_t> entry,
                                  const std::string& file, std::span<std::uint8_t> picture,
                                  const CoordinatesRecord& r) {
  CoordinatesTable scratch(scratch_coordinates_);
  CropBox box;
  const std::size_t length = EncodeIcon(kUnsmoothedPicture, picture, reencoded_, scratch, box);
  const CoordinatesRecord found = scratch.Get(kUnsmoothedPicture);
  const std::string coordinates_name = NameOf(settings_.FCOO);
  if (found != r) {
    if (found == CoordinatesRecord{}) {
      Add(icon, coordinates_name,
          "crop box " + CropBoxText(r) + " contradicts the entry: its pixels there are all black");
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

}  // namespace zemlo::deep_verify_walker
