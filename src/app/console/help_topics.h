// The texts of "zgl help TOPIC" that are not a command's own help.
#pragma once

#include <string_view>

namespace zemlo::console {

// What is read and what is written, for "zgl help formats" (docs/formats.md says the same at
// length).
inline constexpr std::string_view kFormatsHelp =
    "What zgl reads\n"
    "  An icon number n is stamped into the source patterns of the project file; for a\n"
    "  picture number the first of these that exists is its source:\n"
    "  FPCX  PCX pictures, run-length encoded: 24-bit (three planes of 8 bits), 8-bit with\n"
    "        the 256-colour palette at the end, 4-bit (one plane of 4 bits or four planes\n"
    "        of 1 bit) and 1-bit, each in its true colours; other kinds are refused.\n"
    "  FLBM  IFF pictures of up to 256 colours: bit-planes (ILBM) or one byte per pixel\n"
    "        (PBM), uncompressed or ByteRun1.\n"
    "  FPNG  PNG pictures, taken only where neither a PCX nor an IFF picture exists: grey,\n"
    "        grey with alpha, palette (with or without transparency), RGB and RGBA, 1 to 16\n"
    "        bits, interlaced or not, at most 800 x 600 pixels and 4 MiB. The PNG is the\n"
    "        whole icon: its pixels go to the top left, the rest is black; alpha below 128\n"
    "        becomes black, and 16-bit samples keep their high byte.\n"
    "  FWAV  WAV sounds, for the numbers 9000 to 9999.\n"
    "  In every picture, pure black (0, 0, 0) is transparent: the game does not draw it.\n"
    "  Pictures larger than 800 x 600: PCX and IFF are cut at the edges, PNG is refused.\n"
    "  A source that cannot be read is refused with its reason, and the icon keeps the\n"
    "  entry it had.\n"
    "\n"
    "What zgl writes\n"
    "  create  the library: block files (FBLK), offsets (FOFS), coordinates (FCOO) and\n"
    "          single entry files (FSEP), as DBLK asks\n"
    "  show    24-bit PCX files, or PNG files with --format png (--alpha makes the black\n"
    "          of masked icons transparent)\n"
    "  save    one icon as a 24-bit PCX file, or as PNG when OUT ends in .png\n"
    "  report  a folder with index.html and one PNG file per picture icon\n"
    "  font    a font file, from a PCX picture of characters\n";

// Every tag of a project file, for "zgl help tags".
inline constexpr std::string_view kTagsHelp =
    "A project file (*.zgl) is plain text of four-letter tags, each followed by exactly one\n"
    "blank and its value. Text that is no tag is ignored, so comments may stand anywhere, but\n"
    "the four letters of a tag are taken as the tag wherever they stand, and a tag in the\n"
    "file's very first bytes is not seen (start with a blank or a comment line). A name ends\n"
    "at the first blank or tab, not at the line end: end every name with a blank. A tag given\n"
    "twice takes its last value. Names are relative to the project file's folder.\n"
    "\n"
    "  tag   meaning                                        values             default\n"
    "  FSEP  single entry file of each icon (pattern)        a name pattern     none\n"
    "  FCOO  coordinates file                               a name             none\n"
    "  FOFS  offsets file                                   a name             none\n"
    "  FBLK  block file of each block (pattern)             a name pattern     none\n"
    "  FPCX  PCX source of each picture icon (pattern)      a name pattern     none\n"
    "  FLBM  IFF source, where there is no PCX (pattern)    a name pattern     none\n"
    "  FPNG  PNG source, where there is neither (pattern)   a name pattern     none\n"
    "  FWAV  WAV source of each sound icon (pattern)        a name pattern     none\n"
    "  NSIZ  entries of the offsets and coordinates files   5000 to 20000      20000\n"
    "  BLKB  icons per block file                           1 and more         100\n"
    "  DBLK  outputs: 1 single entry files, 2 block files,  0 to 3             0\n"
    "        3 both\n"
    "  DPAK  packing: 0 none, 1 entries over 500000 bytes,   0 to 3             0\n"
    "        2 every entry, 3 none\n"
    "  DARC  1: a source whose archive attribute is clear   0 or 1             0\n"
    "        is skipped when every output has its entry\n"
    "  DVIE  the window's view while it creates: 0 none,    0 to 3             0\n"
    "        1 fast, 2 detailed, 3 as fast\n"
    "  DSTA, DEND, SXSZ, SYSZ, SBPP, FCOL  read and kept; the commands do not use them (a\n"
    "        run always covers the icons 3000 to 4999)\n"
    "\n"
    "Patterns: an icon number is stamped into the 7th, 5th, 3rd and 1st character before the\n"
    "name's first \".\" (thousands, hundreds, tens, units; \"s0_0_0_0.zgi\" names s3_0_0_1.zgi\n"
    "for icon 3001); a block number into the 2nd and 1st (\"demo00.blk\" names demo30.blk for\n"
    "block 30).\n";

// What each command's exit status means, for its own help and for "zgl help exit".
inline constexpr std::string_view kRunExitHelp =
    "Exit status: 0 done without a warning, 1 a warning was shown or the command refused or\n"
    "could not run, 2 usage error, 130 stopped by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP\n"
    "(always after the icon in hand, with the library whole).";
inline constexpr std::string_view kShowExitHelp =
    "Exit status: 0 done without a warning, 1 a warning, a refusal (a file in the way) or an\n"
    "entry that could not be loaded, 2 usage error, 130 stopped by Ctrl-C, 143 by SIGTERM, 129\n"
    "by SIGHUP.";
inline constexpr std::string_view kSaveExitHelp =
    "Exit status: 0 saved, 1 nothing saved (a warning or a refusal), 2 usage error.";
inline constexpr std::string_view kFontExitHelp =
    "PICTURE and FONT are named from where zgl starts.\n"
    "Exit status: 0 built and saved, 1 nothing saved (a warning or a refusal), 2 usage error.";
inline constexpr std::string_view kVerifyExitHelp =
    "Exit status: 0 no findings, 1 findings or a library that could not be read (for report\n"
    "also a file of the report that could not be written), 2 usage error, 130 stopped by\n"
    "Ctrl-C, 143 by SIGTERM, 129 by SIGHUP.";
inline constexpr std::string_view kRepairExitHelp =
    "Exit status: 0 nothing left to repair (a verification afterwards finds nothing), 1 an\n"
    "icon left as it is, a finding that remains, or a library that could not be read or\n"
    "written, 2 usage error, 130 stopped by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP.";
inline constexpr std::string_view kLintExitHelp =
    "Exit status: 0 the project can be used as it is, 1 a warning (the project would be\n"
    "refused, or a word looks like a tag but is none) or the file could not be read, 2 usage\n"
    "error.";
inline constexpr std::string_view kHelpExitHelp =
    "Exit status: 0, or 2 for a topic or command that does not exist.";

// The exit statuses of `command`, as its help ends; empty for a name that is no command.
inline std::string_view CommandExitHelp(std::string_view command) {
  if (command == "create" || command == "check") return kRunExitHelp;
  if (command == "show") return kShowExitHelp;
  if (command == "save") return kSaveExitHelp;
  if (command == "font") return kFontExitHelp;
  if (command == "verify" || command == "report") return kVerifyExitHelp;
  if (command == "repair") return kRepairExitHelp;
  if (command == "lint") return kLintExitHelp;
  if (command == "help") return kHelpExitHelp;
  return {};
}

}  // namespace zemlo::console
