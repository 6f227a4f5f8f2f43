#include "library/run/source_loading.h"

#include "files/file_helpers.h"
#include "picture/ilbm_reader.h"
#include "picture/pcx_reader.h"

namespace zemlo {

SourceLoad LoadPcxSource(const char* name, WorkingState& state, std::string_view* refusal) {
  const auto length = ReadWholeFile(name, state.pcx.span(), kPcxLoadLimit);
  if (!length) return SourceLoad::kNotOpened;
  const auto bytes = state.pcx.span().first(*length);
  if (DecodePcx(bytes, state.Picture()) == 0) {
    if (refusal != nullptr) *refusal = PcxRefusal(bytes);
    return SourceLoad::kRejected;
  }
  state.picture_shown = true;
  return SourceLoad::kLoaded;
}

SourceLoad LoadIlbmSource(const char* name, WorkingState& state) {
  const auto length = ReadWholeFile(name, state.file.span(), kIlbmLoadLimit);
  if (!length) return SourceLoad::kNotOpened;
  if (!DecodeIlbm(state.file.span().first(*length), state.index.span(), state.palette.span())) {
    return SourceLoad::kRejected;
  }
  ExpandPalette(state.index.span(), state.Picture(), state.palette.span());
  state.picture_shown = true;
  return SourceLoad::kLoaded;
}

std::optional<std::size_t> LoadWavSource(const char* name, WorkingState& state) {
  return ReadWholeFile(name, state.picture.span(), kWavLoadLimit);
}

}  // namespace zemlo
