#include "library/run/create/source_selection.h"

#include "core/status.h"
#include "files/file_layer.h"
#include "library/codec/icon_encoder.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"

namespace zemlo {
namespace {

// An existing source whose pattern could be stamped. A pattern that cannot hold the number
// names no file, so its icon counts as having no such source.
bool SourceExists(int icon, Name& pattern, SourceFacts& facts) {
  return StampIconNumber(icon, pattern) && facts.Exists(pattern.data());
}

// The reason after the message, where the reader gave one.
void Explain(StatusPort& port, const char* name, std::string_view refusal) {
  if (!refusal.empty()) port.Explain(name, refusal);
}

SelectedSource Skipped(int icon, ProjectSettings& settings) {
  StampIconNumber(icon, settings.FSEP);
  return {SourceOutcome::kSkipped, settings.FSEP.data(), 0, std::nullopt};
}

// The archive test: false means convert.
bool UpToDate(int icon, const char* source, const SourceChoice& choice) {
  ProjectSettings& settings = choice.settings;
  if (!choice.archive_test || settings.DARC == 0 ||
      (choice.force_icons != nullptr && choice.force_icons->contains(icon)) ||
      choice.facts.ArchiveAttributeSet(source)) {
    return false;
  }
  const bool single_named = StampIconNumber(icon, settings.FSEP);
  if (BlockFilesOn(settings) && OffsetsTable(choice.offsets).length(icon) == 0) return false;
  if (SingleFilesOn(settings) && (!single_named || !choice.facts.Exists(settings.FSEP.data()))) {
    return false;
  }
  return true;
}

}  // namespace

bool FileSystemFacts::Exists(const char* name) { return files::Exists(name); }

bool FileSystemFacts::ArchiveAttributeSet(const char* name) {
  return files::ArchiveAttributeSet(name);
}

std::optional<std::span<const std::uint8_t>> SharedBufferLoader::LoadWav(const char* name) {
  Start();
  const auto loaded = LoadWavSource(name, state_, &refusal_, &size_);
  if (!loaded) return std::nullopt;
  return state_.picture.span().first(*loaded);
}

SelectedSource ChooseSource(int icon, const SourceChoice& choice) {
  ProjectSettings& settings = choice.settings;
  StatusPort& port = choice.port;
  if (IsSoundNumber(icon)) {
    if (!SourceExists(icon, settings.FWAV, choice.facts)) return {};
    if (UpToDate(icon, settings.FWAV.data(), choice)) return Skipped(icon, settings);
    const auto loaded = choice.loader.LoadWav(settings.FWAV.data());
    // A WAV file the encoder can take a sound from: the letters "data" and a size after them.
    if (!loaded || !FindSoundData(*loaded)) {
      ShowWarning(port, Owner::kMain, kWavNotLoadedFormat, settings.FWAV.data());
      Explain(port, settings.FWAV.data(), loaded ? kWavNoSoundData : choice.loader.Refusal());
      return Skipped(icon, settings);
    }
    return {SourceOutcome::kConverted, settings.FWAV.data(), loaded->size(),
            choice.loader.LoadedSize()};
  }

  if (SourceExists(icon, settings.FPCX, choice.facts)) {
    // Looked at again: a source removed in between is not worth a conversion from leftovers.
    if (!choice.facts.Exists(settings.FPCX.data())) {
      ShowWarningNumber(port, Owner::kNone, kDeadEndFormat, icon);
      return Skipped(icon, settings);
    }
    if (UpToDate(icon, settings.FPCX.data(), choice)) return Skipped(icon, settings);
    if (choice.loader.LoadPcx(settings.FPCX.data()) != SourceLoad::kLoaded) {
      ShowWarning(port, Owner::kMain, kPcxNotLoadedFormat, settings.FPCX.data());
      Explain(port, settings.FPCX.data(), choice.loader.Refusal());
      return Skipped(icon, settings);
    }
    return {SourceOutcome::kConverted, settings.FPCX.data(), 0, choice.loader.LoadedSize()};
  }

  if (SourceExists(icon, settings.FLBM, choice.facts)) {
    if (UpToDate(icon, settings.FLBM.data(), choice)) return Skipped(icon, settings);
    if (choice.loader.LoadIlbm(settings.FLBM.data()) != SourceLoad::kLoaded) {
      ShowWarning(port, Owner::kMain, kIffNotLoadedFormat, settings.FLBM.data());
      Explain(port, settings.FLBM.data(), choice.loader.Refusal());
      return Skipped(icon, settings);
    }
    return {SourceOutcome::kConverted, settings.FLBM.data(), 0, choice.loader.LoadedSize()};
  }

  if (settings.FPNG[0] == '\0' || !SourceExists(icon, settings.FPNG, choice.facts)) return {};
  if (UpToDate(icon, settings.FPNG.data(), choice)) return Skipped(icon, settings);
  if (choice.loader.LoadPng(settings.FPNG.data()) != SourceLoad::kLoaded) {
    ShowWarning(port, Owner::kMain, kPngNotLoadedFormat, settings.FPNG.data());
    Explain(port, settings.FPNG.data(), choice.loader.Refusal());
    return Skipped(icon, settings);
  }
  return {SourceOutcome::kConverted, settings.FPNG.data(), 0, choice.loader.LoadedSize()};
}

SelectedSource SelectSource(int icon, ProjectSettings& settings, WorkingState& state,
                            bool archive_test, const std::set<int>* force_icons) {
  SharedBufferLoader loader(state);
  FileSystemFacts facts;
  return ChooseSource(
      icon, {settings, facts, state.offsets.span(), state.port, loader, archive_test, force_icons});
}

}  // namespace zemlo
