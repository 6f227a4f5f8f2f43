// The commands of the main window without its window system: the window shows the file
// dialogs and the go-to-icon dialog and calls these with what the user chose; the console
// program calls them directly. Everything here runs on the caller's (the window's) thread;
// the two runs go on on the session's worker thread.
#pragma once

#include <optional>
#include <string>

#include "app/session.h"
#include "core/message_format.h"

namespace zemlo {

inline constexpr TextFormat kInfoUnreadableFormat = "Could not read file %s!";
// Shown (with the info file's name) when the folder of the project cannot be entered: its
// files are named from there, and would be looked for in another folder.
inline constexpr TextFormat kFolderNotEnteredFormat = "Could not enter the folder of %s!";
inline constexpr TextFormat kCoordinatesNewFormat =
    "Could not read coordinates file %s. Creating new one.";
inline constexpr TextFormat kCoordinatesMissingFormat = "Coordinates-File %s not found!";
inline constexpr TextFormat kExportNotSavedFormat = "Could not save PCX %s";

// Only the first 4096 bytes of an info file count: its buffer's size.
inline constexpr std::size_t kInfoReadLimit = kInfoTextSize;

// "Create ZGL" and "Show ZGL" always cover these icons, whatever the info file says.
inline constexpr int kRunStart = 3000;
inline constexpr int kRunEnd = 4999;

// The viewer's range for the cursor keys and for the go-to-icon dialog.
inline constexpr int kViewerLastIcon = 8999;
inline constexpr int kGoToLastIcon = 20000;

// Virtual key codes the viewer acts on.
inline constexpr int kKeyLeft = 37;
inline constexpr int kKeyRight = 39;
inline constexpr int kKeyF1 = 112;

// Which command loads the project: they differ when the coordinates file is missing.
enum class ProjectUse { kCreate, kCheck, kShow };

// Names in an info file are relative to the info file's folder. The window's open dialog
// makes that folder current; the console program calls this instead. Returns the name to
// open the info file by from there, or nullopt when the folder cannot be entered.
std::optional<std::string> EnterProjectFolder(const char* chosen_path);
// The window's way in: as EnterProjectFolder, but a folder that cannot be entered is said in
// a box (kFolderNotEnteredFormat with `chosen_name`) and false tells the command to stop,
// where the console says it in a line and stops. True when the folder is current.
bool EnterProjectFolderOrWarn(StatusPort& port, const char* chosen_path, const char* chosen_name);

// The folder-less part of a path ('/' or '\\' separated): what messages call the file.
std::string ChosenName(const char* chosen_path);

// Loading a project: reads the info file at `chosen_path` (messages name it `chosen_name`),
// parses it, refuses a project the store cannot serve (warning), locks its library (another
// run working on it: warning, false), puts right what an interrupted run left there (one
// notice; "Create ZGL" ends when that cannot be done), then reads the offsets file (zeros
// when it cannot be) and the coordinates file as `use` asks. False when the command must
// end. `coordinates_new` (if given) tells whether the coordinates table was started afresh
// because its file could not be read. On true the library stays locked until
// ReleaseLibrary: the runs release it when their worker ends, "Show ZGL" when it ends.
bool LoadProject(Session& session, const char* chosen_path, const char* chosen_name, ProjectUse use,
                 bool* coordinates_new = nullptr);

// Gives up the lock LoadProject took; nothing happens when none is held.
void ReleaseLibrary(Session& session);

// "Create ZGL" after the open dialog: loads the project, fixes the range to 3000..4999,
// switches the buttons and starts the creation run. False when nothing was started. When
// the coordinates file had to be started afresh, the run converts every source whatever
// the archive test says: a skipped icon would keep its entry but lose its crop box.
bool StartCreateZgl(Session& session, const char* chosen_path, const char* chosen_name);

// "Integrity check" after the open dialog: the same with the integrity check, starting at
// the info file's DSTA.
bool StartIntegrityCheck(Session& session, const char* chosen_path, const char* chosen_name);

// "Stop".
void StopRun(Session& session);

// "Show ZGL", first step: the viewer mode, entered whether or not the dialog is confirmed.
void EnterViewerMode(Session& session);

// "Show ZGL" after the open dialog: viewer mode, project, export tree, and every icon of
// 3000..4999 loaded, shown and written as a PCX file into the tree. With `stoppable` (the
// console's Ctrl-C) the export also ends early at a stop request. False when the command
// ended before the export.
bool ShowZgl(Session& session, const char* chosen_path, const char* chosen_name,
             bool stoppable = false);

// The viewer keys act only while a picture is shown and the viewer mode is on.
bool ViewerKeysActive(const WorkingState& state);

// Cursor keys (37, 39): the next icon with an entry in that direction within 0..8999, loaded
// and shown. F1 and other keys do nothing here (the window shows its go-to dialog for F1 and
// then calls ViewerGoTo). Returns whether the key acted.
bool ViewerKey(Session& session, int virtual_key);

// The go-to-icon dialog's start position: the low 16 bits of DSTA.
int GoToDialogStart(const ProjectSettings& settings);

// After the go-to-icon dialog: `icon` (0..20000) becomes the current icon and is loaded.
// Returns whether the viewer keys were active (otherwise nothing happens).
bool ViewerGoTo(Session& session, int icon);

}  // namespace zemlo
