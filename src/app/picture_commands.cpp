#include "app/picture_commands.h"

#include <span>
#include <string>
#include <vector>

#include "core/status.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "font/font_builder.h"
#include "library/run/source_loading.h"
#include "picture/pcx_writer.h"
#include "picture/png_writer.h"

namespace zemlo {

std::string_view FileNameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

namespace {

// Writes a file the user named: its folder is taken as the user gave it, the file itself is
// made new (or replaces a regular file with `replace`), never through a link.
files::OutputResult WriteUserFile(const char* path, std::span<const std::uint8_t> data,
                                  bool replace, files::FileProblem* problem) {
  const std::string_view whole(path);
  const std::string_view name = FileNameOf(whole);
  const std::string folder = name.size() == whole.size()
                                 ? std::string(".")
                                 : std::string(whole.substr(0, whole.size() - name.size()));
  const auto mode = replace ? files::OutputMode::kReplace : files::OutputMode::kCreateNew;
  return files::WriteOutputFile(folder.c_str(), std::string(name).c_str(), data.data(), data.size(),
                                mode, false, nullptr, problem);
}

// Writes the encoded picture `file` (empty: it could not be encoded) to `path` and tells the
// user how it went, by name; a link in the way is named whole.
bool SavePicture(WorkingState& state, const char* path, std::span<const std::uint8_t> file,
                 bool replace, TextFormat saved_format, TextFormat not_saved_format) {
  files::FileProblem problem = files::FileProblem::kNone;
  const files::OutputResult result =
      !file.empty() ? WriteUserFile(path, file, replace, &problem) : files::OutputResult::kFailed;
  const bool written = result == files::OutputResult::kWritten;
  if (result == files::OutputResult::kLinkInTheWay) {
    ShowWarning(state.port, Owner::kMain, kNotSavedThroughLinkFormat, path);
  } else {
    ShowWarning(state.port, Owner::kMain, written ? saved_format : not_saved_format,
                FileNameOf(path));
    if (problem != files::FileProblem::kNone) {
      state.port.Explain(FileNameOf(path), files::FileProblemText(problem));
    }
  }
  return written;
}

}  // namespace

bool SavePictureAsPcx(WorkingState& state, const char* path, bool replace) {
  // The export buffer holds the worst picture, so an empty result means no file to write.
  const std::size_t length = EncodePcx(state.Picture(), state.pcx.span());
  return SavePicture(state, path, state.pcx.span().first(length), replace, kPcxSavedFormat,
                     kPcxNotSavedFormat);
}

bool SavePictureAsPng(WorkingState& state, const char* path, bool replace) {
  const std::vector<std::uint8_t> png = EncodePicturePng(state.Picture());
  return SavePicture(state, path, png, replace, kPngSavedFormat, kPngNotSavedFormat);
}

std::optional<std::size_t> BuildFont(WorkingState& state, const char* pcx_path) {
  state.stop_request = false;
  // A picture that did not load would leave the previous one in place, and a font cut from
  // that is not what the user asked for.
  std::string_view refusal;
  if (LoadPcxSource(pcx_path, state, &refusal) != SourceLoad::kLoaded) {
    ShowWarning(state.port, Owner::kMain, kFontSourceNotLoadedFormat, FileNameOf(pcx_path));
    if (!refusal.empty()) state.port.Explain(FileNameOf(pcx_path), refusal);
    return std::nullopt;
  }
  state.picture_shown = true;
  state.crop_lines = true;
  state.port.Repaint(true);
  return MakeFont(state, state.file.span());
}

bool SaveFont(WorkingState& state, const char* path, std::size_t length, bool replace) {
  files::FileProblem problem = files::FileProblem::kNone;
  const files::OutputResult result =
      length <= state.file.size()
          ? WriteUserFile(path, state.file.span().first(length), replace, &problem)
          : files::OutputResult::kFailed;
  if (result == files::OutputResult::kLinkInTheWay) {
    ShowWarning(state.port, Owner::kMain, kNotSavedThroughLinkFormat, path);
  } else if (result != files::OutputResult::kWritten) {
    ShowWarning(state.port, Owner::kMain, kFontNotSavedFormat, FileNameOf(path));
    if (problem != files::FileProblem::kNone) {
      state.port.Explain(FileNameOf(path), files::FileProblemText(problem));
    }
  }
  return result == files::OutputResult::kWritten;
}

int ShowHelp(StatusPort& port) {
  return port.ShowMessage(Owner::kMain, kClassName, kHelpText, MessageIcon::kInformation);
}

}  // namespace zemlo
