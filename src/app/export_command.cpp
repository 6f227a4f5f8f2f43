#include "app/export_command.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string_view>

#include "app/commands.h"
#include "app/folder_visit.h"
#include "core/status.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "files/file_names.h"
#include "library/run/entry_loading.h"
#include "library/run/jobs.h"
#include "library/run/show/show_pipeline.h"
#include "library/store/block_store.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"
#include "picture/pcx_writer.h"
#include "picture/png_writer.h"

namespace zemlo {
namespace {

constexpr std::string_view kSeparators = "/\\";

using files::IsAbsolute;

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

// The library an export loaded, locked from LoadProject on and given up when the export ends,
// whichever way it ends.
class LibraryHold {
 public:
  explicit LibraryHold(Session& session) : session_(session) {}
  ~LibraryHold() { ReleaseLibrary(session_); }
  LibraryHold(const LibraryHold&) = delete;
  LibraryHold& operator=(const LibraryHold&) = delete;

 private:
  Session& session_;
};

// The folder the export writes under: the project's, or the request's, which is made and
// entered (`visit` goes back). Nothing, and a warning, when the request's cannot take the
// files FPCX names or cannot be made or entered.
std::optional<std::string> EnterExportFolder(Session& session, const ExportRequest& request,
                                             FolderVisit& visit) {
  if (request.into.empty()) return visit.home();
  StatusPort& port = session.state().port;
  const std::string pattern = session.settings().FPCX.data();
  if (!StaysInside(pattern)) {
    ShowWarning(port, Owner::kMain, kExportPatternLeavesFormat, pattern);
    return std::nullopt;
  }
  if (!MakeFolders(request.into) || !visit.Enter(request.into)) {
    ShowWarning(port, Owner::kMain, kExportFolderUnusableFormat, request.into);
    return std::nullopt;
  }
  return request.into;
}

// Without replacing: the first file the export would write that stands already goes into the
// outcome, and true tells that the export writes nothing.
bool RefusedByExistingFile(Session& session, const ExportRequest& request, const std::string& base,
                           ExportOutcome& outcome) {
  const auto existing =
      FirstExisting(session.settings(), session.state(), base, request, outcome.refused_link);
  if (!existing) return false;
  outcome.refused = *existing;
  return true;
}

// Tells where the files go, before any is written: named from `base`, the current folder.
void Announce(const ProjectSettings& settings, const ExportRequest& request,
              const std::string& base) {
  const auto shown_file = [&](int icon) {
    return Shown(base, ExportFileName(Stamped(icon, settings.FPCX), request.format));
  };
  request.announce({shown_file(kRunStart), shown_file(kRunEnd), settings.FPCX.data()});
}

// The export's files, icon by icon, from the project's folder: the library is read from
// there, the files are named from `base`. With more than one job, helpers load and encode the
// icons ahead; this thread still writes every file and shows every title and message, in
// icon order.
class IconWriter {
 public:
  IconWriter(Session& session, const ExportRequest& request, const std::string& base,
             ExportOutcome& outcome);
  // Every icon of the range, until a stop; what was prepared ahead of a stop is dropped.
  void Run();

 private:
  // False when the icon cannot be named, and so no icon after it.
  bool Export(int icon);
  EntryLoad Load(int icon, bool& shown_masked);
  // On this thread: the file's bytes from the picture the icon left.
  void Encode(EntryLoad load, bool shown_masked);
  void Write(const std::string& file_name);

  ProjectSettings& settings_;
  WorkingState& state_;
  const ExportRequest& request_;
  const std::string& base_;
  ExportOutcome& outcome_;
  const bool png_;
  const ShowFormat show_format_;
  const TextFormat not_saved_format_;
  std::optional<ShowPipeline> pipeline_;
  // An icon without entry repeats the picture before it, see-through as that one was.
  bool masked_ = false;
  // The rows outside which the picture is black, as the last entry shown left it (only a
  // shown entry changes the picture here).
  PictureRows ink_;
  // The offsets table as this run last read it, when the icons are loaded on this thread:
  // nothing else writes the table during the run, so the file is read again only when it
  // changed, not for every one of the range's two thousand icons.
  KeptTable offsets_kept_;
  std::vector<std::uint8_t> png_bytes_;
  std::span<const std::uint8_t> bytes_;
  std::set<std::string> links_named_;
};

ShowFormat ShowFormatOf(const ExportRequest& request) {
  if (request.format != ExportFormat::kPng) return ShowFormat::kPcx;
  return request.black_transparent ? ShowFormat::kPngSeeThrough : ShowFormat::kPng;
}

IconWriter::IconWriter(Session& session, const ExportRequest& request, const std::string& base,
                       ExportOutcome& outcome)
    : settings_(session.settings()),
      state_(session.state()),
      request_(request),
      base_(base),
      outcome_(outcome),
      png_(request.format == ExportFormat::kPng),
      show_format_(ShowFormatOf(request)),
      not_saved_format_(png_ ? kExportPngNotSavedFormat : kExportNotSavedFormat) {
  const int jobs = std::clamp(session.store().jobs, 1, kMaxJobs);
  if (jobs > 1) {
    pipeline_.emplace(settings_, state_, kRunStart, kRunEnd, jobs, show_format_);
    if (!pipeline_->running()) pipeline_.reset();
  }
}

void IconWriter::Run() {
  for (int icon = kRunStart; icon <= kRunEnd; ++icon) {
    if (request_.stoppable && state_.stop_request.load()) break;
    if (!Export(icon)) break;
  }
  pipeline_.reset();
}

bool IconWriter::Export(int icon) {
  ++outcome_.icons;
  bool shown_masked = false;
  const EntryLoad load = Load(icon, shown_masked);
  if (!StampIconNumber(icon, settings_.FPCX)) {
    // No icon of the range can be named: one warning instead of two thousand.
    ShowWarning(state_.port, Owner::kMain, not_saved_format_, settings_.FPCX.data());
    outcome_.not_saved += kRunEnd - icon + 1;
    return false;
  }
  // An icon whose entry did not load would be written as the picture before it.
  if (!request_.every_icon && load != EntryLoad::kShown) return true;
  const std::string file_name = ExportFileName(settings_.FPCX.data(), request_.format);
  if (!pipeline_) Encode(load, shown_masked);
  if (bytes_.empty()) {  // the memory for a PNG ran out
    ++outcome_.not_saved;
    ShowWarning(state_.port, Owner::kMain, not_saved_format_, file_name);
    return true;
  }
  Write(file_name);
  return true;
}

EntryLoad IconWriter::Load(int icon, bool& shown_masked) {
  const EntryLoad load =
      pipeline_ ? pipeline_->Take(icon, settings_, state_, bytes_)
                : LoadIconEntry(icon, settings_, state_, &shown_masked, &ink_, &offsets_kept_);
  switch (load) {
    case EntryLoad::kShown:
      ++outcome_.shown;
      break;
    case EntryLoad::kNoEntry:
      break;
    case EntryLoad::kFailed:
      ++outcome_.not_loaded;
      break;
  }
  return load;
}

void IconWriter::Encode(EntryLoad load, bool shown_masked) {
  if (load == EntryLoad::kShown) masked_ = shown_masked;
  // An icon that showed nothing leaves the picture as it was: its PNG is the one before, as
  // the helpers hand it over (a PNG takes a hundred times as long as a PCX).
  if (!png_ || load == EntryLoad::kShown || bytes_.empty()) {
    bytes_ = EncodeShowFile(show_format_, state_.Picture(), masked_, state_.pcx, png_bytes_, ink_);
  }
}

void IconWriter::Write(const std::string& file_name) {
  const OutputName out = SplitOutputName(base_, file_name);
  // Under another folder, the folders that the export tree does not hold are made (a pattern
  // such as "pcx\p0_0_0_0.pcx"); in the project's folder they are its own.
  const bool elsewhere = !request_.into.empty();
  const files::OutputMode mode =
      request_.replace ? files::OutputMode::kReplace : files::OutputMode::kCreateNew;
  std::string blocker;
  files::FileProblem problem = files::FileProblem::kNone;
  const files::OutputResult result =
      files::WriteOutputFile(out.base.c_str(), out.relative.c_str(), bytes_.data(), bytes_.size(),
                             mode, elsewhere, &blocker, &problem);
  if (result == files::OutputResult::kWritten) {
    ++outcome_.written;
    return;
  }
  ++outcome_.not_saved;
  if (result == files::OutputResult::kLinkInTheWay) {
    const std::string link = ShownUnder(out.base, blocker);
    if (links_named_.insert(link).second) {
      ShowWarning(state_.port, Owner::kMain,
                  png_ ? kExportPngThroughLinkFormat : kExportThroughLinkFormat, link);
    }
    return;
  }
  const std::string shown = png_ ? file_name : std::string(settings_.FPCX.data());
  ShowWarning(state_.port, Owner::kMain, not_saved_format_, shown);
  if (problem != files::FileProblem::kNone) {
    state_.port.Explain(shown, files::FileProblemText(problem));
  }
}

// The export tree, then every icon's file.
void WriteExport(Session& session, const ExportRequest& request, const std::string& base,
                 ExportOutcome& outcome) {
  WorkingState& state = session.state();
  std::string tree_link;
  if (!MakeExportFolders(base, tree_link)) {
    ShowWarning(state.port, Owner::kMain, kExportTreeThroughLinkFormat,
                ShownUnder(base, tree_link));
  }
  IconWriter(session, request, base, outcome).Run();
  if (request.stoppable) state.stop_request.store(false);
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
    if (files::EndsWithIgnoringCase(stamped, kPcx)) name.resize(stamped.size() - kPcx.size());
  }
  return name + ".png";
}

ExportOutcome ExportZgl(Session& session, const char* chosen_path, const char* chosen_name,
                        const ExportRequest& request) {
  ExportOutcome outcome;
  EnterViewerMode(session);
  if (!LoadProject(session, chosen_path, chosen_name, ProjectUse::kShow)) return outcome;
  // Made before the visit, given up after it: the library is released from the project's
  // folder.
  const LibraryHold hold(session);
  FolderVisit visit;
  const std::optional<std::string> base = EnterExportFolder(session, request, visit);
  if (!base) return outcome;
  // Checked before anything is written, so that a refusal changes nothing.
  if (!request.replace && RefusedByExistingFile(session, request, *base, outcome)) return outcome;
  outcome.started = true;
  if (request.announce) Announce(session.settings(), request, *base);
  session.state().current_icon.store(kRunStart);
  // The library is read from the project's folder; the files are named from `base`.
  visit.Leave();
  WriteExport(session, request, *base, outcome);
  return outcome;
}

}  // namespace zemlo
