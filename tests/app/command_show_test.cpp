// The export with helper threads against the export on one thread: the same files, titles,
// messages and repaints in the same order, the same counts, and the same working picture,
// title, offsets table and stamped names left behind; a stop in the middle leaves what a
// stop at the same icon leaves on one thread.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/export_command.h"
#include "app/session.h"
#include "library/run/jobs.h"
#include "project/info_parser.h"
#include "support/folder_snapshot.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;

struct ShowRecord {
  ExportOutcome outcome;
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::vector<std::string> events;
  Picture picture;
  bool picture_shown = false;
  std::string title;
  std::string single_name;
  std::string block_name;
  std::vector<std::uint8_t> offsets;
};

// Exports `project` under a fresh folder; with `stop_at`, the stop is requested when a title
// names that icon, as Ctrl-C would arrive while it is shown.
ShowRecord Show(const char* project, int jobs, int stop_at = 0,
                const std::function<void(ExportRequest&)>& choose = {}, bool shows_picture = true) {
  RecordingPort port;
  port.shows_picture = shows_picture;
  Session session(port);
  session.store().jobs = jobs;
  WorkingState& state = session.state();
  if (stop_at != 0) {
    const std::string number = " - " + std::to_string(stop_at);
    port.on_title = [&state, number](std::string_view title) {
      if (title.ends_with(number)) state.stop_request.store(true);
    };
  }
  TempDir into;
  ExportRequest request;
  request.into = into.path().string();
  request.stoppable = true;
  if (choose) choose(request);
  ShowRecord record;
  record.outcome = ExportZgl(session, project, project, request);
  record.files = SnapshotFolder(into.path());
  record.events = port.events;
  record.picture.assign(state.Picture().begin(), state.Picture().end());
  record.picture_shown = state.picture_shown.load();
  record.title = state.title_text;
  record.single_name = session.settings().FSEP.data();
  record.block_name = session.settings().FBLK.data();
  record.offsets.assign(state.offsets.span().begin(),
                        state.offsets.span().first(kOffsetsTableSize).end());
  return record;
}

void ExpectSame(const ShowRecord& one, const ShowRecord& other) {
  EXPECT_EQ(one.outcome.icons, other.outcome.icons);
  EXPECT_EQ(one.outcome.shown, other.outcome.shown);
  EXPECT_EQ(one.outcome.not_loaded, other.outcome.not_loaded);
  EXPECT_EQ(one.outcome.not_saved, other.outcome.not_saved);
  ASSERT_EQ(one.files.size(), other.files.size());
  for (const auto& [name, bytes] : one.files) {
    ASSERT_TRUE(other.files.contains(name)) << name;
    EXPECT_TRUE(bytes == other.files.at(name)) << name << " differs";
  }
  EXPECT_EQ(one.events, other.events);
  EXPECT_TRUE(one.picture == other.picture) << "working picture differs";
  EXPECT_EQ(one.picture_shown, other.picture_shown);
  EXPECT_EQ(one.title, other.title);
  EXPECT_EQ(one.single_name, other.single_name);
  EXPECT_EQ(one.block_name, other.block_name);
  EXPECT_TRUE(one.offsets == other.offsets) << "offsets table differs";
}

// The whole range with one thread, the machine's default and three helpers; then stopped
// at `stop_at` the same way. Returns the whole export on one thread.
ShowRecord ExpectSameForAnyJobs(const char* project, int stop_at) {
  const ShowRecord one = Show(project, 1);
  EXPECT_EQ(one.outcome.icons, kRunEnd - kRunStart + 1);
  for (const int jobs : {DefaultJobs(), 3}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    ExpectSame(one, Show(project, jobs));
  }
  const ShowRecord stopped = Show(project, 1, stop_at);
  EXPECT_EQ(stopped.outcome.icons, stop_at - kRunStart + 1);
  SCOPED_TRACE("stopped at " + std::to_string(stop_at));
  ExpectSame(stopped, Show(project, 3, stop_at));
  return one;
}

Picture FullPicture(int seed) {
  Picture p = BlackPicture();
  FillBlock(p, 0, 0, kPictureWidth, kPictureHeight, seed);
  return p;
}

// Packed entries in blocks of 20 around icons without entries, two of them full-size (each
// followed by a small one: the files of the icons after an entry repeat its picture).
void AddSources(TestLibrary& lib, bool full_size) {
  for (const int icon : {3001, 3021}) {
    lib.AddPcx(icon, full_size ? FullPicture(icon) : XMaskedShape(icon));
  }
  for (const int icon : {3002, 3003, 3004, 3022, 3045, 3046, 4998}) {
    lib.AddPcx(icon, UnmaskedShape(icon));
  }
  lib.Run();
}

// Block 150 cut inside 3002's entry; block 152 gone while its records stay.
void DamageBlocks(TestLibrary& lib) {
  fs::resize_file(lib.BlockPath(150), lib.BlockEntry(3001).size() + 7);
  fs::remove(lib.BlockPath(152));
}

TEST(ShowJobs, DemoLibraryExportsTheSameForAnyJobs) {
  TestLibrary lib;
  lib.CopyProject(ZGL_DEMO_DIR, "demo.zgl");
  lib.Run();
  ExpectSameForAnyJobs("demo.zgl", 3004);
}

// Failed loads leave the picture of the icon before them in their files, not their own.
TEST(ShowJobs, PackedBlocksWithEntriesThatCannotBeLoadedExportTheSameForAnyJobs) {
  TestLibrary lib({.dblk = 3, .dpak = 2, .blkb = 20});
  AddSources(lib, true);
  DamageBlocks(lib);
  const ShowRecord one = ExpectSameForAnyJobs("project.zgl", 3004);
  EXPECT_EQ(one.outcome.shown, 4);       // 3001, 3021, 3022 and 4998
  EXPECT_EQ(one.outcome.not_loaded, 5);  // 3002 to 3004, 3045 and 3046
  // Without the offsets file every load fails and blanks the picture.
  fs::remove(lib.dir.path() / "offsets.dat");
  const ShowRecord blank = Show("project.zgl", 1);
  EXPECT_FALSE(blank.picture_shown);
  ExpectSame(blank, Show("project.zgl", 3));
}

// Every icon without a single entry file blanks the picture; a packed file cut short fails.
TEST(ShowJobs, SingleEntryFilesExportTheSameForAnyJobs) {
  TestLibrary lib({.dblk = 1, .dpak = 2});
  AddSources(lib, true);
  auto cut = ReadFileBytes(lib.SinglePath(3004));
  cut.resize(cut.size() / 2);
  WriteFileBytes(lib.SinglePath(3004), cut);
  const ShowRecord one = ExpectSameForAnyJobs("project.zgl", 3021);
  EXPECT_EQ(one.outcome.shown, 8);
  EXPECT_EQ(one.outcome.not_loaded, 1);
}

// A front end that paints no picture (the console) has the helpers' picture buffers handed
// over instead of copied: the files, the picture the export leaves and the rest are those of
// one thread, whole and stopped, with failed and empty icons between the shown ones.
TEST(ShowJobs, WithoutAPaintedPictureTheSameForAnyJobs) {
  TestLibrary lib({.dblk = 3, .dpak = 2, .blkb = 20});
  AddSources(lib, true);
  DamageBlocks(lib);
  const ShowRecord one = Show("project.zgl", 1);
  EXPECT_EQ(one.outcome.shown, 4);
  for (const int jobs : {2, 3}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    ExpectSame(one, Show("project.zgl", jobs, 0, {}, false));
    ExpectSame(Show("project.zgl", 1, 3022, {}, false), Show("project.zgl", jobs, 3022, {}, false));
  }
}

// On one thread the offsets file is read again only when it changed, not for every icon: a
// library whose block file and offsets file are replaced in the middle of the export (as a
// creation run replaces them) is exported as the new one from the icon after. (The entry
// keeps its place: the coordinates are read once, when the export starts.)
TEST(ShowJobs, ALibraryReplacedDuringAnExportOnOneThreadIsSeenAtTheNextIcon) {
  TestLibrary before({.dblk = 2, .dpak = 2, .blkb = 20});
  TestLibrary after({.dblk = 2, .dpak = 2, .blkb = 20});
  for (TestLibrary* lib : {&before, &after}) lib->AddPcx(3001, UnmaskedShape(3001));
  before.AddPcx(3021, UnmaskedShape(3021));
  // The same box, with a gap down the middle: another kind and length, at the same offset.
  Picture gapped = UnmaskedShape(3022);
  for (int y = 50; y < 80; ++y) {
    for (int x = 115; x < 125; ++x) SetPixel(gapped, x, y, 0, 0, 0);
  }
  after.AddPcx(3021, gapped);
  // Each library is made and shown in its folder (`after` is the current one at first).
  after.Run();
  const ShowRecord expected = Show("project.zgl", 1);
  ScopedCurrentDir in(before.dir.path());
  before.Run();
  RecordingPort port;
  Session session(port);
  session.store().jobs = 1;
  bool replaced = false;
  port.on_title = [&](std::string_view title) {
    if (replaced || !title.ends_with(" - 3010")) return;
    replaced = true;
    const fs::path offsets = "offsets.dat";
    for (const fs::path& name : {offsets, fs::relative(after.BlockPath(151), after.dir.path())}) {
      fs::copy_file(after.dir.path() / name, before.dir.path() / "swap");
      fs::rename(before.dir.path() / "swap", before.dir.path() / name);
    }
  };
  TempDir into;
  ExportRequest request;
  request.into = into.path().string();
  const ExportOutcome outcome = ExportZgl(session, "project.zgl", "project.zgl", request);
  ASSERT_TRUE(replaced);
  EXPECT_EQ(outcome.shown, 2);
  const auto files = SnapshotFolder(into.path());
  ASSERT_EQ(files.size(), expected.files.size());
  for (const auto& [name, bytes] : expected.files) {
    ASSERT_TRUE(files.contains(name)) << name;
    EXPECT_TRUE(bytes == files.at(name)) << name << " is not the replacing library's";
  }
}

// Short exports, quick enough under ThreadSanitizer: helpers are dropped in the middle of
// the range after shown, failed and empty icons.
TEST(ShowPipeline, AStopLeavesWhatAStopAtTheSameIconLeavesOnOneThread) {
  TestLibrary lib({.dblk = 3, .dpak = 2, .blkb = 20});
  AddSources(lib, false);
  DamageBlocks(lib);
  for (const int stop_at : {3003, 3030}) {
    SCOPED_TRACE("stopped at " + std::to_string(stop_at));
    const ShowRecord one = Show("project.zgl", 1, stop_at);
    EXPECT_EQ(one.outcome.icons, stop_at - kRunStart + 1);
    for (const int jobs : {2, 3, 8}) ExpectSame(one, Show("project.zgl", jobs, stop_at));
  }
}

// PNG: see-through black only for the masked kinds, the kind known whether the export loaded
// the icon itself or took it from a helper; an icon after one whose entry failed repeats that
// picture as it was.
TEST(ShowPng, MaskedKindsAreSeeThroughForAnyJobs) {
  TestLibrary lib({.dblk = 3, .dpak = 2, .blkb = 20});
  AddSources(lib, false);
  lib.AddPcx(3023, ZeroMaskedShape(3023));
  lib.Run();
  DamageBlocks(lib);
  const auto png_alpha = [](ExportRequest& request) {
    request.format = ExportFormat::kPng;
    request.black_transparent = true;
  };
  // Stopped after 3025: a whole picture takes a while to encode.
  const int last = 3025;
  const ShowRecord one = Show("project.zgl", 1, last, png_alpha);
  EXPECT_EQ(one.outcome.written, last - kRunStart + 1);
  for (const int jobs : {2, 3}) {
    SCOPED_TRACE("jobs " + std::to_string(jobs));
    ExpectSame(one, Show("project.zgl", jobs, last, png_alpha));
  }
  // PNG colour type (byte 25): 6 with alpha, 2 without.
  const auto colour_type = [&one](int icon) {
    const std::string name =
        "pcx/p" + std::to_string(icon / 1000) + "_" + std::to_string(icon / 100 % 10) + "_" +
        std::to_string(icon / 10 % 10) + "_" + std::to_string(icon % 10) + ".png";
    const auto found = one.files.find(name);
    return found == one.files.end() || found->second.size() < 26 ? -1 : found->second[25];
  };
  EXPECT_EQ(colour_type(3001), 6);  // X-masked
  EXPECT_EQ(colour_type(3021), 6);  // X-masked
  EXPECT_EQ(colour_type(3022), 2);  // unmasked
  EXPECT_EQ(colour_type(3023), 6);  // 0-masked
  EXPECT_EQ(colour_type(3024), 6);  // no entry: the 0-masked picture before it
  EXPECT_EQ(colour_type(3002), 6);  // could not be loaded: 3001's picture
  EXPECT_EQ(colour_type(3000), 2);  // before any entry: the blank picture, opaque
  // Without --alpha black stays black everywhere.
  const ShowRecord opaque = Show("project.zgl", 3, 0, [](ExportRequest& request) {
    request.format = ExportFormat::kPng;
    request.every_icon = false;
  });
  EXPECT_EQ(opaque.files.size(), 5u);
  for (const auto& [name, bytes] : opaque.files) {
    ASSERT_GT(bytes.size(), 26u) << name;
    EXPECT_EQ(bytes[25], 2) << name;
  }
}

TEST(ShowPng, FilesAreNamedByFpcxWithPngForPcx) {
  for (const auto& [stamped, png] :
       std::vector<std::pair<std::string, std::string>>{{"pcx\\p3_0_0_1.pcx", "pcx\\p3_0_0_1.png"},
                                                        {"P3001.PCX", "P3001.png"},
                                                        {"a.pcx/b.Pcx", "a.pcx/b.png"},
                                                        {"IFF\\3\\0\\0\\1", "IFF\\3\\0\\0\\1.png"},
                                                        {"a.pcx/3001", "a.pcx/3001.png"},
                                                        {"x.bmp", "x.bmp.png"},
                                                        {"dir/.pcx", "dir/.pcx.png"},
                                                        {"p3001.PNG", "p3001.PNG"},
                                                        {"a.png/3001", "a.png/3001.png"}}) {
    EXPECT_EQ(ExportFileName(stamped, ExportFormat::kPng), png);
    EXPECT_EQ(ExportFileName(stamped, ExportFormat::kPcx), stamped);
  }
}

}  // namespace
}  // namespace zemlo::testing
