// The texts of "zgl help TOPIC" that are not a command's own help.
#pragma once

#include <string_view>

namespace zemlo::console {

// What is read and what is written, for "zgl help formats" (the README says the same).
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

}  // namespace zemlo::console
