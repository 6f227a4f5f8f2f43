// The "Save as PCX", "Font" and "Help" commands, without their file dialogs: the window shows
// the dialogs and calls these with the chosen paths; the console program calls them directly.
// All run on the caller's thread and report through state.port (owner: the main window).
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "core/message_format.h"
#include "core/status_port.h"
#include "core/working_state.h"

namespace zemlo {

inline constexpr TextFormat kPcxSavedFormat = "24 bit PCX %s extracted.";
inline constexpr TextFormat kPcxNotSavedFormat = "Could not save PCX %s";
inline constexpr TextFormat kPngSavedFormat = "PNG %s extracted.";
inline constexpr TextFormat kPngNotSavedFormat = "Could not save PNG %s";
inline constexpr TextFormat kNotSavedThroughLinkFormat =
    "Could not save %s: it is a link, and nothing is written through links.";
// The font's save failure shows the PCX text too; users know it by that wording.
inline constexpr TextFormat kFontNotSavedFormat = kPcxNotSavedFormat;
inline constexpr TextFormat kFontSourceNotLoadedFormat = "PCX %s could not be loaded";

inline constexpr std::string_view kHelpText =
    "ZEMLO Creator\n"
    "\n"
    "- To convert an IFF or PCX graphics set, click on CREATE and select the ZGL info file.\n"
    "- To show a ZGL graphics set, click on SHOW ZGL and select the ZGL info file.\n"
    "  Browse the graphics set with cursor left/right keys and F1 to go to an icon number.\n"
    "- To save the current graphics, click on SAVE AS PCX and enter a name for the file to "
    "save.\n"
    "- To check a ZGL block set, click on INTEGRITY CHECK\n";

// The part of `path` after its last '/' or '\\': the name that messages show.
std::string_view FileNameOf(std::string_view path);

// "Save as PCX": encodes the working picture into state.pcx and writes it to `path`;
// then tells the user "24 bit PCX <name> extracted." or "Could not save PCX <name>".
// Returns whether the file was written. The file is made new; an existing one is replaced
// only with `replace` (the window always replaces, the console with --force), and never
// when it is a link.
bool SavePictureAsPcx(WorkingState& state, const char* path, bool replace = true);

// The same as a PNG file (red, green, blue; every pixel as it is), told as "PNG <name>
// extracted." or "Could not save PNG <name>". The console's save writes it for names ending
// in ".png".
bool SavePictureAsPng(WorkingState& state, const char* path, bool replace = true);

// "Font", first half: clears the stop request, loads the PCX file at `pcx_path` into the
// working picture, shows it (picture-shown and crop-lines flags, repaint with erase) and
// builds the font into state.file. Returns the font's length, or nullopt when the PCX could
// not be loaded ("PCX <name> could not be loaded") or the font was refused (warning shown);
// then there is nothing to save. The window shows its save dialog next; a cancelled dialog
// simply drops the font.
std::optional<std::size_t> BuildFont(WorkingState& state, const char* pcx_path);

// "Font", second half: writes the first `length` bytes of state.file (as BuildFont left them)
// to `path`; "Could not save PCX <name>" when the file cannot be created. An existing file
// is replaced only with `replace`, and never when it is a link.
bool SaveFont(WorkingState& state, const char* path, std::size_t length, bool replace = true);

// "Help": the help text in an information box owned by the main window, caption "ZCreate".
int ShowHelp(StatusPort& port);

}  // namespace zemlo
