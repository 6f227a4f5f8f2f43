#include "app/export_command.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string_view>

#include "app/commands.h"
#include "core/status.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/run/creation_run.h"
#include "library/run/entry_loading.h"
#include "library/run/show_pipeline.h"
#include "library/store/block_store.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "picture/pcx_writer.h"
#include "picture/png_writer.h"

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
    // Folders that exist already refuse to be made: what counts is that the last one stands.
    if (!prefix.empty() && prefix.back() != ':') (void)files::MakeDirectory(prefix.c_str());
  }
  (void)files::MakeDirectory(folder.c_str());
  return files::Exists(folder.c_str());
}

// As the user should read it: absolute, one kind of separator, the case found on disk.
std::string Shown(const std::string& folder, const std::string& name) {
  std::filesystem::path path(files::Resolve(name.c_str()));
  if (!IsAbsolute(name)) path = std::filesystem::path(folder) / path;
  return path.lexically_normal().make_preferred().string();
}

// A name the file layer gave below `base` (the case found on disk already).
std::string ShownUnder(const std::string& base, const std::string& relative) {
  return (std::filesystem::path(base) / relative).lexically_normal().make_preferred().string();
}

std::string Stamped(int icon, Name pattern) {
  return StampIconNumber(icon, pattern) ? std::string(pattern.data()) : std::string();
}

bool IsSeparator(char c) { return kSeparators.find(c) != std::string_view::npos; }

// Where an export file goes, as the file layer takes it: a folder the user chose (the export
// folder or the project's) and the name below it that the project gives, whose folders are
// never followed when they are links. An absolute pattern (only without an export folder)
// starts at its root.
struct OutputName {
  std::string base;
  std::string relative;
};

OutputName SplitOutputName(const std::string& base, const std::string& name) {
  if (!IsAbsolute(name)) return {base, name};
  OutputName split;
  if (name[1] == ':') {
    const bool rooted = name.size() >= 3 && IsSeparator(name[2]);
    split = {rooted ? name.substr(0, 3) : name.substr(0, 2) + ".", name.substr(rooted ? 3 : 2)};
  } else if (name.size() >= 2 && IsSeparator(name[1])) {
    // \\server\share\...: the share is the root.
    const std::size_t server = name.find_first_of(kSeparators, 2);
    const std::size_t share =
        server == std::string::npos ? server : name.find_first_of(kSeparators, server + 1);
    split = share == std::string::npos
                ? OutputName{name, ""}
                : OutputName{name.substr(0, share + 1), name.substr(share + 1)};
  } else {
    split = {name.substr(0, 1), name.substr(1)};
  }
  const std::size_t start = split.relative.find_first_not_of(kSeparators);
  split.relative = start == std::string::npos ? std::string() : split.relative.substr(start);
  return split;
}

// The icons whose files the export writes: all of the range, or those that may have an entry
// (more than will load, never fewer).
bool MayHaveEntry(int icon, const ProjectSettings& settings, const WorkingState& state) {
  if (!BlockFilesOn(settings)) {
    Name single = settings.FSEP;
    return StampIconNumber(icon, single) && files::Exists(single.data());
  }
  const OffsetsTable offsets(const_cast<WorkingState&>(state).offsets.span());
  return offsets.offset(icon) != 0 || offsets.length(icon) != 0;
}

// The export tree IFF/{3,4}/{0..9}/{0..9} under `base`, never through a link. False (and the
// link named in `blocker`) when a link stands in its way.
bool MakeExportFolders(const std::string& base, std::string& blocker) {
  for (const char thousands : {'3', '4'}) {
    for (char hundreds = '0'; hundreds <= '9'; ++hundreds) {
      for (char tens = '0'; tens <= '9'; ++tens) {
        const std::string folder = std::string("IFF/") + thousands + "/" + hundreds + "/" + tens;
        if (files::MakeOutputFolder(base.c_str(), folder.c_str(), &blocker) ==
            files::OutputResult::kLinkInTheWay) {
          return false;
        }
      }
    }
  }
  return true;
}

// The first file the export would write that stands already, or nullopt. `link` tells
// whether it is a link (or a link stands on its way).
std::optional<std::string> FirstExisting(const ProjectSettings& settings, const WorkingState& state,
                                         const std::string& base, const ExportRequest& request,
                                         bool& link) {
  for (int icon = kRunStart; icon <= kRunEnd; ++icon) {
    if (!request.every_icon && !MayHaveEntry(icon, settings, state)) continue;
    const std::string name = Stamped(icon, settings.FPCX);
    if (name.empty()) return std::nullopt;  // nothing can be named: nothing is written
    const OutputName out = SplitOutputName(base, ExportFileName(name, request.format));
    std::string blocker;
    const files::OutputState found =
        files::ProbeOutput(out.base.c_str(), out.relative.c_str(), &blocker);
    if (found == files::OutputState::kMissing) continue;
    link = found == files::OutputState::kLink;
    return ShownUnder(out.base, blocker.empty() ? out.relative : blocker);
  }
  return std::nullopt;
}

}  // namespace

std::string ExportFileName(const std::string& stamped, ExportFormat format) {
  if (format == ExportFormat::kPcx) return stamped;
  constexpr std::string_view kPcx = ".pcx";
  const std::size_t folder_end = stamped.find_last_of(kSeparators);
  const std::size_t name_start = folder_end == std::string::npos ? 0 : folder_end + 1;
  if (HasPngExtension(std::string_view(stamped).substr(name_start))) return stamped;
  std::string name = stamped;
  if (stamped.size() - name_start > kPcx.size()) {
    std::string end = stamped.substr(stamped.size() - kPcx.size());
    for (char& c : end) c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    if (end == kPcx) name.resize(stamped.size() - kPcx.size());
  }
  return name + ".png";
}

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
    // Back to the folder the command started in (as below): it was the current folder a
    // moment ago, and the warning already said what went wrong.
    (void)files::ChangeDirectory(project_folder.c_str());
    return outcome;
  }
  if (!request.replace) {
    // Checked before anything is written, so that a refusal changes nothing.
    if (const auto existing = FirstExisting(settings, state, base, request, outcome.refused_link)) {
      outcome.refused = *existing;
      if (elsewhere) (void)files::ChangeDirectory(project_folder.c_str());
      return outcome;
    }
  }
  outcome.started = true;
  if (request.announce) {
    const auto shown_file = [&](int icon) {
      return Shown(base, ExportFileName(Stamped(icon, settings.FPCX), request.format));
    };
    request.announce({shown_file(kRunStart), shown_file(kRunEnd), pattern});
  }
  state.current_icon.store(kRunStart);
  // The library is read from the project's folder; the files are named from `base`.
  if (elsewhere) (void)files::ChangeDirectory(project_folder.c_str());
  std::string tree_link;
  if (!MakeExportFolders(base, tree_link)) {
    ShowWarning(state.port, Owner::kMain, kExportTreeThroughLinkFormat,
                ShownUnder(base, tree_link));
  }
  // With more than one job, helpers load and encode the icons ahead; this thread still
  // writes every file and shows every title and message, in icon order.
  const int jobs = std::clamp(session.store().jobs, 1, kMaxJobs);
  const bool png = request.format == ExportFormat::kPng;
  const ShowFormat show_format = !png                        ? ShowFormat::kPcx
                                 : request.black_transparent ? ShowFormat::kPngSeeThrough
                                                             : ShowFormat::kPng;
  std::optional<ShowPipeline> pipeline;
  if (jobs > 1) {
    pipeline.emplace(settings, state, kRunStart, kRunEnd, jobs, show_format);
    if (!pipeline->running()) pipeline.reset();
  }
  const files::OutputMode mode =
      request.replace ? files::OutputMode::kReplace : files::OutputMode::kCreateNew;
  const char* const not_saved_format = png ? kExportPngNotSavedFormat : kExportNotSavedFormat;
  const char* const through_link_format =
      png ? kExportPngThroughLinkFormat : kExportThroughLinkFormat;
  // An icon without entry repeats the picture before it, see-through as that one was.
  bool masked = false;
  std::vector<std::uint8_t> png_bytes;
  std::span<const std::uint8_t> bytes;
  std::set<std::string> links_named;
  for (int icon = kRunStart; icon <= kRunEnd; ++icon) {
    if (request.stoppable && state.stop_request.load()) break;
    ++outcome.icons;
    bool shown_masked = false;
    const EntryLoad load = pipeline ? pipeline->Take(icon, settings, state, bytes)
                                    : LoadIconEntry(icon, settings, state, &shown_masked);
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
      ShowWarning(state.port, Owner::kMain, not_saved_format, settings.FPCX.data());
      outcome.not_saved += kRunEnd - icon + 1;
      break;
    }
    // An icon whose entry did not load would be written as the picture before it.
    if (!request.every_icon && load != EntryLoad::kShown) continue;
    const std::string file_name = ExportFileName(settings.FPCX.data(), request.format);
    const OutputName out = SplitOutputName(base, file_name);
    if (!pipeline) {
      if (load == EntryLoad::kShown) masked = shown_masked;
      // An icon that showed nothing leaves the picture as it was: its PNG is the one before,
      // as the helpers hand it over (a PNG takes a hundred times as long as a PCX).
      if (!png || load == EntryLoad::kShown || bytes.empty()) {
        bytes = EncodeShowFile(show_format, state.Picture(), masked, state.pcx, png_bytes);
      }
    }
    if (bytes.empty()) {  // the memory for a PNG ran out
      ++outcome.not_saved;
      ShowWarning(state.port, Owner::kMain, not_saved_format, file_name);
      continue;
    }
    // Under another folder, the folders that the export tree does not hold are made (a
    // pattern such as "pcx\p0_0_0_0.pcx"); in the project's folder they are its own.
    std::string blocker;
    files::FileProblem problem = files::FileProblem::kNone;
    const files::OutputResult result =
        files::WriteOutputFile(out.base.c_str(), out.relative.c_str(), bytes.data(), bytes.size(),
                               mode, elsewhere, &blocker, &problem);
    if (result == files::OutputResult::kWritten) {
      ++outcome.written;
      continue;
    }
    ++outcome.not_saved;
    if (result == files::OutputResult::kLinkInTheWay) {
      const std::string link = ShownUnder(out.base, blocker);
      if (links_named.insert(link).second) {
        ShowWarning(state.port, Owner::kMain, through_link_format, link);
      }
    } else {
      const std::string shown = png ? file_name : std::string(settings.FPCX.data());
      ShowWarning(state.port, Owner::kMain, not_saved_format, shown);
      if (problem != files::FileProblem::kNone) {
        state.port.Explain(shown, files::FileProblemText(problem));
      }
    }
  }
  pipeline.reset();  // what was prepared ahead of a stop is dropped
  if (request.stoppable) state.stop_request.store(false);
  return outcome;
}

}  // namespace zemlo
