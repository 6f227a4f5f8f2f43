// A creation run over a library that it changes (entries replaced, added, kept and dropped in
// two blocks), failed at every call of the file layer in turn, and cut off by a power cut at
// every call that can change the disk, on a journal that keeps folder changes in order and
// on one that keeps any of them. After that, the next command (the recovery the commands make,
// then a whole run) must end in exactly the library that a run without any fault writes; and
// a failing run that shows no warning must have written that library itself. (Where archive
// attributes cannot be cleared, under Wine, every run converts every source: the same holds.)
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "library/store/rewrite_recovery.h"
#include "support/library_files.h"
#include "support/power_cut.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

using files::FileOp;
using Files = std::map<std::string, std::vector<std::uint8_t>>;

constexpr int kFirst = 3000;
constexpr int kLast = 3019;  // two blocks of ten

struct Layout {
  const char* name;
  int dblk;
  int dpak;
};

// Under Wine every file call costs far more, and under AddressSanitizer every run does: there
// every tenth and every third place is tried, which still takes every kind of call of the
// Windows half and every step of a block's rewrite.
#if defined(_WIN32)
constexpr int kStride = 10;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int kStride = 3;
#else
constexpr int kStride = 1;
#endif

ProjectOptions OptionsOf(const Layout& layout) {
  ProjectOptions options;
  options.dblk = layout.dblk;
  options.dpak = layout.dpak;
  options.darc = 1;
  options.blkb = 10;
  return options;
}

// "Create ZGL" as the commands make it: put right what a killed run left, read the tables
// (a coordinates file that cannot be read is a warning, and the run then converts every
// source), then the run.
void CreateCommand(TestLibrary& lib) {
  lib.port.Clear();
  RemoveLeftoverTableTemporaries(lib.settings);
  if (RecoverInterruptedRewrite(lib.settings, lib.port) == RecoveryResult::kRefused) return;
  if (!ReadOffsetsFile(lib.settings, lib.state)) ClearOffsets(lib.state);
  lib.store.convert_all = !ReadCoordinatesFile(lib.settings, lib.state);
  if (lib.store.convert_all) {
    if (std::filesystem::exists(lib.dir.path() / "offsets.dat")) {
      lib.port.ShowMessage(Owner::kMain, "ZCreate", "coordinates file not read",
                           MessageIcon::kWarning);
    }
    ClearCoordinates(lib.state);
  }
  lib.settings.DSTA = kFirst;
  lib.settings.DEND = kLast;
  lib.state.current_icon = kFirst;
  CreationRun(lib.store);
}

// The library a first run made, then the sources as the user changed them since: 3001 and
// 3010 redrawn, 3002 and 3015 new, 3005 gone; 3000 and 3012 unchanged (skipped by DARC).
void MakeOldLibrary(TestLibrary& lib) {
  for (int icon : {3000, 3001, 3005, 3010, 3012}) lib.AddPcx(icon, UnmaskedShape(icon % 7 + 1));
  CreateCommand(lib);
  lib.port.Clear();
  lib.AddPcx(3001, XMaskedShape(5));
  lib.AddPcx(3010, UnmaskedShape(9, 10, 10, 30, 20));
  lib.AddPcx(3002, ZeroMaskedShape(3));
  lib.AddPcx(3015, UnmaskedShape(4, 60, 70, 25, 35));
  std::filesystem::remove(lib.PcxPath(3005));
}

// The library's files: tables, blocks, single entry files, and BLTEMP with its record where
// a run left them; not the sources, the info file, temporaries of whole files, or a record
// without BLTEMP (known to be stale, and removed by the next command).
Files LibraryFiles(const TestLibrary& lib) {
  Files files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(lib.dir.path())) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().lexically_relative(lib.dir.path()).generic_string();
    if (name.starts_with("pcx/") || name == "project.zgl" || name.ends_with(".lock") ||
        name.ends_with(".zgl-new") ||
        (name == "BLTEMP.REC" && !std::filesystem::exists(lib.dir.path() / "BLTEMP"))) {
      continue;
    }
    files[name] = name.ends_with(kSumSuffix) ? SumsBesidesRuns(ReadFileBytes(entry.path()))
                                             : ReadFileBytes(entry.path());
  }
  // A crop box of an icon without an entry is nobody's: a run leaves it as it was, and a run
  // that had to start the coordinates afresh leaves it zero.
  if (auto coordinates = files.find("coords.dat"); coordinates != files.end()) {
    auto offsets_file = ReadFileBytes(lib.dir.path() / "offsets.dat");
    offsets_file.resize(kOffsetsTableSize, 0);
    const OffsetsTable offsets(offsets_file);
    for (std::size_t icon = 0; icon * 8 + 8 <= coordinates->second.size(); ++icon) {
      const int n = static_cast<int>(icon);
      const bool entry = (lib.settings.DBLK & 2 ? offsets.length(n) > 0 : false) ||
                         std::filesystem::exists(lib.SinglePath(n));
      if (!entry)
        std::fill_n(coordinates->second.begin() + static_cast<std::ptrdiff_t>(icon * 8), 8, 0);
    }
  }
  return files;
}

std::string Differences(const Files& got, const Files& expected) {
  std::string out;
  for (const auto& [name, bytes] : expected) {
    const auto found = got.find(name);
    if (found == got.end()) {
      out += " missing " + name + ";";
    } else if (found->second != bytes) {
      out += " differs " + name + ";";
    }
  }
  for (const auto& [name, bytes] : got) {
    if (!expected.count(name)) out += " extra " + name + ";";
  }
  return out;
}

std::string Messages(const RecordingPort& port) {
  std::string out;
  for (const auto& text : port.MessageTexts()) out += " [" + text + "]";
  return out;
}

class PowerCutTest : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    // The run without faults: the library every other trial must end in, and how many
    // calls of each kind it makes.
    TestLibrary lib(OptionsOf(GetParam()));
    MakeOldLibrary(lib);
    PowerCut observer(lib.dir.path());
    CreateCommand(lib);
    ASSERT_TRUE(lib.port.MessageTexts().empty()) << Messages(lib.port);
    expected_ = LibraryFiles(lib);
    changing_calls_ = observer.ChangingCalls();
    for (FileOp op : kFailingKinds) counts_[op] = observer.Count(op);
  }

  // After the trial's run: the next command ends in the library of a run without faults,
  // with nothing of the interrupted rewrite left.
  void ExpectNextCommandMends(TestLibrary& lib, const std::string& trial,
                              const std::string& trace = {}) {
    CreateCommand(lib);
    EXPECT_EQ(Differences(LibraryFiles(lib), expected_), "")
        << trial << ", next command said:" << Messages(lib.port) << trace;
  }

  static constexpr FileOp kFailingKinds[] = {
      FileOp::kOpen,      FileOp::kRead,        FileOp::kWrite,    FileOp::kFlush,
      FileOp::kFlushFile, FileOp::kClose,       FileOp::kRename,   FileOp::kReplace,
      FileOp::kRemove,    FileOp::kFolderFlush, FileOp::kSetNormal};

  Files expected_;
  int changing_calls_ = 0;
  std::map<FileOp, int> counts_;
};

TEST_P(PowerCutTest, AFailedCallIsNamedOrHarmlessAndTheNextRunMendsIt) {
  for (FileOp op : kFailingKinds) {
    for (int k = 1; k <= counts_[op]; k += kStride) {
      const std::string trial =
          "call " + std::to_string(static_cast<int>(op)) + " #" + std::to_string(k);
      TestLibrary lib(OptionsOf(GetParam()));
      MakeOldLibrary(lib);
      {
        PowerCut observer(lib.dir.path());
        observer.FailAt(op, k);
        CreateCommand(lib);
      }
      if (lib.port.messages.empty()) {
        EXPECT_EQ(Differences(LibraryFiles(lib), expected_), "")
            << trial << " failed without a word";
      }
      ExpectNextCommandMends(lib, trial);
    }
  }
}

// Where no folder change waits for a folder flush at the cut, every model keeps the same
// folders, and one reboot tells all.
TEST_P(PowerCutTest, APowerCutAnywhereLeavesALibraryTheNextRunMends) {
  ASSERT_GT(changing_calls_, 20);
  std::mt19937 random(7);
  for (int k = 1; k <= changing_calls_; k += kStride) {
    bool folder_changes_waiting = true;
    for (const std::string model : {"in order", "none kept", "some kept"}) {
      if (!folder_changes_waiting) break;
      const std::string trial = "cut at call " + std::to_string(k) + ", " + model;
      TestLibrary lib(OptionsOf(GetParam()));
      MakeOldLibrary(lib);
      std::string trace;
      {
        PowerCut observer(lib.dir.path());
        observer.CutAt(k);
        CreateCommand(lib);
        ASSERT_TRUE(observer.cut()) << trial;
        folder_changes_waiting = observer.PendingFolderChanges() > 0;
        trace = observer.Trace();
        if (model == "in order") {
          observer.Reboot(Metadata::kInOrder);
        } else if (model == "none kept") {
          observer.Reboot(Metadata::kAnySubset);
        } else {
          const std::uint32_t bits = random();
          observer.Reboot(Metadata::kAnySubset, [bits](int i) { return (bits >> (i % 32)) & 1; });
        }
      }
      ExpectNextCommandMends(lib, trial, trace);
    }
  }
}

// A second power cut while the next command puts BLTEMP right, at each of the recovery's
// calls, on both kinds of journal: the command after that still mends the library.
TEST_P(PowerCutTest, APowerCutWhileBltempIsPutRightLeavesALibraryTheNextRunMends) {
  int recoveries = 0;
  // Every other first cut: each of them alone is tried by the test above.
  for (int k = 1; k <= changing_calls_; k += 2 * kStride) {
    for (int j = 1;; ++j) {
      const std::string trial =
          "cut at call " + std::to_string(k) + ", then at call " + std::to_string(j);
      TestLibrary lib(OptionsOf(GetParam()));
      MakeOldLibrary(lib);
      {
        PowerCut first(lib.dir.path());
        first.CutAt(k);
        CreateCommand(lib);
        first.Reboot(Metadata::kInOrder);
      }
      if (!std::filesystem::exists(lib.dir.path() / "BLTEMP")) break;
      bool cut = false;
      std::string trace;
      {
        PowerCut second(lib.dir.path());
        second.CutAt(j);
        RemoveLeftoverTableTemporaries(lib.settings);
        static_cast<void>(RecoverInterruptedRewrite(lib.settings, lib.port));  // either way
        cut = second.cut();
        trace = second.Trace();
        second.Reboot(j % 2 == 0 ? Metadata::kInOrder : Metadata::kAnySubset);
      }
      ExpectNextCommandMends(lib, trial, trace);
      if (!cut) break;
      ++recoveries;
    }
  }
  // With block files, some cuts leave BLTEMP, and putting it right takes more than one call.
  if (GetParam().dblk & 2) {
    EXPECT_GT(recoveries, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, PowerCutTest,
                         ::testing::Values(Layout{"BlocksAndEntryFiles", 3, 0},
                                           Layout{"PackedBlocks", 2, 2},
                                           Layout{"EntryFilesOnly", 1, 0}),
                         [](const auto& layout) { return std::string(layout.param.name); });

}  // namespace
}  // namespace zemlo::testing
