#include "app/project_listing.h"

#include <cstdint>

#include "app/commands.h"
#include "library/run/create/creation_run.h"
#include "library/store/stamping.h"

namespace zemlo {
namespace {

std::string NameOf(const Name& name) { return name[0] == '\0' ? "-" : std::string(name.data()); }

// "s3_0_0_0.zgi for icon 3000", or why no name can be stamped from `pattern`.
std::string IconExample(const Name& pattern, int icon, const char* what = "icon") {
  if (pattern[0] == '\0') return "not given";
  Name stamped = pattern;
  if (!StampIconNumber(icon, stamped)) {
    return "too short to take an icon number (7 places before the first \".\")";
  }
  return std::string(stamped.data()) + " for " + what + " " + std::to_string(icon);
}

std::string BlockExample(const Name& pattern, int icon, std::int32_t per_block) {
  if (pattern[0] == '\0') return "not given";
  if (per_block < 1) return "no block files while BLKB is below 1";
  const int block = icon / per_block;
  Name stamped = pattern;
  if (!StampBlockNumber(block, stamped)) {
    return "too short to take a block number (2 places before the first \".\")";
  }
  return std::string(stamped.data()) + " holds icon " + std::to_string(icon);
}

std::string Outputs(std::uint8_t dblk) {
  const bool single = (dblk & 1) != 0;
  const bool blocks = (dblk & 2) != 0;
  if (single && blocks) return "single entry files and block files are written";
  if (single) return "single entry files are written, no block files";
  if (blocks) return "block files are written, no single entry files";
  return "neither single entry files nor block files are written";
}

std::string Packing(std::uint8_t dpak) {
  if (PacksEntry(dpak, 0)) return "every entry is packed";
  if (PacksEntry(dpak, kPackThreshold + 1)) {
    return "entries over " + std::to_string(kPackThreshold) + " bytes are packed";
  }
  return "no entry is packed";
}

std::string View(std::uint8_t dvie) {
  if (dvie == 0) return "the window shows nothing while it creates";
  if (dvie == 2) return "the window shows each icon in detail while it creates";
  return "the window shows each icon quickly while it creates";
}

}  // namespace

std::vector<SettingLine> ListSettings(const ProjectSettings& s, const InfoTextReport& report) {
  std::vector<SettingLine> lines;
  const auto add = [&lines, &report](std::string tag, std::string value, std::string meaning) {
    const bool given = report.Find(tag) != nullptr;
    lines.push_back({std::move(tag), std::move(value), given, std::move(meaning)});
  };
  const auto number = [](std::int32_t value) { return std::to_string(value); };
  const auto unused = std::string("read and kept; no command uses it");
  const std::string not_written =
      SingleFilesOn(s) ? "" : " (not written: DBLK " + number(s.DBLK) + ")";
  const std::string no_blocks =
      BlockFilesOn(s) ? "" : " (not written: DBLK " + number(s.DBLK) + ")";

  add("FSEP", NameOf(s.FSEP),
      "single entry files: " + IconExample(s.FSEP, kRunStart) + not_written);
  add("FCOO", NameOf(s.FCOO), "the coordinates file");
  add("FOFS", NameOf(s.FOFS), "the offsets file");
  add("FBLK", NameOf(s.FBLK),
      "block files: " + BlockExample(s.FBLK, kRunStart, s.BLKB) + no_blocks);
  add("FPCX", NameOf(s.FPCX), "PCX sources: " + IconExample(s.FPCX, kRunStart));
  add("FLBM", NameOf(s.FLBM),
      "IFF sources, where there is no PCX: " + IconExample(s.FLBM, kRunStart));
  add("FPNG", NameOf(s.FPNG),
      "PNG sources, where there is neither: " + IconExample(s.FPNG, kRunStart));
  // Sounds are numbered 9000 to 9999, beyond the icons a run covers.
  add("FWAV", NameOf(s.FWAV),
      "WAV sounds: " + IconExample(s.FWAV, 9000, "sound") +
          "; runs cover the icons 3000 to 4999 only");
  add("NSIZ", number(s.NSIZ), "entries of the offsets and coordinates files");
  add("BLKB", number(s.BLKB), "icons per block file");
  add("DBLK", number(s.DBLK), Outputs(s.DBLK));
  add("DPAK", number(s.DPAK), Packing(s.DPAK));
  add("DARC", number(s.DARC),
      s.DARC != 0 ? "a source whose archive attribute is clear is skipped when every output "
                    "has its entry"
                  : "every source is converted again on every run");
  add("DVIE", number(s.DVIE), View(s.DVIE));
  add("DSTA", number(s.DSTA), unused);
  add("DEND", number(s.DEND), unused);
  add("SXSZ", number(s.SXSZ), unused);
  add("SYSZ", number(s.SYSZ), unused);
  add("SBPP", number(s.SBPP), unused);
  add("FCOL", NameOf(s.FCOL), unused);
  return lines;
}

}  // namespace zemlo
