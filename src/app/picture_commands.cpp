#include "app/picture_commands.h"

#include "core/status.h"
#include "font/font_builder.h"
#include "files/file_helpers.h"
#include "library/run/source_loading.h"
#include "picture/pcx_writer.h"

namespace zemlo {

std::string_view FileNameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool SavePictureAsPcx(WorkingState& state, const char* path) {
  const std::size_t length = EncodePcx(state.Picture(), state.pcx.span());
  // The export buffer holds the worst picture, so an empty result means no file to write.
  const bool written =
      length > 0 && WriteWholeFile(path, state.pcx.span().first(length));
  ShowWarning(state.port, Owner::kMain, written ? kPcxSavedFormat : kPcxNotSavedFormat,
              FileNameOf(path));
  return written;
}

std::optional<std::size_t> BuildFont(WorkingState& state, const char* pcx_path) {
  state.stop_request = false;
  // A picture that did not load would leave the previous one in place, and a font cut from
  // that is not what the user asked for.
  if (LoadPcxSource(pcx_path, state) != SourceLoad::kLoaded) {
    ShowWarning(state.port, Owner::kMain, kFontSourceNotLoadedFormat, FileNameOf(pcx_path));
    return std::nullopt;
  }
  state.picture_shown = true;
  state.crop_lines = true;
  state.port.Repaint(true);
  return MakeFont(state, state.file.span());
}

bool SaveFont(WorkingState& state, const char* path, std::size_t length) {
  const bool written =
      length <= state.file.size() && WriteWholeFile(path, state.file.span().first(length));
  if (!written) ShowWarning(state.port, Owner::kMain, kFontNotSavedFormat, FileNameOf(path));
  return written;
}

int ShowHelp(StatusPort& port) {
  return port.ShowMessage(Owner::kMain, kClassName, kHelpText, MessageIcon::kInformation);
}

}  // namespace zemlo
