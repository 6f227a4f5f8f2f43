// What the deep verification tests share: the library they build (every mask kind, an
// all-black picture and a sound, in three blocks), a fixture that damages it by hand, and
// the findings counted (support/verify_findings.h).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "library/run/check/deep_verify.h"
#include "library/store/checksum_file.h"
#include "support/run_project.h"
#include "support/verify_findings.h"

namespace zemlo::testing {

struct Recorder : VerifyObserver {
  void IconVerified(const VerifiedIcon& icon, std::span<const std::uint8_t> picture) override {
    icons[icon.icon] = icon;
    if (icon.drawn) pictures[icon.icon].assign(picture.begin(), picture.end());
  }
  std::map<int, VerifiedIcon> icons;
  std::map<int, Picture> pictures;
};

// Records up to the sound numbers.
constexpr int kRecords = 9100;
inline const std::vector<std::uint8_t> kSamples = {1, 2, 3, 250, 128, 0, 7};

// Every mask kind, smoothed and not, an all-black picture and a sound, in three blocks.
inline std::map<int, Picture> Sources() {
  return {{3000, UnmaskedShape(1)},
          {3001, XMaskedShape(2)},
          {3005, ZeroMaskedShape(3)},
          {3010, BlackPicture()},
          {3099, UnmaskedShape(4, 0, 0, 800, 2)},
          {4011, XMaskedShape(6)}};
}

// These cases are about what verify sees without a checksum file (a library made before it
// had one): the run's is removed.
inline void Build(TestLibrary& lib) {
  for (const auto& [icon, picture] : Sources()) lib.AddPcx(icon, picture);
  WriteFileBytes(lib.WavPath(9000), WavBytes(kSamples));
  lib.Run();
  lib.Run(9000, 9001);
  const auto sums = ChecksumFileName(lib.settings);
  ASSERT_TRUE(sums);
  std::filesystem::remove(lib.dir.path() / sums->data());
}

inline VerifyOutcome Verify(TestLibrary& lib, VerifyObserver* observer = nullptr) {
  return DeepVerify(lib.settings, lib.state, observer);
}

// A library of both layouts made by the run, then damaged by hand.
class VerifyDamage : public ::testing::Test {
 protected:
  void Make(int dpak, int dblk = 3) {
    lib.SetOptions({.dblk = dblk, .dpak = dpak, .nsiz = kRecords});
    Build(lib);
  }
  std::vector<std::uint8_t> Offsets() { return OffsetsOnDisk(lib); }
  void SaveOffsets(std::vector<std::uint8_t> table) {
    table.resize(kRecords * 8);
    WriteFileBytes(lib.dir.path() / "offsets.dat", table);
  }
  // Changes byte `at` of `icon`'s entry inside its block file.
  void ChangeInBlock(int icon, std::size_t at, std::uint8_t (*change)(std::uint8_t)) {
    auto table = Offsets();
    const OffsetsTable offsets(table);
    auto block = ReadFileBytes(lib.BlockPath(icon / 100));
    auto& byte = block.at(static_cast<std::size_t>(offsets.offset(icon)) + at);
    byte = change(byte);
    WriteFileBytes(lib.BlockPath(icon / 100), block);
  }
  // Cuts `count` bytes out of `icon`'s entry inside its block file, from its byte `at` on.
  void CutFromBlock(int icon, std::size_t at, std::size_t count) {
    auto table = Offsets();
    const OffsetsTable offsets(table);
    auto block = ReadFileBytes(lib.BlockPath(icon / 100));
    const auto from = block.begin() + offsets.offset(icon) + static_cast<std::ptrdiff_t>(at);
    block.erase(from, from + static_cast<std::ptrdiff_t>(count));
    WriteFileBytes(lib.BlockPath(icon / 100), block);
  }
  void SetCoordinates(int icon, CoordinatesRecord record) {
    auto bytes = ReadFileBytes(lib.dir.path() / "coords.dat");
    CoordinatesTable(std::span(bytes).first(bytes.size())).Set(icon, record);
    WriteFileBytes(lib.dir.path() / "coords.dat", bytes);
  }
  CoordinatesRecord Record(int icon) {
    auto bytes = ReadFileBytes(lib.dir.path() / "coords.dat");
    bytes.resize(kCoordinatesTableSize);
    return CoordinatesTable(bytes).Get(icon);
  }

  TestLibrary lib;
};

}  // namespace zemlo::testing
