// Seeded damage trials: a library made by the run, with its checksum file, is damaged in one
// of the ways files get damaged (bits flipped, bytes changed, cut or inserted, entries of one
// length swapped, an older block file put back, records and crop boxes edited, a single entry
// file changed, a table cut short). What a viewer shows of each icon, read through both
// copies, is the ground truth: every icon whose view changed must be named by verify, and an
// undamaged library gives no finding at all. Repair then makes the clean library again: every
// icon has its source here, so nothing is beyond it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/repair.h"
#include "app/session.h"
#include "core/content_hash.h"
#include "library/run/check/deep_verify.h"
#include "library/run/entry_loading.h"
#include "library/store/stamping.h"
#include "library/store/tables_io.h"
#include "support/folder_snapshot.h"
#include "support/library_files.h"
#include "support/run_project.h"

namespace zemlo::testing::damage_trials {
namespace {

constexpr int kFirst = 3000;
constexpr int kLast = 3025;

// A library the trials damage: one made from generated sources in a layout, or the demo.
struct Trials {
  ProjectOptions options = {};
  bool demo = false;
  int verify_trials = 100;
  int repair_trials = 60;
};

// What the viewer shows of an icon through one layout: whether it loaded, the picture it drew.
struct View {
  EntryLoad load;
  ContentHash picture;
  friend bool operator==(const View&, const View&) = default;
};

// Not the sources, the project, or the lock.
bool IsLibraryFile(const std::string& name) {
  for (const char* folder : {"pcx/", "lbm/", "wav/"}) {
    if (name.starts_with(folder)) return false;
  }
  return !name.ends_with(".zgl") && !name.ends_with(".py") && !name.ends_with(".lock");
}

// The name the snapshots give a file the project names.
std::string SnapshotName(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

class DamageTrials : public ::testing::TestWithParam<Trials> {
 protected:
  void SetUp() override {
    if (GetParam().demo) {
      MakeDemo();
    } else {
      MakeGenerated();
    }
    ASSERT_TRUE(lib.port.MessageTexts().empty()) << lib.port.MessageTexts().front();
    clean_ = SnapshotFolder(lib.dir.path(), IsLibraryFile);
    offsets_name_ = SnapshotName(lib.settings.FOFS.data());
    coordinates_name_ = SnapshotName(lib.settings.FCOO.data());
    clean_views_ = Views();
  }

  // Icons 3000 to 3011 have boxes of one size, so unpacked entries of one length exist to be
  // swapped; the old library drew some of them otherwise.
  void MakeGenerated() {
    for (int icon = kFirst; icon <= kLast; icon += icon < 3012 ? 1 : 5) {
      lib.AddPcx(icon, icon % 3 == 2 ? XMaskedShape(icon % 7 + 1) : UnmaskedShape(icon % 5 + 1));
    }
    lib.Run(kFirst, kLast);
    old_ = SnapshotFolder(lib.dir.path(), IsLibraryFile);
    for (int icon : {3001, 3004, 3010, 3015}) lib.AddPcx(icon, UnmaskedShape(icon % 4 + 2));
    lib.Run(kFirst, kLast);
    for (int icon = kFirst; icon <= kLast; ++icon) icons_.push_back(icon);
  }

  // The demo as it ships; its old library drew two of its pictures the other way round. The
  // icons viewed are those with an entry and the empty ones after them.
  void MakeDemo() {
    lib.CopyProject(ZGL_DEMO_DIR, "demo.zgl");
    const auto first = ReadFileBytes(lib.PcxPath(3001));
    const auto second = ReadFileBytes(lib.PcxPath(3002));
    WriteFileBytes(lib.PcxPath(3001), second);
    WriteFileBytes(lib.PcxPath(3002), first);
    lib.Run();
    old_ = SnapshotFolder(lib.dir.path(), IsLibraryFile);
    WriteFileBytes(lib.PcxPath(3001), first);
    WriteFileBytes(lib.PcxPath(3002), second);
    lib.settings.DARC = 0;  // the swapped sources may keep their dates
    lib.Run();
    auto table = ReadFileBytes(lib.dir.path() / lib.settings.FOFS.data());
    table.resize(kOffsetsTableSize, 0);
    const OffsetsTable offsets(table);
    for (int icon = 3000; icon <= 4999; ++icon) {
      if (offsets.length(icon) > 0 || offsets.length(icon - 1) > 0) icons_.push_back(icon);
    }
  }

  void Restore() {
    for (const auto& [name, bytes] : SnapshotFolder(lib.dir.path(), IsLibraryFile)) {
      if (!clean_.count(name)) std::filesystem::remove(lib.dir.path() / name);
    }
    for (const auto& [name, bytes] : clean_) WriteFileBytes(lib.dir.path() / name, bytes);
  }

  View ViewOf(int icon) {
    auto picture = lib.state.Picture();
    std::fill(picture.begin(), picture.end(), std::uint8_t{0});
    const EntryLoad load = LoadIconEntry(icon, lib.settings, lib.state);
    return {load, HashBytes(lib.state.Picture())};
  }

  // Every icon through the block files and through the single entry files, with the crop
  // boxes the coordinates file holds.
  std::map<int, std::vector<View>> Views() {
    if (!ReadCoordinatesFile(lib.settings, lib.state)) ClearCoordinates(lib.state);
    std::map<int, std::vector<View>> views;
    const int dblk = lib.settings.DBLK;
    for (const int layout : {2, 1}) {
      if ((dblk & layout) == 0) continue;
      lib.settings.DBLK = layout;
      for (const int icon : icons_) views[icon].push_back(ViewOf(icon));
    }
    lib.settings.DBLK = dblk;
    return views;
  }

  // One damage, chosen and placed by `rng`; says what it did.
  std::string Damage(std::mt19937& rng) {
    std::vector<std::string> blocks, singles;
    for (const auto& [name, bytes] : clean_) {
      if (name.ends_with(".blk")) blocks.push_back(name);
      if (name.ends_with(".zgi")) singles.push_back(name);
    }
    const auto pick = [&](const std::vector<std::string>& from) {
      return from[rng() % from.size()];
    };
    const auto at = [&](std::size_t size) { return size == 0 ? 0 : rng() % size; };
    const std::filesystem::path dir = lib.dir.path();
    const unsigned kind = rng() % 10;
    std::string name = kind == 6 || kind == 9 ? offsets_name_ : kind == 7 ? coordinates_name_ : "";
    if (name.empty()) name = kind == 8 && !singles.empty() ? pick(singles) : pick(blocks);
    auto bytes = clean_.at(name);
    std::string what = name;
    switch (kind) {
      case 0:
      case 8: {  // a bit flipped
        const auto i = at(bytes.size());
        bytes[i] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        what += " bit flipped at " + std::to_string(i);
        break;
      }
      case 1: {  // a byte changed
        const auto i = at(bytes.size());
        bytes[i] = static_cast<std::uint8_t>(bytes[i] + 1 + rng() % 255);
        what += " byte changed at " + std::to_string(i);
        break;
      }
      case 2:  // cut short
        bytes.resize(at(bytes.size()));
        what += " cut to " + std::to_string(bytes.size());
        break;
      case 3: {  // bytes inserted
        const auto i = at(bytes.size() + 1);
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(i), 1 + rng() % 9,
                     static_cast<std::uint8_t>(rng()));
        what += " bytes inserted at " + std::to_string(i);
        break;
      }
      case 4: {  // two entries of one length swapped
        auto table = OffsetsBytes();
        const OffsetsTable offsets(table);
        for (const int a : icons_) {
          for (const int b : icons_) {
            if (b <= a || b / lib.settings.BLKB != a / lib.settings.BLKB) continue;
            const auto la = offsets.length(a), lb = offsets.length(b);
            if (la <= 0 || la != lb || name != BlockOf(a)) continue;
            std::swap_ranges(bytes.begin() + offsets.offset(a),
                             bytes.begin() + offsets.offset(a) + la,
                             bytes.begin() + offsets.offset(b));
            if (!std::equal(bytes.begin(), bytes.end(), clean_.at(name).begin())) {
              WriteFileBytes(dir / name, bytes);
              return what + " entries " + std::to_string(a) + " and " + std::to_string(b) +
                     " swapped";
            }
          }
        }
        return "nothing swapped";
      }
      case 5:  // the block file of the old library
        if (!old_.count(name)) return "no old block";
        bytes = old_.at(name);
        what += " put back as the old library had it";
        break;
      case 6:
      case 7: {  // a record's field edited
        const int icon = icons_[at(icons_.size())];
        const auto i = static_cast<std::size_t>(icon) * 8 + at(8);
        bytes[i] = static_cast<std::uint8_t>(bytes[i] + 1 + rng() % 255);
        what += " record of " + std::to_string(icon) + " edited at " + std::to_string(i);
        break;
      }
      case 9:  // a table cut short
        bytes.resize(static_cast<std::size_t>(icons_[at(icons_.size())]) * 8);
        what += " cut to " + std::to_string(bytes.size());
        break;
    }
    WriteFileBytes(dir / name, bytes);
    return what;
  }

  std::vector<std::uint8_t> OffsetsBytes() const {
    auto bytes = clean_.at(offsets_name_);
    bytes.resize(kOffsetsTableSize, 0);
    return bytes;
  }
  std::string BlockOf(int icon) const {
    Name name = lib.settings.FBLK;
    return StampBlockNumber(icon / lib.settings.BLKB, name) ? SnapshotName(name.data()) : "";
  }

  TestLibrary lib{GetParam().options};
  FolderFiles old_, clean_;
  std::vector<int> icons_;
  std::string offsets_name_, coordinates_name_;
  std::map<int, std::vector<View>> clean_views_;
};

TEST_P(DamageTrials, VerifyNamesEveryIconWhoseViewChangedAndNothingOnACleanLibrary) {
  const VerifyOutcome clean = DeepVerify(lib.settings, lib.state);
  ASSERT_TRUE(clean.findings.empty()) << FindingLine(clean.findings.front());
  std::mt19937 rng(20261208);
  int harmful = 0, named = 0;
  std::vector<std::string> misses;
  const int trials = GetParam().verify_trials;
  for (int trial = 0; trial < trials; ++trial) {
    Restore();
    const std::string what = Damage(rng);
    const auto views = Views();
    const VerifyOutcome outcome = DeepVerify(lib.settings, lib.state);
    std::set<int> found;
    for (const auto& finding : outcome.findings) found.insert(finding.icon);
    for (const auto& [icon, view] : views) {
      if (view == clean_views_.at(icon)) continue;
      ++harmful;
      if (found.count(icon)) {
        ++named;
      } else {
        std::string lines;
        for (const auto& finding : outcome.findings) lines += "    " + FindingLine(finding) + "\n";
        misses.push_back("trial " + std::to_string(trial) + ": " + what + ": icon " +
                         std::to_string(icon) + " not named; verify said:\n" + lines);
      }
    }
  }
  // Most trials harm some icon: otherwise the trials would prove nothing.
  EXPECT_GT(harmful, trials / 2);
  std::string all;
  for (const auto& miss : misses) all += miss + "\n";
  EXPECT_EQ(named, harmful) << misses.size() << " misses:\n" << all;
}

std::string Steps(const RepairOutcome& outcome) {
  std::string text;
  for (const auto& step : outcome.steps) text += "\n    " + RepairStepLine(step);
  for (const auto& finding : outcome.after.findings) text += "\n    after: " + FindingLine(finding);
  return text;
}

TEST_P(DamageTrials, RepairMakesTheCleanLibraryAgain) {
  // What a clean build holds: the checksum file without the runs that wrote it, and no crop
  // box of an icon without an entry (nobody's: no viewer shows it, and a run leaves it).
  auto table = OffsetsBytes();
  const OffsetsTable offsets(table);
  const auto comparable = [&](FolderFiles files) {
    for (auto& [name, bytes] : files) {
      if (name.ends_with(kSumSuffix)) bytes = SumsBesidesRuns(bytes);
      if (name != coordinates_name_) continue;
      for (const int icon : icons_) {
        const auto at = static_cast<std::size_t>(icon) * 8;
        if (offsets.length(icon) <= 0 && at + 8 <= bytes.size()) {
          std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), 8, 0);
        }
      }
    }
    return files;
  };
  const FolderFiles clean = comparable(clean_);
  RecordingPort port;
  Session session(port);
  std::mt19937 rng(20261209);
  std::vector<std::string> failures;
  const char* project = GetParam().demo ? "demo.zgl" : "project.zgl";
  const int trials = GetParam().repair_trials;
  for (int trial = 0; trial < trials; ++trial) {
    Restore();
    port.Clear();
    const std::string what = Damage(rng);
    const RepairOutcome outcome = RepairLibrary(session, project, project);
    const FolderFiles now = comparable(SnapshotFolder(lib.dir.path(), IsLibraryFile));
    if (!Repaired(outcome) || now != clean) {
      std::string differs;
      for (const auto& [name, bytes] : clean) {
        if (!now.count(name) || now.at(name) != bytes) differs += " " + name;
      }
      failures.push_back(
          "trial " + std::to_string(trial) + ": " + what +
          (Repaired(outcome) ? "" : ": not repaired") + ";" + differs +
          (port.MessageTexts().empty() ? "" : " said: " + port.MessageTexts().front()) +
          Steps(outcome));
    }
  }
  std::string all;
  for (const auto& failure : failures) all += failure + "\n";
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << trials << ":\n" << all;
}

// Over three hundred trials to verify, about two hundred to repair; the demo's take longest.
INSTANTIATE_TEST_SUITE_P(
    Libraries, DamageTrials,
    ::testing::Values(Trials{{.dblk = 3, .dpak = 2, .blkb = 20, .nsiz = 5100}},
                      Trials{{.dblk = 2, .dpak = 0, .blkb = 20, .nsiz = 5100}},
                      Trials{.demo = true, .verify_trials = 60, .repair_trials = 30}));

}  // namespace
}  // namespace zemlo::testing::damage_trials
