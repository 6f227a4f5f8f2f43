#include "app/export_command.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

#include "app/commands.h"
#include "core/status.h"
#include "files/file_layer.h"
#include "files/file_helpers.h"
#include "library/run/creation_run.h"
#include "library/store/block_store.h"
#include "library/run/entry_loading.h"
#include "library/run/show_pipeline.h"
#include "library/store/stamping.h"
#include "picture/pcx_writer.h"

namespace zemlo {
namespace {

constexpr std::string_view kSeparators = "/\\";

bool IsAbsolute(std::string_view name) {
  return (!name.empty() && kSeparators.find(name[0]) != std::string_view::npos) ||
         (name.size() >= 2 && name[1] == ':');
}

// A relative name none of whose parts climbs out of its folder.
bool StaysInside(std::string_view name) {
  if (IsAbsolute(name)) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of(kSeparators, start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

// Every folder on the way to `folder` (the last one included), existing ones kept.
bool MakeFolders(const std::string& folder) {
  for (std::size_t cut = folder.find_first_of(kSeparators, 1); cut != std::string::npos;
       cut = folder.find_first_of(kSeparators, cut + 1)) {
    const std::string prefix = folder.substr(0, cut);
    if (!prefix.empty() && prefix.back() != ':') files::MakeDirectory(prefix.c_str());
  }
  files::MakeDirectory(folder.c_str());
  return files::Exists(folder.c_str());
}

std::string FolderOf(const std::string& path) {
  const std::size_t cut = path.find_last_of(kSeparators);
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// As the user should read it: absolute, one kind of separator, the case found on disk.
std::string Shown(const std::string& folder, const std::string& name) {
  std::filesystem::path path(files::Resolve(name.c_str()));
  if (!IsAbsolute(name)) path = std::filesystem::path(folder) / path;
  return path.lexically_normal().make_preferred().string();
}

std::string Stamped(int icon, Name pattern) {
  return StampIconNumber(icon, pattern) ? std::string(pattern.data()) : std::string();
}

}  // namespace

ExportOutcome ExportZgl(Session& session, const char* chosen_path, const char* chosen_name,
                        const ExportRequest& request) {
  ExportOutcome outcome;
  EnterViewerMode(session);
  if (!LoadProject(session, chosen_path, chosen_name, ProjectUse::kShow)) return outcome;
  // The library stays locked while the export reads it, whichever way it ends.
  struct Unlock {
    Session& session;
    ~Unlock() { ReleaseLibrary(session); }
  } unlock{session};
  WorkingState& state = session.state();
  ProjectSettings& settings = session.settings();
  const std::string project_folder = files::CurrentDirectory();
  const std::string pattern = settings.FPCX.data();
  const bool elsewhere = !request.into.empty();
  if (elsewhere && !StaysInside(pattern)) {
    ShowWarning(state.port, Owner::kMain, kExportPatternLeavesFormat, pattern);
    return outcome;
  }
  const std::string base = elsewhere ? request.into : project_folder;
  if (elsewhere && (!MakeFolders(base) || !files::ChangeDirectory(base.c_str()))) {
    ShowWarning(state.port, Owner::kMain, kExportFolderUnusableFormat, base);
    files::ChangeDirectory(project_folder.c_str());
    return outcome;
  }
  outcome.started = true;
  if (request.announce) {
    request.announce({Shown(base, Stamped(kRunStart, settings.FPCX)),
                      Shown(base, Stamped(kRunEnd, settings.FPCX)), pattern});
  }
  state.current_icon.store(kRunStart);
  MakeExportTree();
  // The library is read from the project's folder; the files are named from `base`.
  if (elsewhere) files::ChangeDirectory(project_folder.c_str());
  // With more than one job, helpers load and encode the icons ahead; this thread still
  // writes every file and shows every title and message, in icon order.
  const int jobs = std::clamp(session.store().jobs, 1, kMaxJobs);
  std::optional<ShowPipeline> pipeline;
  if (jobs > 1) {
    pipeline.emplace(settings, state, kRunStart, kRunEnd, jobs);
    if (!pipeline->running()) pipeline.reset();
  }
  std::string made_folder;
  for (int icon = kRunStart; icon <= kRunEnd; ++icon) {
    if (request.stoppable && state.stop_request.load()) break;
    ++outcome.icons;
    std::span<const std::uint8_t> pcx;
    const EntryLoad load = pipeline ? pipeline->Take(icon, settings, state, pcx)
                                    : LoadIconEntry(icon, settings, state);
    switch (load) {
      case EntryLoad::kShown:
        ++outcome.shown;
        break;
      case EntryLoad::kNoEntry:
        break;
      case EntryLoad::kFailed:
        ++outcome.not_loaded;
        break;
    }
    if (!StampIconNumber(icon, settings.FPCX)) {
      // No icon of the range can be named: one warning instead of two thousand.
      ShowWarning(state.port, Owner::kMain, kExportNotSavedFormat, settings.FPCX.data());
      outcome.not_saved += kRunEnd - icon + 1;
      break;
    }
    std::string target = settings.FPCX.data();
    if (elsewhere) {
      target = base + "/" + target;
      // Folders that the export tree does not hold (a pattern such as "pcx\p0_0_0_0.pcx").
      const std::string folder = FolderOf(target);
      if (folder != made_folder && !files::Exists(folder.c_str())) MakeFolders(folder);
      made_folder = folder;
    }
    if (!pipeline) pcx = state.pcx.span().first(EncodePcx(state.Picture(), state.pcx.span()));
    if (!WriteWholeFile(target.c_str(), pcx)) {
      ShowWarning(state.port, Owner::kMain, kExportNotSavedFormat, settings.FPCX.data());
      ++outcome.not_saved;
    }
  }
  pipeline.reset();  // what was prepared ahead of a stop is dropped
  if (request.stoppable) state.stop_request.store(false);
  return outcome;
}

}  // namespace zemlo
