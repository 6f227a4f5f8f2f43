#include "library/run/create/prepared_icon.h"

#include "files/file_helpers.h"
#include "library/codec/icon_encoder.h"
#include "library/run/source_loading.h"
#include "packer/kzp.h"
#include "picture/ilbm_reader.h"
#include "picture/pcx_reader.h"
#include "picture/png_reader.h"

namespace zemlo {
namespace {

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
    const auto rows =
        DecodePcx(bytes, job_.picture.span().first(kPictureBytes), &job_.pcx_ink, job_.inked_rows);
    if (!rows) {
      // A refused file leaves the picture untouched.
      job_.refusal = rows.error().text;
      return job_.load_result = SourceLoad::kRejected;
    }
    job_.pcx_rows = *rows;
    // A 24-bit file over the whole picture says where its ink is; otherwise rows were written
    // with whatever they hold, or keep what they held.
    const bool whole = static_cast<std::size_t>(*rows) * kRowBytes >= kPictureBytes;
    job_.inked_rows = whole && job_.pcx_ink ? RowsOf(*job_.pcx_ink) : PictureRows{};
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
    job_.inked_rows = {};
    const PngFileRead read = ReadPngFile(name);
    job_.load_size = read.size;
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
    job_.inked_rows = {};
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
    const auto length = ReadWholeFile(name, buffer, limit, &problem, &job_.load_size);
    if (!length) job_.refusal = files::FileProblemText(problem);
    return length;
  }
  void Start(PreparedIcon::Load load, const char* name) {
    job_.load = load;
    job_.load_name = name;
    job_.load_result = SourceLoad::kNotOpened;
    job_.refusal = {};
    job_.load_size = 0;
  }
  PreparedIcon& job_;
  Buffer& file_;
  Buffer& index_;
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

void GuessSource(int icon, PreparedIcon& job, ProjectSettings& settings,
                 std::span<std::uint8_t> offsets, bool archive_test, Buffer& file, Buffer& index) {
  job.load = PreparedIcon::Load::kNone;
  job.load_name.clear();
  job.pcx_rows = 0;
  job.pcx_ink.reset();
  job.wav_length = 0;
  job.palette_read = false;
  job.picture_changed = false;
  job.unsmoothed_kept = false;
  job.entry_length = 0;
  job.packed_length.reset();
  job.stored_hash.reset();
  job.record.reset();
  job.crop_box = CropBox{};
  job.title_text[0] = '\0';
  job.calls.Clear();
  AheadLoader loader(job, file, index);
  // The helpers' guesses show nothing: the run shows what its own choice finds.
  SilentPort silent;
  KeptFacts facts(job);
  job.source = ChooseSource(icon, {settings, facts, offsets, silent, loader, archive_test});
}

// A source that replaced the whole picture, in colours of its own where it has any, makes a
// picture that owes nothing to the icons before it.
bool StandsAlone(const PreparedIcon& job) {
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
bool LeavesPicture(const PreparedIcon& job) {
  return (job.load_result != SourceLoad::kLoaded || job.load == PreparedIcon::Load::kNone) &&
         job.source.outcome != SourceOutcome::kConverted;
}

}  // namespace zemlo
