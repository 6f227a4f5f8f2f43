// Small generated projects for the end-to-end tests: sources made with the PCX writer or
// byte by byte (IFF, WAV), an info file, and the run, loading and checking steps called the
// way the commands call them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/store_messages.h"
#include "core/working_state.h"
#include "files/file_layer.h"
#include "library/codec/icon_encoder.h"
#include "library/run/create/creation_run.h"
#include "library/run/entry_loading.h"
#include "library/store/block_store.h"
#include "library/store/tables.h"
#include "library/store/tables_io.h"
#include "picture/pcx_writer.h"
#include "project/info_parser.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"

namespace zemlo::testing {

using Picture = std::vector<std::uint8_t>;

inline Picture BlackPicture() { return Picture(kPictureBytes, 0); }

inline void SetPixel(Picture& p, int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  const std::size_t at = (static_cast<std::size_t>(y) * kPictureWidth + x) * 3;
  p[at] = b;
  p[at + 1] = g;
  p[at + 2] = r;
}

// A solid block whose colours vary with position and `seed`; every blue byte is non-zero,
// so each row has one transition: "Unmasked".
inline void FillBlock(Picture& p, int left, int top, int width, int height, int seed) {
  for (int y = top; y < top + height; ++y) {
    for (int x = left; x < left + width; ++x) {
      SetPixel(p, x, y, static_cast<std::uint8_t>(1 + (x * 7 + seed) % 250),
               static_cast<std::uint8_t>((y * 5 + seed * 3) % 256),
               static_cast<std::uint8_t>((x + y + seed) % 256));
    }
  }
}

inline Picture UnmaskedShape(int seed, int left = 100, int top = 50, int width = 40,
                             int height = 30) {
  Picture p = BlackPicture();
  FillBlock(p, left, top, width, height, seed);
  return p;
}

// Two blocks side by side with a gap: three transitions a row, "X-masked".
inline Picture XMaskedShape(int seed, int left = 200, int top = 120) {
  Picture p = BlackPicture();
  FillBlock(p, left, top, 20, 25, seed);
  FillBlock(p, left + 35, top + 5, 15, 10, seed + 1);
  return p;
}

// Vertical stripes: many transitions a row, "0-masked".
inline Picture ZeroMaskedShape(int seed, int left = 300, int top = 200) {
  Picture p = BlackPicture();
  for (int stripe = 0; stripe < 5; ++stripe) FillBlock(p, left + stripe * 6, top, 3, 20, seed);
  return p;
}

// A picture of more than 500,000 entry bytes: 800 x 300 unmasked pixels.
inline Picture HugeShape(int seed) {
  Picture p = BlackPicture();
  FillBlock(p, 0, 100, kPictureWidth, 300, seed);
  return p;
}

inline std::vector<std::uint8_t> PcxBytes(const Picture& picture) {
  std::vector<std::uint8_t> out(kPcxMaxSize);
  const std::size_t length = EncodePcx(picture, out);
  out.resize(length);
  return out;
}

inline void PutBigEndian32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}
inline void PutLittleEndian32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}
inline void PutText(std::vector<std::uint8_t>& b, const char* text) {
  b.insert(b.end(), text, text + std::char_traits<char>::length(text));
}

// An uncompressed chunky ("PBM ") IFF picture of width x height indices, with the palette
// entry i = (red, green, blue) = (i, 255 - i, i / 2 + 1) except entry 0, black. Sets
// `expected` to the working picture the reader should make of it.
inline std::vector<std::uint8_t> ChunkyIff(int width, int height, int seed, Picture& expected) {
  std::vector<std::uint8_t> palette(768, 0);
  for (int i = 1; i < 256; ++i) {
    palette[3 * i] = static_cast<std::uint8_t>(i);
    palette[3 * i + 1] = static_cast<std::uint8_t>(255 - i);
    palette[3 * i + 2] = static_cast<std::uint8_t>(i / 2 + 1);
  }
  std::vector<std::uint8_t> body(static_cast<std::size_t>(width) * height, 0);
  expected = BlackPicture();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      // A ring: index 0 (black) outside and in the middle.
      const int dx = x - width / 2, dy = y - height / 2;
      const int d2 = dx * dx + dy * dy;
      const int r = std::min(width, height) / 2;
      std::uint8_t index = 0;
      if (d2 < r * r && d2 > r * r / 9) index = static_cast<std::uint8_t>(1 + (x + y + seed) % 255);
      body[static_cast<std::size_t>(y) * width + x] = index;
      if (index != 0) {
        SetPixel(expected, x, y, palette[3 * index + 2], palette[3 * index + 1],
                 palette[3 * index]);
      }
    }
  }
  std::vector<std::uint8_t> b;
  PutText(b, "FORM");
  PutBigEndian32(b, 0);  // sizes are not consulted
  PutText(b, "PBM BMHD");
  PutBigEndian32(b, 20);
  b.push_back(static_cast<std::uint8_t>(width >> 8));
  b.push_back(static_cast<std::uint8_t>(width));
  b.push_back(static_cast<std::uint8_t>(height >> 8));
  b.push_back(static_cast<std::uint8_t>(height));
  for (int i = 0; i < 16; ++i) b.push_back(i == 4 ? 8 : 0);  // 8 planes, no compression
  PutText(b, "CMAP");
  PutBigEndian32(b, 768);
  b.insert(b.end(), palette.begin(), palette.end());
  PutText(b, "BODY");
  PutBigEndian32(b, static_cast<std::uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

inline std::vector<std::uint8_t> WavBytes(const std::vector<std::uint8_t>& samples) {
  std::vector<std::uint8_t> b;
  PutText(b, "RIFF");
  PutLittleEndian32(b, static_cast<std::uint32_t>(36 + samples.size()));
  PutText(b, "WAVEfmt ");
  PutLittleEndian32(b, 16);
  for (std::uint8_t v : {1, 0, 1, 0, 0x11, 0x2B, 0, 0, 0x11, 0x2B, 0, 0, 1, 0, 8, 0})
    b.push_back(v);
  PutText(b, "data");
  PutLittleEndian32(b, static_cast<std::uint32_t>(samples.size()));
  b.insert(b.end(), samples.begin(), samples.end());
  return b;
}

struct ProjectOptions {
  int dblk = 3;
  int dpak = 0;
  int darc = 0;
  int dvie = 0;
  int blkb = 100;
  int nsiz = 5100;
};

// A library project in a fresh folder that is the current directory for the test.
class TestLibrary {
 public:
  explicit TestLibrary(const ProjectOptions& options = {}) {
    for (const char* sub : {"pcx", "lbm", "wav", "sep", "blk"}) {
      std::filesystem::create_directories(dir.path() / sub);
    }
    SetOptions(options);
  }

  // Writes the info file and parses it into fresh default settings.
  void SetOptions(const ProjectOptions& options) {
    const std::string text =
        " test project\n"
        "FSEP sep\\s0_0_0_0.zgi \n"
        "FCOO coords.dat \n"
        "FOFS offsets.dat \n"
        "FBLK blk\\b00.blk \n"
        "FPCX pcx\\p0_0_0_0.pcx \n"
        "FLBM lbm\\i0_0_0_0.lbm \n"
        "FWAV wav\\w0_0_0_0.wav \n"
        "NSIZ " +
        std::to_string(options.nsiz) +
        "\n"
        "BLKB " +
        std::to_string(options.blkb) +
        "\n"
        "DBLK " +
        std::to_string(options.dblk) +
        "\n"
        "DPAK " +
        std::to_string(options.dpak) +
        "\n"
        "DARC " +
        std::to_string(options.darc) +
        "\n"
        "DVIE " +
        std::to_string(options.dvie) + "\n";
    WriteFileBytes(dir.path() / "project.zgl", {text.begin(), text.end()});
    settings = ProjectSettings{};
    ParseInfoText(text.c_str(), settings);
  }

  // Copies a whole project (sources, info file) into the folder and parses its info file.
  void CopyProject(const std::filesystem::path& from, const char* info_name) {
    CopyFolderInto(from, dir.path());
    const auto bytes = ReadFileBytes(dir.path() / info_name);
    const std::string text(bytes.begin(), bytes.end());
    settings = ProjectSettings{};
    ParseInfoText(text.c_str(), settings);
  }

  static std::string Stamp(const char* prefix, int icon, const char* extension) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%d_%d_%d_%d.%s", prefix, icon / 1000 % 10, icon / 100 % 10,
                  icon / 10 % 10, icon % 10, extension);
    return name;
  }
  std::filesystem::path PcxPath(int icon) const { return dir.path() / Stamp("pcx/p", icon, "pcx"); }
  std::filesystem::path IffPath(int icon) const { return dir.path() / Stamp("lbm/i", icon, "lbm"); }
  std::filesystem::path WavPath(int icon) const { return dir.path() / Stamp("wav/w", icon, "wav"); }
  std::filesystem::path SinglePath(int icon) const {
    return dir.path() / Stamp("sep/s", icon, "zgi");
  }
  std::filesystem::path BlockPath(int block) const {
    // Tens from 10 on continue after "9" with "A" (and on to lower case for blocks >= 420).
    const int tens = block / 10;
    const char tens_char = static_cast<char>('0' + tens + (tens > 9 ? 7 : 0));
    char name[32];
    std::snprintf(name, sizeof name, "blk/b%c%d.blk", tens_char, block % 10);
    return dir.path() / name;
  }

  void AddPcx(int icon, const Picture& picture) {
    WriteFileBytes(PcxPath(icon), PcxBytes(picture));
  }

  // The run as "Create ZGL" starts it: coordinates read (or zeroed), the range, the loop.
  // What it counted is in `tally`.
  void Run(int first = 3000, int last = 4999) {
    if (!ReadCoordinatesFile(settings, state)) ClearCoordinates(state);
    settings.DSTA = first;
    settings.DEND = last;
    state.current_icon = first;
    tally = RunTally{};
    CreationRun(store, &tally);
  }

  // The entry of `icon` as the block layout on disk holds it.
  std::vector<std::uint8_t> BlockEntry(int icon) const {
    const auto offsets_file = ReadFileBytes(dir.path() / "offsets.dat");
    if (offsets_file.size() < static_cast<std::size_t>(icon + 1) * 8) return {};
    std::vector<std::uint8_t> table = offsets_file;
    table.resize(kOffsetsTableSize, 0);
    const OffsetsTable offsets(table);
    const auto block = ReadFileBytes(BlockPath(icon / settings.BLKB));
    const auto offset = static_cast<std::size_t>(offsets.offset(icon));
    const auto length = static_cast<std::size_t>(offsets.length(icon));
    if (length == 0 || offset + length > block.size()) return {};
    return {block.begin() + static_cast<std::ptrdiff_t>(offset),
            block.begin() + static_cast<std::ptrdiff_t>(offset + length)};
  }

  // Loads `icon` as the viewer does and returns the working picture.
  Picture Load(int icon) {
    LoadEntry(icon, settings, state);
    const auto picture = state.Picture();
    return {picture.begin(), picture.end()};
  }

  bool Exists(const std::string& name) const { return std::filesystem::exists(dir.path() / name); }

  TempDir dir;
  ScopedCurrentDir current{dir.path()};
  RecordingPort port;
  WorkingState state{port};
  ProjectSettings settings;
  // The store's problems become the window's boxes, as in a session.
  StoreContext store{
      settings, state, {},
      false,    1,     [this](const StoreProblem& problem) { ShowStoreProblem(port, problem); }};
  RunTally tally;
};

// Wine reports every regular file with the archive attribute set, whatever was set.
// Adds lines to the info file the command reads (the parsed settings stay as they were).
inline void AppendToInfo(const TestLibrary& lib, const std::string& more) {
  auto text = ReadFileBytes(lib.dir.path() / "project.zgl");
  text.insert(text.end(), more.begin(), more.end());
  WriteFileBytes(lib.dir.path() / "project.zgl", text);
}

inline bool ArchiveAttributeCanBeCleared(const TestLibrary& lib) {
  const std::string probe = (lib.dir.path() / "probe").string();
  WriteFileBytes(probe, {1});
  const bool cleared =
      files::SetAttributesNormal(probe.c_str()) && !files::ArchiveAttributeSet(probe.c_str());
  std::filesystem::remove(probe);
  return cleared;
}

// What the viewer should show for a source picture of `icon`: smoothed where the icon is.
inline Picture Expected(int icon, Picture source) {
  if (IsSmoothed(icon)) SmoothColours(source);
  return source;
}

// Offsets records of one block lie back to back from 0 in icon order.
inline ::testing::AssertionResult BlockIsContiguous(const OffsetsTable& offsets, int block,
                                                    int icons_per_block) {
  std::int32_t position = 0;
  for (int n = block * icons_per_block; n < (block + 1) * icons_per_block; ++n) {
    if (offsets.length(n) == 0) {
      if (offsets.offset(n) != 0) return ::testing::AssertionFailure() << "icon " << n;
      continue;
    }
    if (offsets.offset(n) != position) {
      return ::testing::AssertionFailure()
             << "icon " << n << " at " << offsets.offset(n) << ", expected " << position;
    }
    position += offsets.length(n);
  }
  return ::testing::AssertionSuccess();
}

inline std::vector<std::uint8_t> OffsetsOnDisk(const TestLibrary& lib) {
  auto table = ReadFileBytes(lib.dir.path() / "offsets.dat");
  table.resize(kOffsetsTableSize, 0);
  return table;
}

}  // namespace zemlo::testing
