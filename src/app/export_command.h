// "Show ZGL" with what the console program offers beyond the window: the export written
// under another folder, a stop, word of where the files go before any is written, and a
// count of the icons whose entries could not be loaded. The window's "Show ZGL" is this
// with no choices (ShowZgl).
#pragma once

#include <functional>
#include <string>

#include "app/session.h"
#include "core/message_format.h"

namespace zemlo {

inline constexpr TextFormat kExportFolderUnusableFormat =
    "The export folder %s cannot be made or entered. Nothing was written.";
// The folder named is the link itself, absolute; every file that would go through it stays
// unwritten, and this is said once per link.
inline constexpr TextFormat kExportThroughLinkFormat =
    "Could not save PCX files through %s: it is a link, and nothing is written through links.";
inline constexpr TextFormat kExportPngThroughLinkFormat =
    "Could not save PNG files through %s: it is a link, and nothing is written through links.";
inline constexpr TextFormat kExportPngNotSavedFormat = "Could not save PNG %s";
inline constexpr TextFormat kExportTreeThroughLinkFormat =
    "The export tree was not made: %s is a link, and nothing is written through links.";
inline constexpr TextFormat kExportPatternLeavesFormat =
    "FPCX %s does not stay inside the export folder: with another export folder it must be "
    "a relative name without \"..\". Nothing was written.";

// Where the files of an export go: the first and the last file as they will be written
// (absolute), and the FPCX pattern that names them.
struct ExportPlan {
  std::string first_file;
  std::string last_file;
  std::string pattern;
};

// How the export writes each picture.
enum class ExportFormat {
  kPcx,  // 24-bit PCX files named by FPCX, as the window writes them
  kPng,  // PNG files, named by FPCX with ".png" for its ".pcx" (ExportFileName)
};

// The file an export in `format` writes for the FPCX name `stamped` (stamped with the icon's
// number): the name itself for PCX. For PNG a last ".pcx" (in any letter case) becomes ".png"
// and a name ending in ".png" stays; any other name gets ".png" added, so that a PNG never
// takes the place of a file of another kind (a source of the project, say).
std::string ExportFileName(const std::string& stamped, ExportFormat format);

struct ExportRequest {
  // An absolute folder that takes the export tree and the files instead of the project's
  // folder (made when missing); empty: the project's folder, as the window does it.
  std::string into;
  // The export also ends early at a stop request.
  bool stoppable = false;
  // Told once the project is loaded, before anything is written.
  std::function<void(const ExportPlan&)> announce;
  // Every icon of the range is written, an icon without entry as the picture before it, as
  // the window does it; otherwise only the icons whose entry loaded.
  bool every_icon = true;
  // Existing files are replaced (never through a link), as the window does it. Otherwise the
  // export is refused before anything is written when any file it would write exists, and
  // ExportOutcome::refused names the first.
  bool replace = true;
  ExportFormat format = ExportFormat::kPcx;
  // PNG only: the black pixels of a masked entry (0-masked, X-masked: black is never drawn)
  // are written see-through; otherwise black stays black.
  bool black_transparent = false;
};

struct ExportOutcome {
  bool started = false;  // the project loaded and the export began
  int icons = 0;         // icons written out (or tried)
  int shown = 0;         // of them, with an entry that loaded
  int not_loaded = 0;    // the library claims an entry for them that could not be loaded
  int not_saved = 0;     // files that could not be written
  int written = 0;       // files written
  // Without `replace`: the first file the export would write that exists already (absolute),
  // and whether it is a link; the export then wrote nothing and `started` is false.
  std::string refused;
  bool refused_link = false;
};

ExportOutcome ExportZgl(Session& session, const char* chosen_path, const char* chosen_name,
                        const ExportRequest& request);

}  // namespace zemlo
