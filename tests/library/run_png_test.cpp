// PNG sources in a creation run: where they stand among PCX and IFF sources, their titles and
// warnings, and the library they make, which must be the one their PCX twins make.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "library/run/create/creation_run.h"
#include "picture/pcx_reader.h"
#include "support/folder_snapshot.h"
#include "support/library_files.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPngPattern = " FPNG png\\q0_0_0_0.png \n";

// The project of TestLibrary with PNG sources in png/.
void AddPngPattern(TestLibrary& lib) {
  fs::create_directories(lib.dir.path() / "png");
  AppendToInfo(lib, kPngPattern);
  ParseInfoText(kPngPattern, lib.settings);
}

fs::path PngPath(const TestLibrary& lib, int icon) {
  return lib.dir.path() / TestLibrary::Stamp("png/q", icon, "png");
}

// The working picture a good PNG fixture makes: its PCX twin over black.
Picture TwinPicture(const std::string& fixture) {
  Picture picture = BlackPicture();
  EXPECT_TRUE(DecodePcx(ReadFileBytes(DataDir() / "png/good" / (fixture + ".pcx")), picture));
  return picture;
}

void CopyFixture(const std::string& from, const fs::path& to) {
  WriteFileBytes(to, ReadFileBytes(DataDir() / from));
}

TEST(RunPng, PcxComesBeforeIffAndIffBeforePngForAnyJobs) {
  for (const int jobs : {1, 3}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    TestLibrary lib;
    lib.store.jobs = jobs;
    AddPngPattern(lib);
    const std::string png = "png/good/imagemagick_rgb8_37x23.png";
    Picture from_iff, unused;
    // 3000: all three; 3001: IFF and PNG; 3002: PNG only; 3003: none.
    lib.AddPcx(3000, UnmaskedShape(4));
    WriteFileBytes(lib.IffPath(3000), ChunkyIff(320, 200, 1, unused));
    CopyFixture(png, PngPath(lib, 3000));
    WriteFileBytes(lib.IffPath(3001), ChunkyIff(320, 200, 2, from_iff));
    CopyFixture(png, PngPath(lib, 3001));
    CopyFixture(png, PngPath(lib, 3002));
    lib.Run(3000, 3003);

    EXPECT_TRUE(lib.port.messages.empty());
    EXPECT_TRUE(lib.Load(3000) == UnmaskedShape(4));
    EXPECT_TRUE(lib.Load(3001) == from_iff);
    EXPECT_TRUE(lib.Load(3002) == TwinPicture("imagemagick_rgb8_37x23"));
    const auto& titles = lib.port.titles;
    const auto has = [&](const std::string& title) {
      return std::find(titles.begin(), titles.end(), title) != titles.end();
    };
    EXPECT_TRUE(has("ZCreate - png\\q3_0_0_2.png (Unmasked) - " +
                    std::to_string(lib.BlockEntry(3002).size())));
    EXPECT_TRUE(has("ZCreate - pcx\\p3_0_0_3.pcx (not found (neither IFF, PCX, PNG nor WAV)) - 0"));
  }
}

TEST(RunPng, WithoutAPngPatternTheRunAndItsTitlesAreAsBefore) {
  TestLibrary lib;
  // PNG files where a pattern would find them are not looked for.
  fs::create_directories(lib.dir.path() / "png");
  CopyFixture("png/good/imagemagick_rgb8_37x23.png", PngPath(lib, 3000));
  lib.Run(3000, 3000);
  EXPECT_EQ(lib.port.titles, std::vector<std::string>{"ZCreate - pcx\\p3_0_0_0.pcx (not found "
                                                      "(neither IFF, PCX nor WAV)) - 0"});
  EXPECT_TRUE(lib.BlockEntry(3000).empty());
}

TEST(RunPng, AnUnusablePngIsNamedWithItsReasonAndKeepsItsEntryForAnyJobs) {
  for (const int jobs : {1, 3}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    TestLibrary lib;
    lib.store.jobs = jobs;
    AddPngPattern(lib);
    CopyFixture("png/good/netpbm_grey4_45x21.png", PngPath(lib, 3000));
    CopyFixture("png/good/pillow_rgba8_61x45.png", PngPath(lib, 3001));
    lib.Run(3000, 3001);
    const auto kept = lib.BlockEntry(3001);
    ASSERT_FALSE(kept.empty());
    lib.port.Clear();

    CopyFixture("png/malformed/too-tall-601.png", PngPath(lib, 3001));
    lib.Run(3000, 3001);
    EXPECT_EQ(lib.port.MessageTexts(),
              std::vector<std::string>{"PNG png\\q3_0_0_1.png could not be loaded"});
    EXPECT_EQ(lib.port.explanations,
              std::vector<std::string>{"png\\q3_0_0_1.png: the picture is taller than 600 pixels"});
    EXPECT_EQ(lib.port.titles.back(), "ZCreate - sep\\s3_0_0_1.zgi (skipped) - 0");
    EXPECT_EQ(lib.BlockEntry(3001), kept);
  }
}

// The library made from PNG sources against the one made from their PCX twins, file by file.
// A PCX source replaces only its own rows and a PNG the whole picture, so the icons go by
// growing height: the rows below each PCX twin are still black from the icons before it.
std::map<std::string, std::vector<std::uint8_t>> LibraryFromFixtures(bool png, int jobs) {
  std::vector<std::pair<int, std::string>> by_height;
  for (const auto& entry : fs::directory_iterator(DataDir() / "png/good")) {
    if (entry.path().extension() != ".png") continue;
    const auto bytes = ReadFileBytes(entry.path());
    const int height = bytes[20] << 24 | bytes[21] << 16 | bytes[22] << 8 | bytes[23];
    by_height.emplace_back(height, entry.path().stem().string());
  }
  std::sort(by_height.begin(), by_height.end());
  EXPECT_GE(by_height.size(), 15u);

  TestLibrary lib({.dblk = 3, .dpak = 1, .blkb = 50});
  lib.store.jobs = jobs;
  AddPngPattern(lib);
  // Half in the 3000s, half smoothed in the 4000s, some in a block of their own.
  std::vector<int> icons;
  for (std::size_t i = 0; i < by_height.size(); ++i) {
    icons.push_back(i < by_height.size() / 2 ? 3000 + int(i) * 7 : 4040 + int(i) * 3);
  }
  for (std::size_t i = 0; i < by_height.size(); ++i) {
    const std::string& stem = by_height[i].second;
    if (png) {
      CopyFixture("png/good/" + stem + ".png", PngPath(lib, icons[i]));
    } else {
      CopyFixture("png/good/" + stem + ".pcx", lib.PcxPath(icons[i]));
    }
  }
  lib.Run(3000, 4999);
  EXPECT_TRUE(lib.port.messages.empty()) << lib.port.messages.front().text;
  return SnapshotFolder(lib.dir.path(), [](const std::string& name) {
    return !name.starts_with("png/") && !name.starts_with("pcx/");
  });
}

TEST(RunPng, ALibraryFromPngSourcesEqualsTheOneFromTheirPcxTwinsForAnyJobs) {
  for (const int jobs : {1, 4}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    const auto from_png = LibraryFromFixtures(true, jobs);
    const auto from_pcx = LibraryFromFixtures(false, jobs);
    std::vector<std::string> names, twin_names;
    for (const auto& [name, bytes] : from_png) names.push_back(name);
    for (const auto& [name, bytes] : from_pcx) twin_names.push_back(name);
    ASSERT_EQ(names, twin_names);
    // The block files, offsets, coordinates and checksums, the single entry files and the
    // project file.
    EXPECT_GE(names.size(), 20u);
    for (const auto& [name, bytes] : from_png) {
      EXPECT_TRUE(SameLibraryFile(name, bytes, from_pcx.at(name))) << name << " differs";
    }
  }
}

}  // namespace
}  // namespace zemlo::testing
