// The creation run on helper threads against the run on one thread: the same library files,
// archive attributes, titles, messages, repaints and progress, and the same working picture
// and palette left behind, for every number of threads; and a stop in the middle leaves what
// a stop at the same icon leaves on one thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "files/file_layer.h"
#include "library/run/create/creation_run.h"
#include "library/run/jobs.h"
#include "project/info_parser.h"
#include "support/folder_snapshot.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;

// Everything a run leaves that the user or the next run can see.
struct RunRecord {
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::map<std::string, bool> archive;
  std::vector<std::string> events;
  std::vector<int> progress;
  std::vector<std::uint8_t> picture;
  std::vector<std::uint8_t> palette;
  int current_icon = 0;
};

RunRecord Record(TestLibrary& lib) {
  RunRecord record;
  record.files = SnapshotFolder(lib.dir.path());
  for (const auto& [name, bytes] : record.files) {
    record.archive[name] = files::ArchiveAttributeSet((lib.dir.path() / name).string().c_str());
  }
  record.events = lib.port.events;
  record.progress = lib.port.progress;
  record.picture.assign(lib.state.Picture().begin(), lib.state.Picture().end());
  record.palette.assign(lib.state.palette.span().begin(), lib.state.palette.span().end());
  record.current_icon = lib.state.current_icon.load();
  return record;
}

// Sources made in a fresh library and the runs over them.
using Scenario = std::function<void(TestLibrary&)>;

RunRecord RunScenario(const ProjectOptions& options, const Scenario& scenario, int jobs) {
  TestLibrary lib(options);
  lib.store.jobs = jobs;
  scenario(lib);
  return Record(lib);
}

void ExpectSame(const RunRecord& one, const RunRecord& other) {
  std::vector<std::string> names, other_names;
  for (const auto& [name, bytes] : one.files) names.push_back(name);
  for (const auto& [name, bytes] : other.files) other_names.push_back(name);
  ASSERT_EQ(names, other_names);
  for (const auto& [name, bytes] : one.files) {
    EXPECT_TRUE(bytes == other.files.at(name)) << name << " differs";
  }
  EXPECT_EQ(one.archive, other.archive);
  EXPECT_EQ(one.events, other.events);
  EXPECT_EQ(one.progress, other.progress);
  EXPECT_TRUE(one.picture == other.picture) << "working picture differs";
  EXPECT_EQ(one.palette, other.palette);
  EXPECT_EQ(one.current_icon, other.current_icon);
}

void ExpectSameForAnyJobs(const ProjectOptions& options, const Scenario& scenario) {
  const RunRecord one = RunScenario(options, scenario, 1);
  ASSERT_FALSE(one.events.empty());
  for (const int jobs : {DefaultJobs(), 3}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    ExpectSame(one, RunScenario(options, scenario, jobs));
  }
}

// A source name of any icon, thousands from 10 on as "A", "B", ...
std::string Stamped(const char* prefix, int icon, const char* extension) {
  const int thousands = icon / 1000;
  const char lead = static_cast<char>('0' + thousands + (thousands > 9 ? 7 : 0));
  char name[64];
  std::snprintf(name, sizeof name, "%s%c_%d_%d_%d.%s", prefix, lead, icon / 100 % 10,
                icon / 10 % 10, icon % 10, extension);
  return name;
}

// A PCX source of only the top `rows` rows of `picture` (none for 0): the rows below keep
// what the working picture held.
std::vector<std::uint8_t> ShortPcx(const Picture& picture, int rows) {
  auto bytes = PcxBytes(picture);
  const int y_min = rows == 0 ? 5 : 0;
  const int y_max = rows == 0 ? 0 : rows - 1;
  bytes[6] = static_cast<std::uint8_t>(y_min);
  bytes[7] = 0;
  bytes[10] = static_cast<std::uint8_t>(y_max & 0xFF);
  bytes[11] = static_cast<std::uint8_t>(y_max >> 8);
  return bytes;
}

// A busy picture over the whole 800 x 600, stripes cut into it for some seeds.
Picture FullPicture(int seed) {
  Picture p = BlackPicture();
  FillBlock(p, 0, 0, kPictureWidth, kPictureHeight, seed);
  if (seed % 3 == 0) {
    for (int x = seed % 7; x < kPictureWidth; x += 40) FillBlock(p, x, 0, 3, kPictureHeight, 0);
    for (int y = 0; y < kPictureHeight; ++y) {
      for (int x = seed % 7; x < kPictureWidth; x += 40) SetPixel(p, x, y, 0, 0, 0);
    }
  }
  return p;
}

TEST(RunPipeline, DemoLibraryIsTheSameForAnyJobsOnTheFirstRunAndTheNext) {
  ExpectSameForAnyJobs({}, [](TestLibrary& lib) {
    lib.CopyProject(ZGL_DEMO_DIR, "demo.zgl");
    lib.Run();
    lib.Run();  // unchanged sources are skipped by the archive test
  });
}

TEST(RunPipeline, FullSizePackedSourcesAcrossBlocksAndSmoothingAreTheSameForAnyJobs) {
  ExpectSameForAnyJobs({.dblk = 3, .dpak = 2, .blkb = 20}, [](TestLibrary& lib) {
    for (int icon = 3995; icon < 4005; ++icon) {
      if (icon % 9 != 4) lib.AddPcx(icon, FullPicture(icon));
    }
    lib.Run(3995, 4004);
  });
}

// Each source replaces only part of the working picture, so each entry holds what the icons
// before it left: smoothed pictures, IFF colours from an earlier palette, sound bytes.
// With the detailed view the run puts each icon's picture into the shared buffers; without a
// view it leaves it with the helpers until something reads it.
TEST(RunPipeline, SourcesSmallerThanThePictureKeepWhatEarlierIconsLeftForAnyJobs) {
  const Scenario scenario = [](TestLibrary& lib) {
    const auto put = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
      WriteFileBytes(lib.dir.path() / name, bytes);
    };
    put(Stamped("pcx/p", 8990, "pcx"), PcxBytes(FullPicture(1)));
    put(Stamped("pcx/p", 8991, "pcx"), ShortPcx(UnmaskedShape(2, 10, 5, 300, 100), 120));
    auto cut = PcxBytes(XMaskedShape(3));
    cut.resize(cut.size() / 2);  // ends before its last row: not loaded
    put(Stamped("pcx/p", 8993, "pcx"), cut);
    Picture unused;
    put(Stamped("lbm/i", 8994, "lbm"), ChunkyIff(320, 200, 4, unused));
    auto no_palette = ChunkyIff(160, 400, 5, unused);
    const auto cmap = std::search(no_palette.begin(), no_palette.end(), "CMAP", "CMAP" + 4);
    no_palette.erase(cmap, cmap + 8 + 768);
    put(Stamped("lbm/i", 8995, "lbm"), no_palette);
    put(Stamped("pcx/p", 8996, "pcx"), ShortPcx(ZeroMaskedShape(6, 300, 10), 50));
    put(Stamped("pcx/p", 8997, "pcx"), ShortPcx(UnmaskedShape(7), 0));
    std::vector<std::uint8_t> samples(250000);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 7);
    put(Stamped("wav/w", 9000, "wav"), WavBytes(samples));
    auto no_data = WavBytes(std::vector<std::uint8_t>(90000, 9));
    const auto data = std::search(no_data.begin(), no_data.end(), "data", "data" + 4);
    *data = 'D';  // no sound in it: not loaded, but its bytes are in the picture
    put(Stamped("wav/w", 9001, "wav"), no_data);
    lib.Run(8990, 9002);

    put(Stamped("wav/w", 9998, "wav"), WavBytes(std::vector<std::uint8_t>(330000, 200)));
    put(Stamped("pcx/p", 10000, "pcx"), ShortPcx(UnmaskedShape(8, 0, 0, 800, 60), 60));
    put(Stamped("pcx/p", 10002, "pcx"), PcxBytes(XMaskedShape(9)));
    put(Stamped("pcx/p", 10003, "pcx"), ShortPcx(UnmaskedShape(10, 0, 0, 50, 10), 10));
    lib.Run(9998, 10004);
  };
  for (const int dvie : {2, 0}) {
    SCOPED_TRACE("DVIE " + std::to_string(dvie));
    ExpectSameForAnyJobs({.dblk = 3, .dpak = 1, .dvie = dvie, .nsiz = 10100}, scenario);
  }
}

// A whole picture stays the working picture over icons that load nothing, while the run has
// released its icon: the short sources after them go over it in turn, however soon a helper
// reads the second one (into any slot that is free by then).
TEST(RunPipeline, APictureKeptOverIconsThatLoadNothingIsTheSameForAnyJobs) {
  ExpectSameForAnyJobs({.dblk = 3, .dpak = 0}, [](TestLibrary& lib) {
    for (int base = 3000; base < 3200; base += 20) {
      lib.AddPcx(base, FullPicture(base / 20));
      WriteFileBytes(lib.PcxPath(base + 9), ShortPcx(UnmaskedShape(base, 10, 5, 30, 10), 20));
      WriteFileBytes(lib.PcxPath(base + 10), ShortPcx(UnmaskedShape(base + 1), 500));
    }
    lib.Run(3000, 3199);
  });
}

// Sprites on black at rows that move from icon to icon, so each helper's picture buffers
// come back with ink where the next sprite has none: smoothed ones among them, dark ones that
// smoothing paints past their box, all-black ones, icons without a source, and sources
// shorter than the picture, which keep the rows below from the icon before.
TEST(RunPipeline, SpritesAtMovingRowsAreTheSameForAnyJobs) {
  ExpectSameForAnyJobs({.dblk = 3, .dpak = 2, .blkb = 20}, [](TestLibrary& lib) {
    for (int icon = 3980; icon < 4040; ++icon) {
      const int k = icon - 3980;
      const int top = (k * 97) % 560;
      if (k % 11 == 5) {
        WriteFileBytes(lib.PcxPath(icon), ShortPcx(UnmaskedShape(k, 30, 5, 60, 20), 40 + k));
      } else if (k % 13 == 7) {
        lib.AddPcx(icon, BlackPicture());
      } else if (k % 5 == 3) {
        Picture dark = BlackPicture();
        for (int y = top; y < top + 30; ++y) {
          for (int x = 100; x < 160; ++x) SetPixel(dark, x, y, 4, 5, std::uint8_t(3 + x % 3));
        }
        lib.AddPcx(icon, dark);
      } else if (k % 17 != 9) {
        lib.AddPcx(icon, k % 2 == 0 ? UnmaskedShape(k, 10 + k * 9, top, 50, 40)
                                    : XMaskedShape(k, 500, std::min(top, 570)));
      }
    }
    lib.Run(3980, 4039);
  });
}

// A source the reader refuses is reported with its reason at its own turn, whichever thread
// read it, and the icons after it are composed over what the icon before it left.
TEST(RunPipeline, RefusedSourcesAreReportedWithTheirReasonsInTurnForAnyJobs) {
  ExpectSameForAnyJobs({.dblk = 3, .dpak = 2}, [](TestLibrary& lib) {
    for (int base = 3000; base < 3100; base += 10) {
      lib.AddPcx(base, FullPicture(base / 10));
      auto two_planes = PcxBytes(UnmaskedShape(base + 1));
      two_planes[65] = 2;
      WriteFileBytes(lib.PcxPath(base + 1), two_planes);
      auto cut = PcxBytes(UnmaskedShape(base + 2));
      cut.resize(cut.size() / 2);
      WriteFileBytes(lib.PcxPath(base + 2), cut);
    }
    lib.Run(3000, 3099);
    ASSERT_EQ(lib.port.explanations.size(), 20u);
    EXPECT_NE(lib.port.explanations[0].find("pcx\\p3_0_0_1.pcx: "), std::string::npos)
        << lib.port.explanations[0];
  });
}

// The helpers guess from the offsets table as the run starts; a block whose file lost its
// entries changes it under them, and the run converts those icons itself, over what the
// icons before them left (the sources are shorter than the picture).
TEST(RunPipeline, IconsOfALostBlockAreConvertedAgainTheSameForAnyJobs) {
  {
    TestLibrary probe;
    if (!ArchiveAttributeCanBeCleared(probe)) GTEST_SKIP() << "archive attributes stay set here";
  }
  ExpectSameForAnyJobs({.dblk = 2, .darc = 1, .blkb = 10}, [](TestLibrary& lib) {
    for (int icon = 3000; icon < 3030; icon += 3) {
      const int rows = 60 + icon % 4 * 9;
      WriteFileBytes(lib.PcxPath(icon), ShortPcx(UnmaskedShape(icon, icon % 50), rows));
    }
    lib.Run(3000, 3029);
    fs::remove(lib.BlockPath(301));
    fs::remove(lib.PcxPath(3012));
    // A new source right before a lost icon: the icon the run converts itself keeps its rows.
    WriteFileBytes(lib.PcxPath(3014), ShortPcx(UnmaskedShape(9, 0, 0, 500, 300), 300));
    lib.Run(3000, 3029);
  });
}

// Stops once the title of `stop_icon`'s source appears: after that icon.
RunRecord RunStopped(int jobs, int stop_icon) {
  TestLibrary lib({.dblk = 3, .dpak = 2, .blkb = 5});
  lib.store.jobs = jobs;
  for (int icon = 3000; icon < 3012; ++icon) {
    lib.AddPcx(icon, UnmaskedShape(icon, 0, icon % 50, 400, 120));
  }
  const std::string source = TestLibrary::Stamp("pcx\\p", stop_icon, "pcx");
  lib.port.on_title = [&lib, source](std::string_view title) {
    if (title.find(source) != std::string_view::npos) lib.state.stop_request.store(true);
  };
  lib.Run(3000, 3011);
  lib.port.on_title = nullptr;
  EXPECT_EQ(lib.state.current_icon.load(), stop_icon + 1);
  EXPECT_FALSE(lib.state.stop_request.load());
  // Nothing prepared for the icons after it was stored.
  for (int icon = stop_icon + 1; icon < 3012; ++icon) {
    EXPECT_TRUE(lib.BlockEntry(icon).empty()) << icon;
    EXPECT_FALSE(fs::exists(lib.SinglePath(icon))) << icon;
  }
  return Record(lib);
}

TEST(RunPipeline, AStopInTheMiddleLeavesWhatTheSameStopLeavesOnOneThread) {
  for (const int stop_icon : {3001, 3006}) {
    SCOPED_TRACE(stop_icon);
    const RunRecord one = RunStopped(1, stop_icon);
    ExpectSame(one, RunStopped(3, stop_icon));
  }
}

}  // namespace
}  // namespace zemlo::testing
