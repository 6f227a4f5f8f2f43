#include "app/commands.h"

#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "app/export_command.h"
#include "app/picture_commands.h"
#include "app/project_checks.h"
#include "app/store_messages.h"
#include "core/status.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/run/check/integrity_check.h"
#include "library/run/create/creation_run.h"
#include "library/run/entry_loading.h"
#include "library/store/block_store.h"
#include "library/store/library_lock.h"
#include "library/store/rewrite_recovery.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"
#include "picture/pcx_writer.h"
#include "project/info_parser.h"
#include "project/tag_near_misses.h"

namespace zemlo {
namespace {

constexpr std::string_view kSeparators = "/\\";

// Takes the library of `settings` for the command, then puts right what an interrupted run
// left there (BLTEMP, temporary files), which is safe only while no other run can work on it.
// False when the command must not go on (the warning has been shown).
bool HoldLibrary(Session& session, const ProjectSettings& settings, ProjectUse use) {
  LibraryLock& lock = session.library_lock();
  StatusPort& port = session.state().port;
  switch (lock.Acquire(settings.FOFS.data(), &port)) {
    case LibraryLock::Outcome::kBusy:
    case LibraryLock::Outcome::kUnlockable:
      // A lock file that is a link, no regular file, or cannot be opened keeps nobody out:
      // going on could run beside another run, or write where the link points.
      return false;
    case LibraryLock::Outcome::kHeld:
      break;
  }
  RemoveLeftoverTableTemporaries(settings);
  const RecoveryResult recovery = RecoverInterruptedRewrite(settings, port);
  // A BLTEMP that stays keeps a run from opening blocks; reading the library goes on.
  if (recovery == RecoveryResult::kRefused && use == ProjectUse::kCreate) {
    lock.Release();
    return false;
  }
  return true;
}

// A message in an information box rather than a warning one; the console does not count it
// among the warnings that decide its exit status.
void ShowNotice(StatusPort& port, TextFormat format, const char* text) {
  char message[kTextBufferSize];
  std::snprintf(message, sizeof message, format.c_str(), text[0] == '\0' ? "UNTITLED" : text);
  port.ShowMessage(Owner::kMain, kClassName, message, MessageIcon::kInformation);
}

}  // namespace

void ReleaseLibrary(Session& session) { session.library_lock().Release(); }

std::string ChosenName(const char* chosen_path) { return std::string(FileNameOf(chosen_path)); }

std::optional<std::string> EnterProjectFolder(const char* chosen_path) {
  const std::string path(chosen_path);
  const auto cut = path.find_last_of(kSeparators);
  if (cut == std::string::npos) return path;
  std::string folder = path.substr(0, cut + 1);
  // "/x.zgl" and "C:\x.zgl" keep their root separator; other folders lose the trailing one.
  if (folder.size() > 1 && !(folder.size() == 3 && folder[1] == ':')) folder.pop_back();
  if (!files::ChangeDirectory(folder.c_str())) return std::nullopt;
  return path.substr(cut + 1);
}

bool EnterProjectFolderOrWarn(StatusPort& port, const char* chosen_path, const char* chosen_name) {
  if (EnterProjectFolder(chosen_path)) return true;
  ShowWarning(port, Owner::kMain, kFolderNotEnteredFormat, chosen_name);
  return false;
}

bool LoadProject(Session& session, const char* chosen_path, const char* chosen_name, ProjectUse use,
                 bool* coordinates_new) {
  if (coordinates_new != nullptr) *coordinates_new = false;
  WorkingState& state = session.state();
  StatusPort& port = state.port;
  files::FileProblem problem = files::FileProblem::kOther;
  const auto read = ReadWholeFile(chosen_path, state.info_text.span(), kInfoReadLimit, &problem);
  if (!read) {
    ShowWarning(port, Owner::kMain, kInfoUnreadableFormat, chosen_name);
    port.Explain(chosen_name, files::FileProblemText(problem));
    return false;
  }
  // Parsed into a copy so that a refused project leaves the settings the viewer keys still
  // use as they were.
  ProjectSettings parsed = session.settings();
  InfoTextReport report;
  ParseInfoText(reinterpret_cast<const char*>(state.info_text.data()), parsed, &report);
  if (const auto refusal = ProjectRefusal(parsed, report, ChosenName(chosen_path), kRunEnd)) {
    ShowWarning(port, Owner::kMain, "%s", *refusal);
    return false;
  }
  // Warned, not refused: the file says what it says, but probably not what was meant.
  for (const std::string& miss :
       TagNearMisses(reinterpret_cast<const char*>(state.info_text.data()))) {
    ShowWarning(port, Owner::kMain, "%s", std::string(ChosenName(chosen_path)) + ", " + miss);
  }
  if (!HoldLibrary(session, parsed, use)) return false;
  session.settings() = parsed;
  ProjectSettings& settings = session.settings();
  // Tables that cannot be read from this project's files start empty: nothing of a project
  // loaded before is ever reported as this one's.
  if (!ReadOffsetsFile(settings, state)) ClearOffsets(state);
  if (!ReadCoordinatesFile(settings, state)) {
    if (use == ProjectUse::kShow) {
      ShowWarning(port, Owner::kMain, kCoordinatesMissingFormat, settings.FCOO.data());
      ClearCoordinates(state);
      ReleaseLibrary(session);
      return false;
    }
    // A library made for the first time has no coordinates file yet: that is news, not a
    // warning. Beside an existing offsets file the coordinates are lost, which is one.
    const bool new_library = use == ProjectUse::kCreate && !files::Exists(settings.FOFS.data()) &&
                             !files::Exists(settings.FCOO.data());
    if (new_library) {
      ShowNotice(port, kCoordinatesNewFormat, settings.FCOO.data());
    } else {
      ShowWarning(port, Owner::kMain, kCoordinatesNewFormat, settings.FCOO.data());
    }
    ClearCoordinates(state);
    if (coordinates_new != nullptr) *coordinates_new = true;
  }
  return true;
}

namespace {

bool StartRun(Session& session, const char* chosen_path, const char* chosen_name, ProjectUse use) {
  WorkingState& state = session.state();
  // A run still working keeps its buttons disabled; a caller without buttons is refused here.
  if (session.WorkerRunning()) return false;
  state.stop_request.store(false);
  bool coordinates_new = false;
  if (!LoadProject(session, chosen_path, chosen_name, use, &coordinates_new)) return false;
  ProjectSettings& settings = session.settings();
  if (use == ProjectUse::kCreate && TempBlockLeftOver()) {
    // Left where the library cannot be locked: the run would refuse it; say so once.
    ShowStoreProblem(state.port, TempBlockLeftOverProblem());
    ReleaseLibrary(session);
    return false;
  }
  // Without the old crop boxes, skipping an unchanged source would lose its placement.
  const bool convert_all = use == ProjectUse::kCreate && coordinates_new;
  if (use == ProjectUse::kCreate) {
    settings.DSTA = kRunStart;
    settings.DEND = kRunEnd;
  }
  state.current_icon.store(settings.DSTA);
  state.window_mode.store(WindowMode::kRun);
  state.port.RunStarted();
  // Set here, before the worker starts; the project's own DARC stays as it was read.
  session.store().convert_all = convert_all;
  session.tally() = RunTally{};
  // The library stays locked until the worker ends.
  const bool started = session.StartWorker([use](Session& s) {
    if (use == ProjectUse::kCreate) {
      CreationRun(s.store(), &s.tally());
    } else {
      IntegrityCheck(s.settings(), s.state(), &s.tally());
    }
    ReleaseLibrary(s);
  });
  if (!started) {
    ReleaseLibrary(session);
    state.port.RunEnded();
  }
  return started;
}

}  // namespace

bool StartCreateZgl(Session& session, const char* chosen_path, const char* chosen_name) {
  return StartRun(session, chosen_path, chosen_name, ProjectUse::kCreate);
}

bool StartIntegrityCheck(Session& session, const char* chosen_path, const char* chosen_name) {
  return StartRun(session, chosen_path, chosen_name, ProjectUse::kCheck);
}

void StopRun(Session& session) { session.RequestStop(); }

void EnterViewerMode(Session& session) { session.state().window_mode.store(WindowMode::kViewer); }

bool ShowZgl(Session& session, const char* chosen_path, const char* chosen_name, bool stoppable) {
  ExportRequest request;
  request.stoppable = stoppable;
  return ExportZgl(session, chosen_path, chosen_name, request).started;
}

bool ViewerKeysActive(const WorkingState& state) {
  return state.picture_shown.load() && state.window_mode.load() == WindowMode::kViewer;
}

bool ViewerKey(Session& session, int virtual_key) {
  WorkingState& state = session.state();
  if (virtual_key != kKeyLeft && virtual_key != kKeyRight) return false;
  if (!ViewerKeysActive(state)) return false;
  state.picture_shown.store(false);
  const OffsetsTable offsets(state.offsets.span());
  int icon = state.current_icon.load();
  if (virtual_key == kKeyRight) {
    do {
      if (icon < kViewerLastIcon) ++icon;
    } while (offsets.length(icon) == 0 && icon < kViewerLastIcon);
  } else {
    do {
      if (icon > 0) --icon;
    } while (offsets.length(icon) == 0 && icon > 0);
  }
  state.current_icon.store(icon);
  LoadEntry(icon, session.settings(), state);
  state.picture_shown.store(true);
  return true;
}

int GoToDialogStart(const ProjectSettings& settings) { return settings.DSTA & 0xFFFF; }

bool ViewerGoTo(Session& session, int icon) {
  WorkingState& state = session.state();
  if (!ViewerKeysActive(state)) return false;
  if (icon < 0) icon = 0;
  if (icon > kGoToLastIcon) icon = kGoToLastIcon;
  state.current_icon.store(icon);
  LoadEntry(icon, session.settings(), state);
  state.picture_shown.store(true);
  return true;
}

}  // namespace zemlo
