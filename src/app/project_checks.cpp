#include "app/project_checks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/escaped_text.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "files/file_names.h"
#include "library/store/block_store.h"
#include "library/store/checksum_file.h"
#include "library/store/rewrite_recovery.h"
#include "library/store/stamping.h"

namespace zemlo {

using files::NameKey;
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kTableCapacity = 20000;  // records of the offsets table

enum class Role { kProject, kTemp, kFofs, kFcoo, kSums, kFblk, kFsep, kFpcx, kFlbm, kFwav, kFpng };

// One file a project names: a role and, for patterns, the icon or block stamped in.
struct Named {
  Role role;
  int number = -1;
};

const char* TagOf(Role role) {
  switch (role) {
    case Role::kFofs:
      return "FOFS";
    case Role::kFcoo:
      return "FCOO";
    case Role::kFblk:
      return "FBLK";
    case Role::kFsep:
      return "FSEP";
    case Role::kFpcx:
      return "FPCX";
    case Role::kFlbm:
      return "FLBM";
    case Role::kFwav:
      return "FWAV";
    case Role::kFpng:
      return "FPNG";
    case Role::kProject:
    case Role::kTemp:
    case Role::kSums:
      break;
  }
  return "";
}

// As the refusal names it: the tag, with the number for a pattern.
std::string Label(Named n) {
  switch (n.role) {
    case Role::kProject:
      return "the project info file";
    case Role::kTemp:
      return std::string("the temporary block file ") + kTempBlockName;
    case Role::kSums:
      return "the checksum file (FOFS and .sum)";
    case Role::kFblk:
      return "FBLK (block " + std::to_string(n.number) + ")";
    case Role::kFofs:
    case Role::kFcoo:
      return TagOf(n.role);
    default:
      return std::string(TagOf(n.role)) + " (icon " + std::to_string(n.number) + ")";
  }
}

// As a sentence names the file: what it is to the library.
std::string Description(Named n) {
  switch (n.role) {
    case Role::kProject:
      return "the project info file";
    case Role::kTemp:
      return Label(n);
    case Role::kFofs:
      return "the offsets file (FOFS)";
    case Role::kFcoo:
      return "the coordinates file (FCOO)";
    case Role::kFblk:
      return "the block file of block " + std::to_string(n.number) + " (FBLK)";
    case Role::kFsep:
      return "the single entry file of icon " + std::to_string(n.number) + " (FSEP)";
    default:
      return Label(n);
  }
}

int IconsCovered(const ProjectSettings& s) { return std::clamp(s.NSIZ, 0, kTableCapacity); }

template <typename Visit>
void ForEachStamped(Role role, const Name& pattern, int icons, Visit&& visit) {
  if (pattern[0] == '\0') return;
  // Stamping writes the same four places each time, so one copy serves every icon until a
  // stamp fails (which empties the name).
  Name name = pattern;
  for (int icon = 0; icon < icons; ++icon) {
    if (StampIconNumber(icon, name)) {
      visit(Named{role, icon}, std::string_view(name.data()));
    } else {
      name = pattern;
    }
  }
}

// Every file the project writes or must keep: `visit(Named, name)`. Fixed names first, so a
// clash between them is reported as such rather than through a pattern.
template <typename Visit>
void ForEachOutput(const ProjectSettings& s, std::string_view project_name, Visit&& visit) {
  visit(Named{Role::kProject}, project_name);
  visit(Named{Role::kTemp}, std::string_view(kTempBlockName));
  if (s.FOFS[0] != '\0') visit(Named{Role::kFofs}, std::string_view(s.FOFS.data()));
  if (s.FCOO[0] != '\0') visit(Named{Role::kFcoo}, std::string_view(s.FCOO.data()));
  if (const auto sums = ChecksumFileName(s))
    visit(Named{Role::kSums}, std::string_view(sums->data()));
  const int icons = IconsCovered(s);
  if (s.FBLK[0] != '\0' && s.BLKB > 0 && icons > 0) {
    for (int block = 0; block <= (icons - 1) / s.BLKB; ++block) {
      Name name = s.FBLK;
      if (StampBlockNumber(block, name)) {
        visit(Named{Role::kFblk, block}, std::string_view(name.data()));
      }
    }
  }
  ForEachStamped(Role::kFsep, s.FSEP, icons, visit);
}

using files::IsAbsolute;

// The name as an absolute path with symbolic links resolved as far as the path exists.
std::string Physical(const std::string& folder, std::string_view name) {
  const std::string joined =
      IsAbsolute(name) ? std::string(name) : folder + "/" + std::string(name);
  std::error_code error;
  const fs::path real = fs::weakly_canonical(fs::path(files::Resolve(joined.c_str())), error);
  return error ? joined : real.string();
}

}  // namespace

std::optional<std::string> FindNameClash(const ProjectSettings& settings,
                                         std::string_view project_name) {
  struct First {
    Named owner;
    std::string name;
  };
  std::unordered_map<std::string, First> outputs;
  outputs.reserve(static_cast<std::size_t>(IconsCovered(settings)) + 128);
  std::optional<std::string> clash;
  const auto refuse = [&clash](const First& first, Named second) {
    clash = "The project cannot be used: " + Label(first.owner) + " and " + Label(second) +
            " both name the file " + first.name + ".";
  };
  ForEachOutput(settings, project_name, [&](Named owner, std::string_view name) {
    if (clash) return;
    const auto [at, added] = outputs.try_emplace(NameKey(name), First{owner, std::string(name)});
    if (!added) refuse(at->second, owner);
  });
  if (clash) return clash;
  const int icons = IconsCovered(settings);
  for (const auto& [role, pattern] :
       {std::pair{Role::kFpcx, &settings.FPCX}, std::pair{Role::kFlbm, &settings.FLBM},
        std::pair{Role::kFwav, &settings.FWAV}, std::pair{Role::kFpng, &settings.FPNG}}) {
    ForEachStamped(role, *pattern, icons, [&](Named source, std::string_view name) {
      if (clash) return;
      const auto at = outputs.find(NameKey(name));
      if (at != outputs.end()) refuse(at->second, source);
    });
    if (clash) return clash;
  }
  return std::nullopt;
}

namespace {

constexpr const char* kRecoveryFileClashStart = "The project cannot be used: ";
constexpr const char* kRecoveryFileClashMiddle = " names the file ";
constexpr const char* kRecoveryFileClashEnd =
    ", which belongs to the recovery of an interrupted run (BLTEMP, its record BLTEMP.REC or "
    "a leftover temporary file) and may be moved or removed by it.";

}  // namespace

std::optional<std::string> FindRecoveryFileClash(const ProjectSettings& settings,
                                                 std::string_view project_name) {
  // What the recovery moves or removes besides the library's own files.
  const auto sums = ChecksumFileName(settings);
  const std::string owned[] = {NameKey(kTempBlockName),
                               NameKey(kTempBlockRecordName),
                               NameKey(TemporaryNameOf(kTempBlockRecordName)),
                               NameKey(TemporaryNameOf(settings.FOFS.data())),
                               NameKey(TemporaryNameOf(settings.FCOO.data())),
                               NameKey(TemporaryNameOf(sums ? sums->data() : ""))};
  const int icons = IconsCovered(settings);
  // The single entry files' temporaries too, which a run removes, or moves into place, at
  // each icon it reaches (a source of that name was gone after the run). Listed only once a
  // name ends as a temporary's does.
  const std::string temporary_end = NameKey(kReplaceSuffix);
  std::unordered_set<std::string> single_temporaries;
  bool listed = false;
  const auto single_temporary = [&](const std::string& key) {
    if (!key.ends_with(temporary_end)) return false;
    if (!listed) {
      ForEachStamped(Role::kFsep, settings.FSEP, icons, [&](Named, std::string_view name) {
        single_temporaries.insert(NameKey(TemporaryNameOf(std::string(name).c_str())));
      });
      listed = true;
    }
    return single_temporaries.contains(key);
  };
  std::optional<std::string> clash;
  const auto check = [&](Named owner, std::string_view name) {
    // BLTEMP itself is among the outputs, to be told from the others.
    if (clash || owner.role == Role::kTemp) return;
    const std::string key = NameKey(name);
    if (key.empty() || (std::find(std::begin(owned), std::end(owned), key) == std::end(owned) &&
                        !single_temporary(key))) {
      return;
    }
    clash = kRecoveryFileClashStart + Label(owner) + kRecoveryFileClashMiddle + std::string(name) +
            kRecoveryFileClashEnd;
  };
  ForEachOutput(settings, project_name, check);
  ForEachStamped(Role::kFpcx, settings.FPCX, icons, check);
  ForEachStamped(Role::kFlbm, settings.FLBM, icons, check);
  ForEachStamped(Role::kFwav, settings.FWAV, icons, check);
  ForEachStamped(Role::kFpng, settings.FPNG, icons, check);
  return clash;
}

std::optional<std::string> ProjectFileAt(const ProjectSettings& settings,
                                         std::string_view project_name, std::string_view path) {
  const std::string folder = Physical(files::CurrentDirectory(), ".");
  const std::string wanted = NameKey(Physical(folder, path));
  std::optional<std::string> found;
  ForEachOutput(settings, project_name, [&](Named owner, std::string_view name) {
    if (found) return;
    // Patterns are many: their names are joined to the folder without looking at the disk.
    const bool pattern = owner.role == Role::kFblk || owner.role == Role::kFsep;
    const std::string full =
        pattern && !IsAbsolute(name) ? folder + "/" + std::string(name) : Physical(folder, name);
    if (NameKey(full) == wanted) found = Description(owner);
  });
  return found;
}

namespace {

constexpr const char* kNameOverLineEndFormat =
    "The project cannot be used: %s: the name runs over a line end (\"%s\"): end each name "
    "with a blank.";
constexpr const char* kNameControlFormat =
    "The project cannot be used: %s: the name holds a control character (\"%s\").";

std::string Formatted(const char* format, const char* tag, const std::string& name) {
  const int length = std::snprintf(nullptr, 0, format, tag, name.c_str());
  std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
  std::snprintf(text.data(), text.size() + 1, format, tag, name.c_str());
  return text;
}

constexpr const char* kIconPatternShortFormat =
    "The project cannot be used: %s: the pattern \"%s\" has no room for the icon number: its "
    "four digit places lie 7, 5, 3 and 1 characters before the name's first \".\" (or its "
    "end), as in s0_0_0_0.zgi.";
constexpr const char* kBlockPatternShortFormat =
    "The project cannot be used: %s: the pattern \"%s\" has no room for the block number: "
    "its two digit places lie 2 and 1 characters before the name's first \".\" (or its end), "
    "as in demo00.blk.";

}  // namespace

std::optional<std::string> PatternRoomRefusal(const ProjectSettings& settings) {
  // The commands' icons all have four digits, so a pattern that takes one takes them all.
  constexpr int kSomeIcon = 3000;
  for (const auto& [tag, pattern] :
       {std::pair{"FSEP", &settings.FSEP}, std::pair{"FPCX", &settings.FPCX},
        std::pair{"FLBM", &settings.FLBM}, std::pair{"FWAV", &settings.FWAV},
        std::pair{"FPNG", &settings.FPNG}}) {
    Name stamped = *pattern;
    if (stamped[0] != '\0' && !StampIconNumber(kSomeIcon, stamped)) {
      return Formatted(kIconPatternShortFormat, tag, EscapeControls(pattern->data()));
    }
  }
  Name block = settings.FBLK;
  if (block[0] != '\0' && !StampBlockNumber(0, block)) {
    return Formatted(kBlockPatternShortFormat, "FBLK", EscapeControls(settings.FBLK.data()));
  }
  return std::nullopt;
}

std::optional<std::string> NameControlRefusal(const ProjectSettings& settings) {
  for (const auto& [tag, name] :
       {std::pair{"FCOL", &settings.FCOL}, std::pair{"FSEP", &settings.FSEP},
        std::pair{"FCOO", &settings.FCOO}, std::pair{"FOFS", &settings.FOFS},
        std::pair{"FBLK", &settings.FBLK}, std::pair{"FPCX", &settings.FPCX},
        std::pair{"FWAV", &settings.FWAV}, std::pair{"FLBM", &settings.FLBM},
        std::pair{"FPNG", &settings.FPNG}}) {
    const std::string_view text(name->data(), strnlen(name->data(), name->size()));
    if (std::none_of(text.begin(), text.end(), IsControlByte)) continue;
    const bool line_end = text.find_first_of("\r\n") != std::string_view::npos;
    return Formatted(line_end ? kNameOverLineEndFormat : kNameControlFormat, tag,
                     EscapeControls(text));
  }
  return std::nullopt;
}

std::optional<std::string> ProjectRefusal(const ProjectSettings& parsed,
                                          const InfoTextReport& report,
                                          std::string_view project_name, int last_icon) {
  if (const auto missing = MissingProjectPart(report)) {
    return std::string(project_name) + " is not a project info file: " + *missing +
           ". Nothing was done.";
  }
  if (auto refusal = NameControlRefusal(parsed)) return refusal;
  if (auto refusal = PatternRoomRefusal(parsed)) return refusal;
  if (auto refusal = ValidateProject(parsed, &report)) return refusal;
  // Icons at or above NSIZ would be written into their blocks but never recorded.
  if (parsed.NSIZ <= last_icon) {
    return "The project cannot be used: NSIZ is " + std::to_string(parsed.NSIZ) +
           ", but the commands cover icons up to " + std::to_string(last_icon) +
           ", so it must be at least " + std::to_string(last_icon + 1) + ".";
  }
  if (auto clash = FindNameClash(parsed, project_name)) return clash;
  return FindRecoveryFileClash(parsed, project_name);
}

}  // namespace zemlo
