#include "library/run/source_loading.h"

#include <algorithm>
#include <new>

#include "files/file_helpers.h"
#include "files/file_problem.h"
#include "picture/ilbm_reader.h"
#include "picture/pcx_reader.h"

namespace zemlo {

namespace {

// Reads the source, noting why when it cannot be opened.
std::optional<std::size_t> ReadSource(const char* name, std::span<std::uint8_t> buffer,
                                      std::size_t limit, std::string_view* refusal,
                                      std::uint64_t* size) {
  files::FileProblem problem = files::FileProblem::kOther;
  const auto length = ReadWholeFile(name, buffer, limit, &problem, size);
  if (!length && refusal != nullptr) *refusal = files::FileProblemText(problem);
  return length;
}

}  // namespace

SourceLoad LoadPcxSource(const char* name, WorkingState& state, std::string_view* refusal,
                         std::uint64_t* size) {
  const auto length = ReadSource(name, state.pcx.span(), kPcxLoadLimit, refusal, size);
  if (!length) return SourceLoad::kNotOpened;
  const auto bytes = state.pcx.span().first(*length);
  if (const auto decoded = DecodePcx(bytes, state.Picture()); !decoded) {
    if (refusal != nullptr) *refusal = decoded.error().text;
    return SourceLoad::kRejected;
  }
  state.picture_shown = true;
  return SourceLoad::kLoaded;
}

PngFileRead ReadPngFile(const char* name) {
  PngFileRead read;
  const std::int64_t length = std::max<std::int64_t>(FileLength(name), 0);
  try {
    read.bytes.resize(std::min<std::size_t>(static_cast<std::size_t>(length), kPngLoadLimit) +
                      kReadSpare);
  } catch (const std::bad_alloc&) {
    read.result = SourceLoad::kRejected;
    read.refusal = kPngNoMemory;
    return read;
  }
  // A file that grew since its length was asked is read as far as it was then.
  const auto count = ReadSource(name, read.bytes, kPngLoadLimit, &read.refusal, &read.size);
  if (!count) return read;
  read.bytes.resize(*count);
  read.result = SourceLoad::kLoaded;
  return read;
}

SourceLoad LoadPngSource(const char* name, WorkingState& state, std::string_view* refusal,
                         std::uint64_t* size) {
  const PngFileRead read = ReadPngFile(name);
  if (size != nullptr) *size = read.size;
  if (read.result != SourceLoad::kLoaded) {
    if (refusal != nullptr) *refusal = read.refusal;
    return read.result;
  }
  if (const Status decoded = DecodePng(read.bytes, state.Picture()); !decoded) {
    if (refusal != nullptr) *refusal = decoded.error().text;
    return SourceLoad::kRejected;
  }
  state.picture_shown = true;
  return SourceLoad::kLoaded;
}

SourceLoad LoadIlbmSource(const char* name, WorkingState& state, std::string_view* refusal,
                          std::uint64_t* size) {
  const auto length = ReadSource(name, state.file.span(), kIlbmLoadLimit, refusal, size);
  if (!length) return SourceLoad::kNotOpened;
  const auto decoded =
      DecodeIlbm(state.file.span().first(*length), state.index.span(), state.palette.span());
  if (!decoded) {
    if (refusal != nullptr) *refusal = decoded.error().text;
    return SourceLoad::kRejected;
  }
  ExpandPalette(state.index.span(), state.Picture(), state.palette.span());
  state.picture_shown = true;
  return SourceLoad::kLoaded;
}

std::optional<std::size_t> LoadWavSource(const char* name, WorkingState& state,
                                         std::string_view* refusal, std::uint64_t* size) {
  return ReadSource(name, state.picture.span(), kWavLoadLimit, refusal, size);
}

}  // namespace zemlo
