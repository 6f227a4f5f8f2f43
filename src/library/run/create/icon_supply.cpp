#include "library/run/create/icon_supply.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "core/working_state.h"
#include "library/run/create/creation_pipeline.h"
#include "library/run/jobs.h"
#include "library/store/block_read_back.h"

namespace zemlo {
namespace {

// Everything on the run's own thread, in the shared buffers.
class OwnThreadSupply final : public IconSupply {
 public:
  explicit OwnThreadSupply(StoreContext& store) : store_(store) {}
  SelectedSource Select(int icon) override {
    return SelectSource(icon, store_.settings, store_.state, !store_.convert_all,
                        store_.force_icons);
  }
  StoreResult Convert(int icon, const SelectedSource& source) override {
    return ConvertAndStore(icon, source, store_);
  }

 private:
  StoreContext& store_;
};

// Where the working picture is while the run takes prepared icons. A run that is watched puts
// each icon's picture into the shared buffers as it reaches the icon. Where nothing shows the
// picture during the run, it stays in the last prepared icon that changed it (whose buffers
// the helpers then do not take again) rather than being copied icon by icon, a copy of 1.4 MB
// on the run's own thread, and goes into the shared buffers only before anything else reads
// them: a load or conversion of the run's own, new helpers, the end of the run.
class HeldPicture {
 public:
  HeldPicture(WorkingState& state, bool shown) : state_(state), shown_(shown) {}

  bool shown() const { return shown_; }
  bool Holds(int icon) const { return held_ != nullptr && held_->icon == icon; }
  // The icon whose picture is held, or -1.
  int HeldIcon() const { return held_ != nullptr ? held_->icon : -1; }

  // The run took `job`, which changed the picture.
  void Take(const PreparedIcon& job, CreationPipeline& pipeline) {
    if (shown_) {
      Copy(job.unsmoothed_kept ? *job.unsmoothed : job.picture, job);
      return;
    }
    if (held_ != nullptr) pipeline.Release(held_->icon);
    held_ = &job;
  }

  // Puts the picture held into the shared buffers and lets its icon's buffers go.
  void Settle(CreationPipeline& pipeline) {
    if (held_ == nullptr) return;
    Copy(held_->picture, *held_);
    pipeline.Release(held_->icon);
    held_ = nullptr;
  }

  // The bytes the run's load of a WAV source left in the picture.
  std::span<const std::uint8_t> Sound(std::size_t length) const {
    return (held_ != nullptr ? held_->picture.span() : state_.picture.span()).first(length);
  }

 private:
  void Copy(const Buffer& picture, const PreparedIcon& job) {
    std::memcpy(state_.picture.data(), picture.data(), kPictureBytes);
    std::copy(job.palette.begin(), job.palette.end(), state_.palette.data());
  }

  WorkingState& state_;
  const bool shown_;
  const PreparedIcon* held_ = nullptr;
};

// The run's choice for an icon, checked against the helper's: a load the helper made of the
// same file is taken (and the picture it left becomes the working picture); any other load is
// made here, and a load the helper made that the run did not means the helpers worked from
// a picture the run does not have.
class PreparedLoader final : public SourceLoader {
 public:
  PreparedLoader(const PreparedIcon& job, WorkingState& state, HeldPicture& held,
                 CreationPipeline& pipeline)
      : job_(job), state_(state), held_(held), pipeline_(pipeline), shared_(state) {}

  SourceLoad LoadPcx(const char* name) override {
    if (!Take(PreparedIcon::Load::kPcx, name)) return shared_.LoadPcx(name);
    if (job_.load_result == SourceLoad::kLoaded) state_.picture_shown = true;
    return job_.load_result;
  }
  SourceLoad LoadIlbm(const char* name) override {
    if (!Take(PreparedIcon::Load::kIlbm, name)) return shared_.LoadIlbm(name);
    if (job_.load_result == SourceLoad::kLoaded) state_.picture_shown = true;
    return job_.load_result;
  }
  SourceLoad LoadPng(const char* name) override {
    if (!Take(PreparedIcon::Load::kPng, name)) return shared_.LoadPng(name);
    if (job_.load_result == SourceLoad::kLoaded) state_.picture_shown = true;
    return job_.load_result;
  }
  std::optional<std::span<const std::uint8_t>> LoadWav(const char* name) override {
    if (!Take(PreparedIcon::Load::kWav, name)) return shared_.LoadWav(name);
    if (job_.load_result != SourceLoad::kLoaded) return std::nullopt;
    return held_.Sound(job_.wav_length);
  }

  std::string_view Refusal() const override { return matched_ ? job_.refusal : shared_.Refusal(); }
  std::optional<std::uint64_t> LoadedSize() const override {
    if (!matched_) return shared_.LoadedSize();
    return job_.load_size != 0 ? std::optional(job_.load_size) : std::nullopt;
  }

  // The helper chose as the run did.
  bool GuessedRight() const {
    return !mismatched_ && (matched_ || job_.load == PreparedIcon::Load::kNone);
  }

 private:
  bool Take(PreparedIcon::Load load, const char* name) {
    if (matched_ || mismatched_ || job_.load != load || job_.load_name != name) {
      mismatched_ = true;
      held_.Settle(pipeline_);  // the run's own load goes over the working picture
      return false;
    }
    matched_ = true;
    if (job_.picture_changed) held_.Take(job_, pipeline_);
    return true;
  }

  const PreparedIcon& job_;
  WorkingState& state_;
  HeldPicture& held_;
  CreationPipeline& pipeline_;
  SharedBufferLoader shared_;
  bool matched_ = false;
  bool mismatched_ = false;
};

// Icons prepared ahead by helper threads. A wrong guess (a block whose file lost entries, a
// source changed while the run goes) is met at its icon: that icon is converted here and the
// helpers start again after it from the run's own picture.
class PreparedSupply final : public IconSupply {
 public:
  PreparedSupply(StoreContext& store, int first, int last, int helpers)
      : store_(store),
        own_(store),
        last_(last),
        helpers_(helpers),
        held_(store.state, store.settings.DVIE != 0 && store.state.port.ShowsPicture()) {
    Start(first);
  }
  // Icons prepared beyond the last one taken are dropped; the picture stays.
  ~PreparedSupply() override {
    if (pipeline_) held_.Settle(*pipeline_);
  }

  SelectedSource Select(int icon) override {
    // While the helpers prepare the icon, the run reads back what it wrote of the block.
    job_ = pipeline_ ? &pipeline_->Take(icon, read_ahead_) : nullptr;
    if (job_ == nullptr) return own_.Select(icon);
    PreparedLoader loader(*job_, store_.state, held_, *pipeline_);
    AnsweredFacts facts(*job_);
    SelectedSource source =
        ChooseSource(icon, {store_.settings, facts, store_.state.offsets.span(), store_.state.port,
                            loader, !store_.convert_all, store_.force_icons});
    guessed_right_ = loader.GuessedRight();
    return source;
  }

  StoreResult Convert(int icon, const SelectedSource& source) override {
    if (job_ != nullptr && guessed_right_) return StorePrepared(icon, source, *job_, store_);
    // The run's own conversion starts from the working picture.
    if (pipeline_) held_.Settle(*pipeline_);
    return own_.Convert(icon, source);
  }

  void Finished(int icon) override {
    if (job_ == nullptr) return;
    job_ = nullptr;
    // An icon whose picture is held is let go once a later icon replaces its picture; icons
    // after it that left the picture as it was go before it, their buffers being all the
    // helpers need (with a source at every other icon, settling the picture at each icon
    // between cost the run's thread a 1.4 MB copy per source). New helpers start from the
    // shared buffers.
    if (held_.Holds(icon)) return;
    if (guessed_right_) {
      pipeline_->Release(icon, held_.HeldIcon());
      return;
    }
    held_.Settle(*pipeline_);
    pipeline_->Release(icon);
    pipeline_.reset();
    if (icon < last_) Start(icon + 1);
  }

 private:
  void Start(int first) {
    pipeline_ = std::make_unique<CreationPipeline>(store_.settings, store_.state,
                                                   !store_.convert_all, first, last_, helpers_,
                                                   held_.shown() && store_.settings.DVIE == 2);
    // Without helpers the run goes on by itself.
    if (!pipeline_->running()) pipeline_.reset();
  }

  StoreContext& store_;
  OwnThreadSupply own_;
  const int last_;
  const int helpers_;
  HeldPicture held_;
  std::unique_ptr<CreationPipeline> pipeline_;
  const std::function<bool()> read_ahead_ = [this] {
    return store_.read_back != nullptr && store_.read_back->ReadAhead();
  };
  const PreparedIcon* job_ = nullptr;
  bool guessed_right_ = false;
};

}  // namespace

std::unique_ptr<IconSupply> MakeSupply(StoreContext& store, int first, int last) {
  const int jobs = std::clamp(store.jobs, 1, kMaxJobs);
  if (jobs == 1 || first >= last) return std::make_unique<OwnThreadSupply>(store);
  return std::make_unique<PreparedSupply>(store, first, last, jobs);
}

}  // namespace zemlo
