// `zgl create` killed with SIGKILL at random moments in the middle of a block rewrite, over a
// library of a few hundred icons in blocks of 50 where some icons are replaced, some dropped
// and some added since the library was made. After every kill: each block agrees with the
// offsets file on disk, byte for byte, in its old or its new state, except the block being
// rewritten, whose old content is whole in BLTEMP beside the record naming its block; no
// offsets or coordinates file is ever short; with the archive test, every source that counts
// as converted has its entry and crop box stored. The next command (a check or a run) then
// puts BLTEMP right by itself with one notice, after which every block agrees again and a run
// makes exactly what an uninterrupted run makes.
//
// And the lock: a second command while a run works is refused, names the run's process and
// changes nothing; killing the run frees the library.
//
// Every source is a solid rectangle (no black inside a row), so a clean library gives no
// warning at all in the check and every warning the check shows names a damaged block.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/geometry.h"
#include "files/file_layer.h"
#include "picture/pcx_writer.h"
#include "support/folder_snapshot.h"
#include "support/library_files.h"
#include "support/temp_dir.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kNsiz = 5000;
constexpr int kBlkb = 50;
constexpr int kFirstIcon = 3000;
constexpr int kLastIcon = 4999;
// Kills per run: 8 in the ordinary test run, ZGL_KILL_TRIALS for a longer soak (CI runs 16).
constexpr int kDefaultKills = 8;
constexpr std::uint32_t kSeed = 20261207;

const char* const kProjectText =
    "Kill test project\n"
    "FSEP s0_0_0_0.zgi \n"
    "FCOO lib.coo \n"
    "FOFS lib.ofs \n"
    "FBLK lib00.blk \n"
    "FPCX p0_0_0_0.pcx \n"
    "FLBM i0_0_0_0.lbm \n"
    "FWAV w0_0_0_0.wav \n"
    "NSIZ 5000\n"
    "BLKB 50\n"
    "DVIE 0\n"
    "DBLK 3\n"
    "DARC 0\n"
    "DPAK 0\n";

int KillCount() {
  const char* text = std::getenv("ZGL_KILL_TRIALS");
  const int count = text != nullptr ? std::atoi(text) : 0;
  return count > 0 ? count : kDefaultKills;
}

std::string IconName(char prefix, int icon, const char* extension) {
  return std::string(1, prefix) + std::to_string(icon / 1000) + "_" +
         std::to_string(icon / 100 % 10) + "_" + std::to_string(icon / 10 % 10) + "_" +
         std::to_string(icon % 10) + extension;
}
std::string BlockName(int block) {
  return "lib" + std::to_string(block / 10) + std::to_string(block % 10) + ".blk";
}

// A solid rectangle whose size, place and colours follow the icon and the version; blue is
// never 0, so no pixel inside is black and every row has one transition: "Unmasked".
Bytes SourcePcx(int icon, int version) {
  std::mt19937 rng(static_cast<std::uint32_t>(icon * 7 + version * 100003));
  const int width = 4 + static_cast<int>(rng() % 40);
  const int height = 3 + static_cast<int>(rng() % 30);
  const int left = static_cast<int>(rng() % (kPictureWidth - width));
  const int top = static_cast<int>(rng() % (kPictureHeight - height));
  Bytes picture(kPictureBytes, 0);
  for (int y = top; y < top + height; ++y) {
    for (int x = left; x < left + width; ++x) {
      std::uint8_t* p = &picture[(static_cast<std::size_t>(y) * kPictureWidth + x) * 3];
      p[0] = static_cast<std::uint8_t>(1 + (x * 3 + version) % 250);
      p[1] = static_cast<std::uint8_t>(y * 5 + icon);
      p[2] = static_cast<std::uint8_t>(x + y + version * 40);
    }
  }
  Bytes out(kPcxMaxSize);
  out.resize(EncodePcx(picture, out));
  return out;
}

// Everything in a folder, by name.
using Snapshot = std::map<std::string, Bytes>;

Snapshot TakeSnapshot(const fs::path& dir) { return SnapshotFolder(dir, AtTop); }

// Two folders hold the same library: the checksum files are compared as two libraries of the
// same entries share them, since a killed run and its recovery are runs of their own.
bool SameLibrary(const Snapshot& a, const Snapshot& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [name, bytes] : a) {
    const auto other = b.find(name);
    if (other == b.end()) return false;
    const bool same = name.ends_with(kSumSuffix)
                          ? SumsBesidesRuns(bytes) == SumsBesidesRuns(other->second)
                          : bytes == other->second;
    if (!same) return false;
  }
  return true;
}

// A library as the tests compare it: the offsets file and each block's file (empty when the
// block has none).
struct Library {
  Bytes offsets;
  std::map<int, Bytes> blocks;
};

std::int32_t Field(const Bytes& offsets, std::size_t at) {
  if (at + 4 > offsets.size()) return 0;
  return static_cast<std::int32_t>(offsets[at] | offsets[at + 1] << 8 | offsets[at + 2] << 16 |
                                   static_cast<std::uint32_t>(offsets[at + 3]) << 24);
}

Library ReadLibrary(const fs::path& dir) {
  Library lib;
  lib.offsets = ReadFileBytes(dir / "lib.ofs");
  for (int block = kFirstIcon / kBlkb; block <= kLastIcon / kBlkb; ++block) {
    const fs::path file = dir / BlockName(block);
    lib.blocks[block] = fs::exists(file) ? ReadFileBytes(file) : Bytes{};
  }
  return lib;
}

// The records of a block's icons, as bytes.
Bytes BlockRecords(const Bytes& offsets, int block) {
  const std::size_t from = static_cast<std::size_t>(block) * kBlkb * 8;
  Bytes records(kBlkb * 8, 0);
  for (std::size_t i = 0; i < records.size() && from + i < offsets.size(); ++i) {
    records[i] = offsets[from + i];
  }
  return records;
}

// The block's file holds exactly what its records describe, back to back.
bool SelfConsistent(const Bytes& offsets, int block, const Bytes& file) {
  std::int64_t position = 0;
  for (int icon = block * kBlkb; icon < (block + 1) * kBlkb; ++icon) {
    const std::int32_t offset = Field(offsets, icon * 8u);
    const std::int32_t length = Field(offsets, icon * 8u + 4);
    if (length == 0) {
      if (offset != 0) return false;
      continue;
    }
    if (length < 0 || offset != position) return false;
    position += length;
  }
  return position == static_cast<std::int64_t>(file.size());
}

enum class BlockState { kOld, kNew, kNeither };

BlockState StateOf(const Library& disk, int block, const Library& old_lib, const Library& new_lib) {
  const Bytes records = BlockRecords(disk.offsets, block);
  const Bytes& file = disk.blocks.at(block);
  if (!SelfConsistent(disk.offsets, block, file)) return BlockState::kNeither;
  if (records == BlockRecords(old_lib.offsets, block) && file == old_lib.blocks.at(block)) {
    return BlockState::kOld;
  }
  if (records == BlockRecords(new_lib.offsets, block) && file == new_lib.blocks.at(block)) {
    return BlockState::kNew;
  }
  return BlockState::kNeither;
}

struct RunResult {
  int status = -1;     // exit status, or -1 when killed
  std::string errors;  // the message lines
  std::string own;     // zgl's own lines ("zgl: "), such as the summary a run ends with
};

// Starts zgl with `args` (stdout to /dev/null, stderr to `err_file`) and returns at once.
pid_t SpawnZgl(const std::vector<std::string>& args, const fs::path& err_file) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    std::string program = ZGL_PROGRAM;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(ZGL_PROGRAM, argv.data());
    _exit(127);
  }
  return pid;
}

// Waits for a spawned zgl.
RunResult WaitZgl(pid_t pid, const fs::path& err_file) {
  RunResult result;
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  const Bytes err = ReadFileBytes(err_file);
  const std::string text(err.begin(), err.end());
  for (std::size_t begin = 0; begin < text.size();) {
    const std::size_t end = std::min(text.find('\n', begin), text.size() - 1) + 1;
    const std::string line = text.substr(begin, end - begin);
    (line.starts_with("zgl: ") ? result.own : result.errors) += line;
    begin = end;
  }
  return result;
}

// Runs zgl with `args`; kills it with SIGKILL after `kill_after` when given.
RunResult RunZgl(const std::vector<std::string>& args, const fs::path& err_file,
                 std::optional<std::chrono::microseconds> kill_after = std::nullopt) {
  const pid_t pid = SpawnZgl(args, err_file);
  if (kill_after) {
    std::this_thread::sleep_for(*kill_after);
    kill(pid, SIGKILL);
  }
  return WaitZgl(pid, err_file);
}

// The notices of the automatic recovery, as far as they do not name the block.
constexpr const char* kMovedBackText = "The block was put back as it was before that run.";
constexpr const char* kRemovedText = "The leftover copy of the block's old content was removed.";

// "p3_0_0_1.pcx" -> 3001.
int IconOfSource(const std::string& name) {
  return (name[1] - '0') * 1000 + (name[3] - '0') * 100 + (name[5] - '0') * 10 + (name[7] - '0');
}

class KillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A killed process leaves what it wrote in the page cache whatever the disk: a memory
    // file system tests the same thing without waiting for the flushes of some hundred runs.
    if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
    temp = std::make_unique<TempDir>();
    project = temp->path() / "lib";
    reference = temp->path() / "reference";
    fs::create_directories(project);
    WriteFileBytes(project / "kill.zgl",
                   Bytes(kProjectText, kProjectText + std::strlen(kProjectText)));
    // Version 1: every fourth icon of the range but those ending in 0 or 5: 400 icons.
    for (int icon = kFirstIcon; icon <= kLastIcon; icon += 4) {
      if (icon % 5 == 0) continue;
      WriteFileBytes(project / IconName('p', icon, ".pcx"), SourcePcx(icon, 1));
      version1.insert(icon);
    }
  }

  fs::path Err(const char* name) const { return temp->path() / name; }
  std::string Project(const fs::path& folder) const { return (folder / "kill.zgl").string(); }

  // The old library, sources changed since, the uninterrupted run over them in a copy, and
  // then `kills` runs killed at random moments, each followed by the next command.
  void KillTrials(bool archive_test, int kills);

  // The sources whose archive attribute was clear (converted and unchanged since) in the
  // trials' start state; rewriting a file sets it, so they are cleared again.
  void SettleSources(const fs::path& folder) const {
    for (const std::string& name : settled) {
      ASSERT_TRUE(files::SetAttributesNormal((folder / name).string().c_str())) << name;
    }
  }
  void Restore(const Snapshot& start) const {
    for (const auto& entry : fs::directory_iterator(project)) fs::remove(entry.path());
    for (const auto& [name, bytes] : start) WriteFileBytes(project / name, bytes);
    SettleSources(project);
  }

  std::unique_ptr<TempDir> temp;
  fs::path project;
  fs::path reference;
  std::set<int> version1;
  std::set<std::string> settled;
};

void KillTest::KillTrials(bool archive_test, int kills) {
  if (archive_test) {
    std::string text = kProjectText;
    text.replace(text.find("DARC 0"), 6, "DARC 1");
    WriteFileBytes(project / "kill.zgl", Bytes(text.begin(), text.end()));
  }
  // The old library: one complete run, which only notes its new coordinates file.
  RunResult first = RunZgl({"create", Project(project)}, Err("first.err"));
  ASSERT_EQ(first.status, 0) << first.errors;
  ASSERT_EQ(first.errors, "ZCreate: Could not read coordinates file lib.coo. Creating new one.\n");
  RunResult clean = RunZgl({"check", Project(project)}, Err("check.err"));
  ASSERT_EQ(clean.status, 0) << clean.errors;
  const Snapshot old_files = TakeSnapshot(project);
  const Library old_lib = ReadLibrary(project);

  // The changed sources: some replaced (other sizes), some dropped, some added.
  std::mt19937 rng(kSeed);
  int replaced = 0, dropped = 0, added = 0;
  for (int icon : version1) {
    const unsigned pick = rng() % 10;
    if (pick < 3) {
      WriteFileBytes(project / IconName('p', icon, ".pcx"), SourcePcx(icon, 2)), ++replaced;
    } else if (pick == 3) {
      fs::remove(project / IconName('p', icon, ".pcx")), ++dropped;
    }
  }
  for (int icon = kFirstIcon + 1; icon <= kLastIcon; icon += 23) {
    if (version1.count(icon) == 0) {
      WriteFileBytes(project / IconName('p', icon, ".pcx"), SourcePcx(icon, 3)), ++added;
    }
  }
  ASSERT_GT(replaced, 20);
  ASSERT_GT(dropped, 5);
  ASSERT_GT(added, 20);
  // The sources as they now are, with the old library beside them: every trial starts here.
  Snapshot start = TakeSnapshot(project);
  for (const auto& [name, bytes] : start) {
    if (name.front() == 'p' && !files::ArchiveAttributeSet((project / name).string().c_str())) {
      settled.insert(name);
    }
  }
  if (archive_test) {
    ASSERT_GT(settled.size(), 200u);
  }

  // The new library: the same run, uninterrupted, in a copy; it also gives the run's length.
  fs::copy(project, reference);
  SettleSources(reference);
  const auto before = std::chrono::steady_clock::now();
  RunResult full = RunZgl({"create", Project(reference)}, Err("full.err"));
  const auto run_time = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - before);
  ASSERT_EQ(full.status, 0) << full.errors;
  const Library new_lib = ReadLibrary(reference);
  const Snapshot new_files = TakeSnapshot(reference);
  int changed_blocks = 0;
  for (const auto& [block, bytes] : new_lib.blocks)
    changed_blocks += bytes != old_lib.blocks.at(block);
  ASSERT_GT(changed_blocks, 30);

  int with_temp = 0, moved_back = 0, finished = 0;
  for (int trial = 0; trial < kills; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    // Back to the old library with the new sources.
    Restore(start);

    const auto delay = std::chrono::microseconds(rng() % (run_time.count() + 1));
    const RunResult killed = RunZgl({"create", Project(project)}, Err("killed.err"), delay);
    if (killed.status >= 0) ++finished;

    // No offsets or coordinates file is ever short.
    EXPECT_EQ(fs::file_size(project / "lib.ofs"), kNsiz * 8u);
    EXPECT_EQ(fs::file_size(project / "lib.coo"), kNsiz * 8u);

    // A cleared archive attribute means the icon's entry and crop box are stored: those
    // the killed run converted are in the library as the uninterrupted run made them.
    const Library disk = ReadLibrary(project);
    if (archive_test) {
      const Bytes coordinates = ReadFileBytes(project / "lib.coo");
      for (const auto& entry : fs::directory_iterator(project)) {
        const std::string name = entry.path().filename().string();
        if (name.front() != 'p' || settled.count(name) != 0 ||
            files::ArchiveAttributeSet(entry.path().string().c_str())) {
          continue;
        }
        const int icon = IconOfSource(name);
        const std::size_t at = static_cast<std::size_t>(icon) * 8;
        EXPECT_TRUE(std::equal(coordinates.begin() + at, coordinates.begin() + at + 8,
                               new_files.at("lib.coo").begin() + at))
            << "stale crop box of icon " << icon;
        EXPECT_EQ(StateOf(disk, icon / kBlkb, old_lib, new_lib), BlockState::kNew)
            << "icon " << icon << " counts as converted, its block is not new";
      }
    }

    // Every block agrees with the offsets file, old or new, but the one being rewritten,
    // whose old content is whole in BLTEMP.
    const bool temp_left = fs::exists(project / "BLTEMP");
    std::vector<int> disagreeing;
    for (const auto& [block, file] : disk.blocks) {
      if (StateOf(disk, block, old_lib, new_lib) == BlockState::kNeither) {
        disagreeing.push_back(block);
      }
    }
    if (!temp_left) {
      EXPECT_TRUE(disagreeing.empty()) << "block " << disagreeing.front();
    } else {
      ++with_temp;
      const Bytes temp_bytes = ReadFileBytes(project / "BLTEMP");
      ASSERT_LE(disagreeing.size(), 1u);
      if (!disagreeing.empty()) {
        const int block = disagreeing.front();
        EXPECT_EQ(temp_bytes, old_lib.blocks.at(block)) << "block " << block;
        EXPECT_EQ(BlockRecords(disk.offsets, block), BlockRecords(old_lib.offsets, block));
      } else {
        bool some_block = false;
        for (const auto& [block, bytes] : old_lib.blocks) some_block |= bytes == temp_bytes;
        EXPECT_TRUE(some_block) << "BLTEMP is no block's old content";
      }
      // BLTEMP never exists without the record of its block.
      EXPECT_TRUE(fs::exists(project / "BLTEMP.REC"));
    }

    // The next command, a check or a run, puts it right by itself and says so in one notice;
    // there is nothing else to say.
    const bool check_next = trial % 2 == 0;
    const RunResult next =
        RunZgl({check_next ? "check" : "create", Project(project)}, Err("next.err"));
    EXPECT_EQ(next.status, 0) << next.errors;
    const bool back = next.errors.find(kMovedBackText) != std::string::npos;
    const bool removed = next.errors.find(kRemovedText) != std::string::npos;
    EXPECT_EQ(std::count(next.errors.begin(), next.errors.end(), '\n'), temp_left ? 1 : 0)
        << next.errors;
    EXPECT_EQ(back || removed, temp_left) << next.errors;
    // A block whose file disagrees has its old content back.
    if (!disagreeing.empty()) {
      EXPECT_TRUE(back) << next.errors;
    }
    moved_back += back;
    EXPECT_FALSE(fs::exists(project / "BLTEMP"));
    EXPECT_FALSE(fs::exists(project / "BLTEMP.REC"));
    EXPECT_FALSE(fs::exists(project / "lib.ofs.zgl-new"));
    EXPECT_FALSE(fs::exists(project / "lib.coo.zgl-new"));
    const Library recovered = ReadLibrary(project);
    for (const auto& [block, file] : recovered.blocks) {
      EXPECT_NE(StateOf(recovered, block, old_lib, new_lib), BlockState::kNeither)
          << "block " << block << " after recovery";
    }

    // A run (the next command, or the one after the check) makes exactly the new library;
    // the check then finds nothing.
    if (check_next) {
      const RunResult again = RunZgl({"create", Project(project)}, Err("again.err"));
      EXPECT_EQ(again.status, 0) << again.errors;
      EXPECT_EQ(again.errors, "");
    }
    EXPECT_TRUE(SameLibrary(TakeSnapshot(project), new_files))
        << "the library differs from an uninterrupted run's";
    const RunResult after = RunZgl({"check", Project(project)}, Err("after.err"));
    EXPECT_EQ(after.status, 0) << after.errors;
    EXPECT_EQ(after.errors, "");
  }
  // The kills must have landed inside block rewrites, not only between runs: at least a
  // quarter of them (a machine whose load changes moves some kills past a run's end).
  EXPECT_GE(with_temp * 4, kills);
  std::printf(
      "kills: %d, BLTEMP left: %d, block put back: %d, run finished: %d, "
      "one run: %lld ms\n",
      kills, with_temp, moved_back, finished, static_cast<long long>(run_time.count() / 1000));
}

TEST_F(KillTest, ASecondCommandIsRefusedWhileARunWorksAndTheLockDiesWithTheRun) {
  const RunResult first = RunZgl({"create", Project(project)}, Err("first.err"));
  ASSERT_LE(first.status, 1) << first.errors;
  // Every source changed: the run rewrites every block.
  for (int icon : version1)
    WriteFileBytes(project / IconName('p', icon, ".pcx"), SourcePcx(icon, 2));
  fs::copy(project, reference);
  ASSERT_EQ(RunZgl({"create", Project(reference)}, Err("full.err")).status, 0);
  const Snapshot new_files = TakeSnapshot(reference);

  const pid_t running = SpawnZgl({"create", Project(project)}, Err("running.err"));
  // Caught inside a block rewrite, and held there while the others try.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fs::exists(project / "BLTEMP") && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(running, SIGSTOP);
  // kill() returns before a run on the other core has stopped: wait until it has, or the
  // folder may still change under the snapshot.
  int stopped = 0;
  ASSERT_EQ(waitpid(running, &stopped, WUNTRACED), running);
  ASSERT_TRUE(WIFSTOPPED(stopped));
  ASSERT_TRUE(fs::exists(project / "BLTEMP")) << "the run never opened a block";
  const Snapshot during = TakeSnapshot(project);
  const std::string busy =
      "another run is working on this library (process " + std::to_string(running) + ")";
  const fs::path saved = temp->path() / "saved.pcx";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"create", Project(project)},
                                               {"check", Project(project)},
                                               {"show", Project(project)},
                                               {"save", Project(project), "3001", saved.string()},
                                               {"verify", Project(project)}}) {
    SCOPED_TRACE(args[0]);
    const RunResult second = RunZgl(args, Err("second.err"));
    EXPECT_EQ(second.status, 1) << second.errors;
    EXPECT_NE(second.errors.find(busy), std::string::npos) << second.errors;
    EXPECT_TRUE(TakeSnapshot(project) == during) << "the refused command changed the folder";
  }
  EXPECT_FALSE(fs::exists(saved));
  EXPECT_FALSE(fs::exists(project / "IFF"));

  // Killed while it holds the lock: the system drops it, and the next run takes over.
  kill(running, SIGKILL);
  EXPECT_EQ(WaitZgl(running, Err("running.err")).status, -1);
  const RunResult next = RunZgl({"create", Project(project)}, Err("next.err"));
  EXPECT_EQ(next.status, 0) << next.errors;
  EXPECT_EQ(next.errors.find("another run"), std::string::npos) << next.errors;
  EXPECT_TRUE(SameLibrary(TakeSnapshot(project), new_files))
      << "the library differs from an uninterrupted run's";
}

TEST_F(KillTest, KilledRunsLoseNothingAndTheNextCommandRecoversByItself) {
  KillTrials(/*archive_test=*/false, KillCount());
}

// With the archive test a converted source is skipped from then on, so a crop box that a
// killed run did not store would stay wrong for good.
TEST_F(KillTest, WithTheArchiveTestNoCropBoxGoesStale) {
  // Fewer: nearly every kill lands after some block was finished.
  KillTrials(/*archive_test=*/true, std::max(4, KillCount() / 2));
}

}  // namespace
}  // namespace zemlo::testing
