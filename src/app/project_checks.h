// Projects that cannot work are refused before anything is touched. Part of that is about the
// files a project names, compared the way the file layer finds files: "\" and "/" alike,
// letter case ignored, "." and ".." folded. Two names that compare equal here can reach the
// same file on some platform, so the commands treat them as one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "project/info_parser.h"
#include "project/project_settings.h"

namespace zemlo {

// A refusal text when the project would write one file for two purposes: two of its outputs
// (FSEP and FBLK stamped, FCOO, FOFS, the temporary block file BLTEMP, the project info file
// `project_name` itself) name the same file, or a source pattern (FPCX, FLBM, FWAV, FPNG) names an
// output, which a run would overwrite while reading it. Patterns are stamped for every icon
// and block the tables hold (NSIZ). nullopt when every file has one purpose.
std::optional<std::string> FindNameClash(const ProjectSettings& settings,
                                         std::string_view project_name);

// A refusal text when the project info file `project_name` or a file the project writes
// (FOFS, FCOO, FBLK and FSEP stamped for every block and icon NSIZ covers) is BLTEMP, the
// record BLTEMP.REC of a block rewrite, or that record's temporary: the recovery of an
// interrupted rewrite moves and removes those files. nullopt when none is.
std::optional<std::string> FindRecoveryFileClash(const ProjectSettings& settings,
                                                 std::string_view project_name);

// What `path` is to the project whose folder is the current directory: "the offsets file
// (FOFS)" and the like, when it names one of the outputs above or the project info file, by
// name or (where it exists) as the same file under another name. nullopt otherwise.
std::optional<std::string> ProjectFileAt(const ProjectSettings& settings,
                                         std::string_view project_name, std::string_view path);

// A refusal text when a name the project gives (FCOL, FSEP, FCOO, FOFS, FBLK, FPCX, FWAV,
// FLBM, FPNG) holds a control character, the name shown escaped. A name ends at a blank, not at a
// line end, so a name whose blank an editor stripped runs on into the next line; the text
// says so. Such names would reach files no one meant and terminals as commands. nullopt when
// every name is plain.
std::optional<std::string> NameControlRefusal(const ProjectSettings& settings);

// A refusal text when a name pattern (FSEP, FPCX, FLBM, FWAV, FPNG for the icon number, FBLK
// for the block number) is too short to take its number: every name stamped from it would be
// empty, so nothing would be written or found. nullopt when every pattern has room.
std::optional<std::string> PatternRoomRefusal(const ProjectSettings& settings);

// Everything the commands refuse a freshly parsed project for, in this order: a text that is
// no project info file, names holding control characters (NameControlRefusal), patterns
// without room for their numbers (PatternRoomRefusal), values that
// cannot work (ValidateProject with the report), an NSIZ too small for the icons the commands
// cover (`last_icon`), a name clash, and a file that the recovery of an interrupted block
// rewrite owns (FindRecoveryFileClash). The text to
// show, or nullopt for a usable project. `project_name` is the info file's name in its folder.
std::optional<std::string> ProjectRefusal(const ProjectSettings& parsed,
                                          const InfoTextReport& report,
                                          std::string_view project_name, int last_icon);

}  // namespace zemlo
