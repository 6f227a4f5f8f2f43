// What a project info file sets, with the start-up defaults. Settings keep their values until
// a later info file assigns them again.
#pragma once

#include <array>
#include <cstdint>

namespace zemlo {

// Names are zero-terminated in fixed buffers: at most 259 characters.
inline constexpr std::size_t kNameSize = 260;
using Name = std::array<char, kNameSize>;

struct ProjectSettings {
  std::int32_t SXSZ = 800;  // kept, read by no operation
  std::int32_t SYSZ = 600;  // kept, read by no operation
  std::int32_t SBPP = 1;    // kept, read by no operation
  Name FCOL{};              // kept, read by no operation
  Name FSEP{};              // single entry file pattern (icon number stamped in)
  Name FCOO{};              // coordinates file
  Name FOFS{};              // offsets file
  Name FBLK{};              // block file pattern (block number stamped in)
  Name FPCX{};              // PCX source pattern
  Name FWAV{};              // WAV source pattern
  Name FLBM{};              // IFF source pattern
  Name FPNG{};              // PNG source pattern, taken where neither PCX nor IFF exists
  std::int32_t NSIZ = 20000;
  std::int32_t BLKB = 100;
  std::int32_t DSTA = 0;
  std::int32_t DEND = 5000;
  std::uint8_t DVIE = 0;  // 0 no view, 1 fast, 2 detailed, 3 as fast
  std::uint8_t DBLK = 0;  // bit 0 single entry files, bit 1 block files
  std::uint8_t DARC = 0;  // 1: archive test on
  std::uint8_t DPAK = 0;  // 0 none, 1 entries over 500000 bytes, 2 every entry, 3 none
};

inline bool SingleFilesOn(const ProjectSettings& s) { return (s.DBLK & 1) != 0; }
inline bool BlockFilesOn(const ProjectSettings& s) { return (s.DBLK & 2) != 0; }

}  // namespace zemlo
