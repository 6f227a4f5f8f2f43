// zgl against faults and mistakes, from the outside. Each case is one change to a small,
// healthy project and its library, a command, and what must follow: the exit status, the
// messages, and which files may change ("before anything is touched" means: none). The
// library is made once; every case works on a copy of it. Natively and under Wine, where the
// Windows test program starts zgl.exe itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/geometry.h"
#include "picture/pcx_writer.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kRunLimit = std::chrono::seconds(120);

const char* const kProjectText =
    " fault test project\n"
    "FSEP sep\\s0_0_0_0.zgi \n"
    "FCOO lib.coo \n"
    "FOFS lib.ofs \n"
    "FBLK blk\\lib00.blk \n"
    "FPCX pcx\\p0_0_0_0.pcx \n"
    "FLBM lbm\\i0_0_0_0.lbm \n"
    "FWAV wav\\w0_0_0_0.wav \n"
    "NSIZ 5000\n"
    "BLKB 100\n"
    "DVIE 0\n"
    "DBLK 3\n"
    "DARC 0\n"
    "DPAK 0\n";

// Icons 3000 and 3001 share block 30; 3101 and 4999 have blocks of their own.
constexpr int kSources[] = {3000, 3001, 3101, 4999};

std::string PcxName(int icon) {
  return "pcx/p" + std::to_string(icon / 1000) + "_" + std::to_string(icon / 100 % 10) + "_" +
         std::to_string(icon / 10 % 10) + "_" + std::to_string(icon % 10) + ".pcx";
}

// A solid rectangle (no black inside), placed and coloured by the icon.
Bytes SourcePcx(int icon) {
  Bytes picture(kPictureBytes, 0);
  const int left = 10 + icon % 300, top = 20 + icon % 200;
  for (int y = top; y < top + 30; ++y) {
    for (int x = left; x < left + 40; ++x) {
      std::uint8_t* p = &picture[(static_cast<std::size_t>(y) * kPictureWidth + x) * 3];
      p[0] = static_cast<std::uint8_t>(1 + (x + icon) % 250);
      p[1] = static_cast<std::uint8_t>(y * 3);
      p[2] = static_cast<std::uint8_t>(icon);
    }
  }
  Bytes out(kPcxMaxSize);
  out.resize(EncodePcx(picture, out));
  return out;
}

// Every entry under a folder: files by content, folders and anything else by kind.
using Tree = std::map<std::string, Bytes>;

Tree TakeTree(const fs::path& dir) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string name = entry.path().lexically_relative(dir).generic_string();
    const auto status = entry.symlink_status();
    if (fs::is_regular_file(status)) {
      tree[name] = ReadFileBytes(entry.path());
    } else {
      const std::string kind = fs::is_directory(status) ? "<folder>" : "<other>";
      tree[name] = Bytes(kind.begin(), kind.end());
    }
  }
  return tree;
}

// What differs between two trees, for a failure message.
std::string Differences(const Tree& before, const Tree& after) {
  std::string out;
  for (const auto& [name, bytes] : before) {
    const auto found = after.find(name);
    if (found == after.end()) {
      out += " removed " + name + ";";
    } else if (found->second != bytes) {
      out += " changed " + name + ";";
    }
  }
  for (const auto& [name, bytes] : after) {
    if (!before.contains(name)) out += " added " + name + ";";
  }
  return out;
}

// Which files the command may change.
enum class Keep {
  kEverything,  // nothing at all: the command refused before touching anything
  kLibrary,     // the project's folder ("lib"); outputs beside it may appear
  kNothing,     // the command changes the library; `more` checks what matters
};

using Change = std::function<void(const fs::path& dir)>;
using Check = std::function<void(const fs::path& dir, const ProgramResult&)>;

struct Case {
  Case(std::string name_, Change change_, std::vector<std::string> args_, int status_,
       std::vector<std::string> messages_, Keep keep_ = Keep::kEverything, Check more_ = {})
      : name(std::move(name_)),
        change(std::move(change_)),
        args(std::move(args_)),
        status(status_),
        messages(std::move(messages_)),
        keep(keep_),
        more(std::move(more_)) {}

  std::string name;
  Change change;                  // on the case's folder
  std::vector<std::string> args;  // run from the case's folder
  int status;
  std::vector<std::string> messages;  // each must appear on stderr
  Keep keep;
  Check more;  // further checks
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// ---- changes ------------------------------------------------------------------------------

const char* const kProject = "lib/project.zgl";

std::function<void(const fs::path&)> Append(const std::string& text) {
  return [text](const fs::path& dir) {
    Bytes bytes = ReadFileBytes(dir / kProject);
    bytes.insert(bytes.end(), text.begin(), text.end());
    WriteFileBytes(dir / kProject, bytes);
  };
}

std::function<void(const fs::path&)> WriteFile(const std::string& name, const std::string& text) {
  return [name, text](const fs::path& dir) {
    fs::create_directories((dir / name).parent_path());
    WriteFileBytes(dir / name, Bytes(text.begin(), text.end()));
  };
}

std::function<void(const fs::path&)> Remove(std::vector<std::string> names) {
  return [names](const fs::path& dir) {
    for (const auto& name : names) fs::remove_all(dir / name);
  };
}

std::function<void(const fs::path&)> CutTo(const std::string& name, std::uintmax_t size) {
  return [name, size](const fs::path& dir) { fs::resize_file(dir / name, size); };
}

std::function<void(const fs::path&)> MakeFolder(const std::string& name) {
  return [name](const fs::path& dir) { fs::create_directories(dir / name); };
}

#if !defined(_WIN32)
std::function<void(const fs::path&)> MakeFifo(const std::string& name) {
  return [name](const fs::path& dir) {
    fs::remove(dir / name);
    ASSERT_EQ(::mkfifo((dir / name).c_str(), 0600), 0);
  };
}
#endif

void Nothing(const fs::path&) {}

// ---- checks -------------------------------------------------------------------------------

std::size_t Lines(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

void RunCompleted(const fs::path& dir, const ProgramResult&) {
  EXPECT_FALSE(fs::exists(dir / "lib/BLTEMP"));
  EXPECT_EQ(fs::file_size(dir / "lib/lib.ofs"), 40000u);
  EXPECT_EQ(fs::file_size(dir / "lib/lib.coo"), 40000u);
}

// The PCX files in a folder, by name.
std::vector<std::string> PcxFiles(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (fs::is_regular_file(entry.symlink_status()))
      names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Written(std::initializer_list<int> icons) {
  std::vector<std::string> names;
  for (const int icon : icons) names.push_back(fs::path(PcxName(icon)).filename().string());
  return names;
}

// A PNG file of that size and PNG colour type (2: red, green, blue; 6: and alpha), by its
// signature and header chunk.
void ExpectPng(const fs::path& path, std::uint32_t width, std::uint32_t height, int colour_type) {
  const Bytes bytes = ReadFileBytes(path);
  ASSERT_GT(bytes.size(), 33u) << path;
  const Bytes signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                           0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  EXPECT_TRUE(std::equal(signature.begin(), signature.end(), bytes.begin())) << path;
  const auto big32 = [&bytes](std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
           std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
  };
  EXPECT_EQ(big32(16), width) << path;
  EXPECT_EQ(big32(20), height) << path;
  EXPECT_EQ(bytes[24], 8) << path;
  EXPECT_EQ(bytes[25], colour_type) << path;
}

std::string PngName(int icon) {
  const std::string pcx = PcxName(icon);
  return pcx.substr(0, pcx.size() - 4) + ".png";
}

// A name below the case's folder as zgl shows it (the end of an absolute name).
std::string Shown(const std::string& name) { return fs::path(name).make_preferred().string(); }

// ---- the suite ----------------------------------------------------------------------------

class ZglFaults : public ::testing::TestWithParam<Case> {
 public:
  // The healthy project and its library, made once by zgl itself.
  static void SetUpTestSuite() {
    base_ = new TempDir;
    const fs::path lib = base_->path() / "lib";
    for (const char* sub : {"pcx", "lbm", "wav", "sep", "blk"}) fs::create_directories(lib / sub);
    WriteFileBytes(lib / "project.zgl",
                   Bytes(kProjectText, kProjectText + std::strlen(kProjectText)));
    for (const int icon : kSources) WriteFileBytes(lib / PcxName(icon), SourcePcx(icon));
    Program zgl(kZgl, {"create", "lib/project.zgl"}, base_->path(), base_->path() / "out.txt",
                base_->path() / "err.txt");
    const ProgramResult made = zgl.Wait(kRunLimit);
    base_ok_ = made.status == 0 && fs::exists(lib / "blk/lib30.blk");
    fs::remove(base_->path() / "out.txt");
    fs::remove(base_->path() / "err.txt");
  }
  static void TearDownTestSuite() {
    delete base_;
    base_ = nullptr;
  }

  static inline const std::string kZgl = ProgramPath(ZGL_PROGRAM);
  static inline TempDir* base_ = nullptr;
  static inline bool base_ok_ = false;
};

TEST_P(ZglFaults, Case) {
  ASSERT_TRUE(base_ok_) << "the healthy library could not be made";
  const Case& c = GetParam();
  TempDir work;
  const fs::path dir = work.path();
  fs::copy(base_->path() / "lib", dir / "lib", fs::copy_options::recursive);
  c.change(dir);
  const Tree before = TakeTree(dir);
  const Tree library_before = TakeTree(dir / "lib");

  Program zgl(kZgl, c.args, dir, work.path().parent_path() / (dir.filename().string() + ".out"),
              work.path().parent_path() / (dir.filename().string() + ".err"));
  ASSERT_TRUE(zgl.started());
  const ProgramResult result = zgl.Wait(kRunLimit);
  fs::remove(work.path().parent_path() / (dir.filename().string() + ".out"));
  fs::remove(work.path().parent_path() / (dir.filename().string() + ".err"));

  ASSERT_FALSE(result.timed_out) << "zgl did not end";
  EXPECT_EQ(result.status, c.status) << result.err;
  for (const auto& message : c.messages) {
    EXPECT_NE(result.err.find(message), std::string::npos) << "missing \"" << message << "\" in:\n"
                                                           << result.err;
  }
  if (c.keep == Keep::kEverything) {
    const Tree after = TakeTree(dir);
    EXPECT_TRUE(after == before) << "changed:" << Differences(before, after);
  } else if (c.keep == Keep::kLibrary) {
    const Tree after = TakeTree(dir / "lib");
    EXPECT_TRUE(after == library_before) << "changed:" << Differences(library_before, after);
  }
  if (c.more) c.more(dir, result);
}

std::string Name(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

// Values that cannot work: refused before anything is touched, the tag and value named.
std::vector<Case> ProjectValueCases() {
  const std::string long_name(300, 'n');
  return {
      {"NsizBelowTheIconsCreateCovers",
       Append(" NSIZ 4999\n"),
       {"create", kProject},
       1,
       {"NSIZ is 4999", "at least 5000"}},
      {"NsizZeroForShow",
       Append(" NSIZ 0\n"),
       {"show", kProject, "--into", "out"},
       1,
       {"NSIZ is 0"}},
      {"NsizBelowForCheck", Append(" NSIZ 100\n"), {"check", kProject}, 1, {"NSIZ is 100"}},
      {"NsizBelowForSave",
       Append(" NSIZ 100\n"),
       {"save", kProject, "3000", "one.pcx"},
       1,
       {"NSIZ is 100"}},
      {"NameTooLongToKeepWhole",
       Append(" FCOO " + long_name + " \n"),
       {"create", kProject},
       1,
       {"the FCOO name is 300 characters long"}},
      {"OffsetsAndCoordinatesOneFile",
       Append(" FCOO LIB.OFS \n"),
       {"create", kProject},
       1,
       {"FOFS and FCOO both name the file lib.ofs"}},
      {"CoordinatesAreABlockFile",
       Append(" FCOO blk/LIB30.blk \n"),
       {"create", kProject},
       1,
       {"FCOO and FBLK (block 30) both name the file blk/LIB30.blk"}},
      {"OffsetsAreTheProjectFile",
       Append(" FOFS .\\project.zgl \n"),
       {"check", kProject},
       1,
       {"the project info file and FOFS both name the file project.zgl"}},
      {"SingleEntriesOverwriteSources",
       Append(" FSEP PCX\\p0_0_0_0.pcx \n"),
       {"create", kProject},
       1,
       {"FSEP (icon 0) and FPCX (icon 0) both name the file"}},
      {"CoordinatesInTheTemporaryBlockFile",
       Append(" FCOO bltemp \n"),
       {"create", kProject},
       1,
       {"the temporary block file BLTEMP and FCOO both name the file BLTEMP"}},
      {"NumberTagWithTwoBlanks",
       Append(" DBLK  3\n"),
       {"create", kProject},
       1,
       {"DBLK \" 3\" is not a number"}},
      {"NumberTagWithALetter",
       Append(" DBLK x\n"),
       {"create", kProject},
       1,
       {"DBLK \"x\" is not a number"}},
      {"TableSizeWithoutDigits",
       Append(" NSIZ many\n"),
       {"show", kProject, "--into", "out"},
       1,
       {"NSIZ \"many\" is not a number"}},
      {"TagInACommentAfterTheSetting",
       Append(" note: DARC is on when sources are kept\n"),
       {"create", kProject},
       1,
       {"DARC \"is on when sources are kept\" is not a number"}},
  };
}
INSTANTIATE_TEST_SUITE_P(ProjectValues, ZglFaults, ::testing::ValuesIn(ProjectValueCases()), Name);

// Files that are no project: no run starts.
std::vector<Case> NotAProjectCases() {
  std::vector<Case> cases = {
      {"EmptyFile",
       WriteFile(kProject, ""),
       {"create", kProject},
       1,
       {"project.zgl is not a project info file: it names no output file"}},
      {"CommentsOnly",
       WriteFile(kProject, "; the town set\n; made in spring\n"),
       {"create", kProject},
       1,
       {"is not a project info file"}},
      {"BinaryBytes",
       WriteFile(kProject, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)),
       {"check", kProject},
       1,
       {"is not a project info file"}},
      {"OutputsButNoSources",
       WriteFile(kProject, " FOFS lib.ofs \n FCOO lib.coo \n"),
       {"create", kProject},
       1,
       {"it names no source pattern"}},
      {"FolderGivenAsProject",
       MakeFolder("lib/folder.zgl"),
       {"create", "lib/folder.zgl"},
       1,
       {"Could not read file folder.zgl!"}},
  };
#if !defined(_WIN32)
  cases.push_back({"FifoGivenAsProject",
                   MakeFifo("lib/pipe.zgl"),
                   {"create", "lib/pipe.zgl"},
                   1,
                   {"Could not read file pipe.zgl!"}});
#endif
  return cases;
}
INSTANTIATE_TEST_SUITE_P(NotAProject, ZglFaults, ::testing::ValuesIn(NotAProjectCases()), Name);

// Things that stand where a source should: never opened, "could not be loaded", the run ends
// normally.
std::vector<Case> SourceKindCases() {
  std::vector<Case> cases = {
      {"FolderAtASourceName",
       MakeFolder("lib/pcx/p3_0_0_5.pcx"),
       {"create", kProject},
       1,
       {"PCX pcx\\p3_0_0_5.pcx could not be loaded"},
       Keep::kNothing,
       RunCompleted},
  };
#if !defined(_WIN32)
  cases.push_back({"FifoAtASourceName",
                   MakeFifo("lib/pcx/p3_0_0_1.pcx"),
                   {"create", kProject},
                   1,
                   {"PCX pcx\\p3_0_0_1.pcx could not be loaded"},
                   Keep::kNothing,
                   RunCompleted});
#endif
  return cases;
}
INSTANTIATE_TEST_SUITE_P(SourceKinds, ZglFaults, ::testing::ValuesIn(SourceKindCases()), Name);

// Exit statuses that tell what happened.
std::vector<Case> ExitStatusCases() {
  const auto loaded = [](const std::string& count) {
    return "2000 of 2000 icons exported, " + count;
  };
  return {
      {"ShowOfAHealthyLibrary",
       Nothing,
       {"show", kProject, "--into", "out"},
       0,
       {loaded("4 with an entry; 0 could not be loaded")},
       Keep::kLibrary},
      {"ShowOfABlockCutShort",
       CutTo("lib/blk/lib30.blk", 10),
       {"show", kProject, "--into", "out"},
       1,
       {loaded("2 with an entry; 2 could not be loaded")},
       Keep::kLibrary},
      {"ShowOfALostBlock",
       Remove({"lib/blk/lib31.blk"}),
       {"show", kProject, "--into", "out"},
       1,
       {"; 1 could not be loaded"},
       Keep::kLibrary},
      {"ShowWithoutOffsetsFile",
       Remove({"lib/lib.ofs"}),
       {"show", kProject, "--into", "out"},
       1,
       {loaded("0 with an entry; 2000 could not be loaded")},
       Keep::kLibrary},
      {"FirstCreateOfANewLibrary",
       Remove({"lib/lib.ofs", "lib/lib.coo", "lib/blk/lib30.blk", "lib/blk/lib31.blk",
               "lib/blk/lib49.blk"}),
       {"create", kProject},
       0,
       {"Could not read coordinates file lib.coo. Creating new one."},
       Keep::kNothing,
       RunCompleted},
      {"CreateWithCoordinatesLostBesideTheLibrary",
       Remove({"lib/lib.coo"}),
       {"create", kProject},
       1,
       {"Could not read coordinates file lib.coo. Creating new one."},
       Keep::kNothing,
       RunCompleted},
      {"CreatePrintsOneLinePerIcon",
       Nothing,
       {"create", kProject},
       0,
       {},
       Keep::kNothing,
       [](const fs::path& dir, const ProgramResult& r) {
         EXPECT_EQ(Lines(r.out), 2000u);
         RunCompleted(dir, r);
       }},
  };
}
INSTANTIATE_TEST_SUITE_P(ExitStatus, ZglFaults, ::testing::ValuesIn(ExitStatusCases()), Name);

// save and font: no file overwritten without --force, the library's files never.
std::vector<Case> OverwriteCases() {
  const auto pcx_written = [](const std::string& name) {
    return [name](const fs::path& dir, const ProgramResult&) {
      const Bytes bytes = ReadFileBytes(dir / name);
      ASSERT_GT(bytes.size(), 128u);
      EXPECT_EQ(bytes[0], 0x0A);  // a PCX file now
    };
  };
  std::vector<Case> cases = {
      {"SaveToANewFile",
       Nothing,
       {"save", kProject, "3001", "one.pcx"},
       0,
       {},
       Keep::kLibrary,
       pcx_written("one.pcx")},
      // The name chooses the format, in any letter case.
      {"SaveAsPngByItsName",
       Nothing,
       {"save", kProject, "3001", "one.PNG"},
       0,
       {"PNG one.PNG extracted."},
       Keep::kLibrary,
       [](const fs::path& dir, const ProgramResult&) {
         ExpectPng(dir / "one.PNG", kPictureWidth, kPictureHeight, 2);
       }},
      {"SaveAsPngOverAFileRefused",
       WriteFile("one.png", "keep me"),
       {"save", kProject, "3001", "one.png"},
       1,
       {"one.png exists; --force overwrites it"}},
      {"SaveOverAFileRefused",
       WriteFile("one.pcx", "keep me"),
       {"save", kProject, "3001", "one.pcx"},
       1,
       {"one.pcx exists; --force overwrites it"}},
      {"SaveOverAFileForced",
       WriteFile("one.pcx", "replace me"),
       {"save", kProject, "3001", "one.pcx", "--force"},
       0,
       {},
       Keep::kLibrary,
       pcx_written("one.pcx")},
      {"SaveOverABlockFileEvenForced",
       Nothing,
       {"save", kProject, "3001", "LIB/BLK/Lib30.BLK", "-f"},
       1,
       {"is the block file of block 30 (FBLK) of project.zgl"}},
      {"SaveOverTheOffsetsFileEvenForced",
       Nothing,
       {"save", kProject, "3001", "lib/./sep/../lib.ofs", "--force"},
       1,
       {"is the offsets file (FOFS)"}},
      {"SaveOverTheCoordinatesFile",
       Nothing,
       {"save", kProject, "3001", "lib/lib.coo", "-f"},
       1,
       {"is the coordinates file (FCOO)"}},
      {"SaveOverASingleEntryFile",
       Nothing,
       {"save", kProject, "3001", "lib/sep/s3_1_0_1.zgi", "--force"},
       1,
       {"is the single entry file of icon 3101 (FSEP)"}},
      {"SaveOverTheProjectFile",
       Nothing,
       {"save", kProject, "3001", kProject, "--force"},
       1,
       {"is the project info file of project.zgl"}},
      {"FontOverAFileRefused",
       WriteFile("font.fnt", "keep me"),
       {"font", "lib/pcx/p3_0_0_0.pcx", "font.fnt"},
       1,
       {"font.fnt exists; --force overwrites it"}},
  };
#if !defined(_WIN32)
  cases.push_back(
      {"SaveThroughALinkToTheOffsetsFile",
       [](const fs::path& dir) { fs::create_symlink(dir / "lib/lib.ofs", dir / "link.pcx"); },
       {"save", kProject, "3001", "link.pcx", "--force"},
       1,
       {"is the offsets file (FOFS)"}});
#endif
  return cases;
}
INSTANTIATE_TEST_SUITE_P(Overwrite, ZglFaults, ::testing::ValuesIn(OverwriteCases()), Name);

// show: where it writes, said first; --into writes the same tree elsewhere.
std::vector<Case> ExportCases() {
  return {
      {"IntoAnotherFolder",
       Nothing,
       {"show", kProject, "--into", "out/export", "--all"},
       0,
       {"writing icons 3000 to 4999 as PCX files ", "p3_0_0_0.pcx to ",
        "p4_9_9_9.pcx (FPCX pcx\\p0_0_0_0.pcx)"},
       Keep::kLibrary,
       [](const fs::path& dir, const ProgramResult& r) {
         EXPECT_EQ(r.err.find("--into DIR"), std::string::npos);
         const fs::path out = dir / "out/export";
         EXPECT_TRUE(fs::is_directory(out / "IFF/4/9/9"));
         EXPECT_TRUE(fs::is_regular_file(out / "pcx/p3_0_0_0.pcx"));
         EXPECT_TRUE(fs::is_regular_file(out / "pcx/p4_9_9_9.pcx"));
         EXPECT_EQ(std::distance(fs::directory_iterator(out / "pcx"), fs::directory_iterator()),
                   2000);
         // The entry of 3000, not the source: the same picture, written by our own encoder.
         EXPECT_EQ(ReadFileBytes(out / "pcx/p3_0_0_0.pcx"), SourcePcx(3000));
       }},
      {"InTheProjectFolderSaysWhere",
       Nothing,
       {"show", kProject, "--force", "--all"},
       0,
       {"zgl: writing icons 3000 to 4999 as PCX files ",
        "; --into DIR writes them under DIR instead"},
       Keep::kNothing,
       [](const fs::path& dir, const ProgramResult& r) {
         const std::string announced = r.err.substr(0, r.err.find('\n'));
         EXPECT_NE(
             announced.find((fs::path("lib") / "pcx" / "p3_0_0_0.pcx").make_preferred().string()),
             std::string::npos)
             << announced;
         EXPECT_TRUE(fs::is_regular_file(dir / "lib/pcx/p3_0_0_2.pcx"));
         EXPECT_TRUE(fs::is_directory(dir / "lib/IFF/3/0/0"));
       }},
      {"IntoRefusesAPatternLeavingTheFolder",
       Append(" FPCX p0_0_0_0.d\\..\\..\\elsewhere.pcx \n"),
       {"show", kProject, "--into", "out"},
       1,
       {"does not stay inside the export folder"}},
      // The pattern names the sources: without --force nothing is written over them.
      {"InTheProjectFolderRefusesOverTheSources",
       Nothing,
       {"show", kProject},
       1,
       {Shown("lib/pcx/p3_0_0_0.pcx") +
        " exists; --force overwrites it, or --into DIR writes the export under DIR; nothing "
        "written"}},
      {"InTheProjectFolderForcedWritesTheIconsWithAnEntry",
       Nothing,
       {"show", kProject, "-f"},
       0,
       {"2000 of 2000 icons exported, 4 with an entry; 0 could not be loaded; 4 PCX files "
        "written"},
       Keep::kNothing,
       [](const fs::path& dir, const ProgramResult&) {
         EXPECT_EQ(PcxFiles(dir / "lib/pcx"), Written({3000, 3001, 3101, 4999}));
         EXPECT_EQ(ReadFileBytes(dir / "lib/pcx/p3_1_0_1.pcx"), SourcePcx(3101));
       }},
      {"IntoWritesOnlyTheIconsWithAnEntry",
       Nothing,
       {"show", kProject, "--into", "out"},
       0,
       {"writing the icons of 3000 to 4999 that have an entry", "; 4 PCX files written"},
       Keep::kLibrary,
       [](const fs::path& dir, const ProgramResult&) {
         EXPECT_EQ(PcxFiles(dir / "out/pcx"), Written({3000, 3001, 3101, 4999}));
         EXPECT_TRUE(fs::is_directory(dir / "out/IFF/4/9/9"));
       }},
      {"IntoRefusesAnExistingFile",
       WriteFile("out/pcx/p3_0_0_1.pcx", "keep me"),
       {"show", kProject, "--into", "out"},
       1,
       {Shown("out/pcx/p3_0_0_1.pcx") + " exists; --force overwrites it; nothing written"},
       Keep::kEverything,
       [](const fs::path&, const ProgramResult& r) {
         EXPECT_EQ(r.err.find("--into DIR"), std::string::npos) << r.err;
       }},
      // PNG files by the same names with .png; the sources' rectangles hold no black, so
      // their entries are unmasked and stay opaque with --alpha too.
      {"IntoAsPng",
       Nothing,
       {"show", kProject, "--into", "out", "--format", "png", "--alpha"},
       0,
       {"writing the icons of 3000 to 4999 that have an entry as PNG files ", "p3_0_0_0.png to ",
        "p4_9_9_9.png (FPCX pcx\\p0_0_0_0.pcx)", "; 4 PNG files written"},
       Keep::kLibrary,
       [](const fs::path& dir, const ProgramResult&) {
         std::vector<std::string> names;
         for (const int icon : kSources) {
           names.push_back(fs::path(PngName(icon)).filename().string());
           ExpectPng(dir / "out" / PngName(icon), kPictureWidth, kPictureHeight, 2);
         }
         EXPECT_EQ(PcxFiles(dir / "out/pcx"), names);
       }},
      {"IntoAsPngRefusesAnExistingFile",
       WriteFile("out/pcx/p3_0_0_1.png", "keep me"),
       {"show", kProject, "--into", "out", "--format", "png"},
       1,
       {Shown("out/pcx/p3_0_0_1.png") + " exists; --force overwrites it; nothing written"}},
      {"AlphaWithoutPngIsAUsageError",
       Nothing,
       {"show", kProject, "--into", "out", "--alpha"},
       2,
       {"--alpha"}},
      {"IntoForcedReplacesAnExistingFile",
       WriteFile("out/pcx/p3_0_0_1.pcx", "replace me"),
       {"show", kProject, "--into", "out", "--force"},
       0,
       {"; 4 PCX files written"},
       Keep::kLibrary,
       [](const fs::path& dir, const ProgramResult&) {
         EXPECT_EQ(ReadFileBytes(dir / "out/pcx/p3_0_0_1.pcx"), SourcePcx(3001));
       }},
  };
}
INSTANTIATE_TEST_SUITE_P(Export, ZglFaults, ::testing::ValuesIn(ExportCases()), Name);

#if !defined(_WIN32)
// Links planted where outputs go: the file is refused and the link named, the status is 1,
// and what the link points to stays as it was (nothing is made there either).
const std::string kVictim = "the user's own file";

// A link at `link` to `target` (both below the case's folder); "victim.txt" and the folder
// "elsewhere" stand beside it for links to point to.
Change Plant(const std::string& link, const std::string& target) {
  return [link, target](const fs::path& dir) {
    WriteFileBytes(dir / "victim.txt", Bytes(kVictim.begin(), kVictim.end()));
    fs::create_directories(dir / "elsewhere");
    fs::create_directories((dir / link).parent_path());
    fs::create_symlink(dir / target, dir / link);
  };
}

void TargetsKept(const fs::path& dir, const ProgramResult&) {
  EXPECT_EQ(ReadFileBytes(dir / "victim.txt"), Bytes(kVictim.begin(), kVictim.end()));
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  EXPECT_FALSE(fs::exists(dir / "made.pcx"));
}

std::vector<Case> LinkCases() {
  const std::string through = "Could not save PCX files through ";
  const std::string is_link = ": it is a link, and nothing is written through links.";
  return {
      // Replacing as the window does: each file is refused where a link stands.
      {"ShowIntoALinkedFile",
       Plant("out/pcx/p3_0_0_0.pcx", "victim.txt"),
       {"show", kProject, "--into", "out", "--force"},
       1,
       {through, Shown("out/pcx/p3_0_0_0.pcx") + is_link, "; 3 PCX files written"},
       Keep::kLibrary,
       TargetsKept},
      {"ShowIntoALinkedFolder",
       Plant("out/pcx", "elsewhere"),
       {"show", kProject, "--into", "out", "--all", "--force"},
       1,
       {Shown("out/pcx") + is_link, "; 0 PCX files written"},
       Keep::kLibrary,
       [through](const fs::path& dir, const ProgramResult& r) {
         TargetsKept(dir, r);
         // Said once, not for each of the 2000 files.
         EXPECT_EQ(r.err.find(through), r.err.rfind(through)) << r.err;
       }},
      {"ShowIntoALinkedExportTree",
       Plant("out/IFF/3", "elsewhere"),
       {"show", kProject, "--into", "out"},
       1,
       {"The export tree was not made: ", Shown("out/IFF/3") + " is a link"},
       Keep::kLibrary,
       TargetsKept},
      {"ShowInTheProjectFolderForcedOverALink",
       Plant("lib/pcx/p4_9_9_8.pcx", "victim.txt"),
       {"show", kProject, "--force", "--all"},
       1,
       {Shown("lib/pcx/p4_9_9_8.pcx") + is_link},
       Keep::kNothing,
       TargetsKept},
      // Without --force the first link found refuses the export before anything is written.
      {"ShowIntoRefusesALinkedFolderBeforeWriting",
       Plant("out/pcx", "elsewhere"),
       {"show", kProject, "--into", "out", "--all"},
       1,
       {Shown("out/pcx") + " is a link, and nothing is written through links; nothing written"},
       Keep::kEverything,
       TargetsKept},
      {"ShowIntoRefusesALinkBeforeWriting",
       Plant("out/pcx/p4_9_9_9.pcx", "made.pcx"),
       {"show", kProject, "--into", "out"},
       1,
       {Shown("out/pcx/p4_9_9_9.pcx") +
        " is a link, and nothing is written through links; nothing written"},
       Keep::kEverything,
       TargetsKept},
      {"SaveForcedOverALinkToAUserFile",
       Plant("one.pcx", "victim.txt"),
       {"save", kProject, "3001", "one.pcx", "--force"},
       1,
       {"Could not save ", Shown("one.pcx") + ": it is a link"},
       Keep::kEverything,
       TargetsKept},
      {"SaveOverADanglingLink",
       Plant("one.pcx", "made.pcx"),
       {"save", kProject, "3001", "one.pcx"},
       1,
       {Shown("one.pcx") + ": it is a link"},
       Keep::kEverything,
       TargetsKept},
  };
}
INSTANTIATE_TEST_SUITE_P(Links, ZglFaults, ::testing::ValuesIn(LinkCases()), Name);
#endif

// The report: the page and one PNG per picture icon, its crop box (the sources' 40 x 30
// rectangles), in every build.
std::vector<Case> ReportCases() {
  return {
      {"ReportOfAHealthyLibrary",
       Nothing,
       {"report", kProject, "report"},
       0,
       {},
       Keep::kLibrary,
       [](const fs::path& dir, const ProgramResult& r) {
         EXPECT_NE(r.out.find("4 icons verified, 0 findings"), std::string::npos) << r.out;
         EXPECT_TRUE(fs::is_regular_file(dir / "report/index.html"));
         std::vector<std::string> names;
         for (const int icon : kSources) {
           names.push_back(std::to_string(icon) + ".png");
           ExpectPng(dir / "report" / names.back(), 40, 30, 6);
         }
         names.push_back("index.html");
         EXPECT_EQ(PcxFiles(dir / "report"), names);
       }},
      {"ReportOverAnExistingPictureRefused",
       WriteFile("report/3101.png", "keep me"),
       {"report", kProject, "report"},
       1,
       {Shown("report/3101.png") + " exists; --force replaces it; nothing written"}},
  };
}
INSTANTIATE_TEST_SUITE_P(Report, ZglFaults, ::testing::ValuesIn(ReportCases()), Name);

// The lock file beside the offsets file is taken only as a regular file in the library's
// folder: whatever else stands at its name refuses the command, saying why, before anything is
// touched, and nothing a link points at is emptied or created. verify writes nothing else.
std::vector<Case> LockCases() {
  const auto lock_refused = [](const std::string& reason) {
    return "Library lib.ofs: cannot lock lib.ofs.lock: " + reason + ". Nothing was changed.";
  };
  const auto replace_lock = [](Change make) {
    return [make](const fs::path& dir) {
      fs::remove(dir / "lib/lib.ofs.lock");
      make(dir);
    };
  };
  std::vector<Case> cases = {
      {"LockIsAFolder",
       replace_lock(MakeFolder("lib/lib.ofs.lock")),
       {"create", kProject},
       1,
       {lock_refused("it is not a regular file")}},
      {"LockIsAFolderForVerify",
       replace_lock(MakeFolder("lib/lib.ofs.lock")),
       {"verify", kProject},
       1,
       {lock_refused("it is not a regular file")},
       Keep::kEverything,
       [](const fs::path&, const ProgramResult& r) { EXPECT_EQ(r.out, ""); }},
      // The healthy library's lock file is there and empty, as verify leaves it.
      {"VerifyChangesNothing", Nothing, {"verify", kProject}, 0, {}, Keep::kEverything},
      {"VerifyMakesAMissingLockFileAndNothingElse",
       replace_lock(Nothing),
       {"verify", kProject},
       0,
       {},
       Keep::kNothing,
       [](const fs::path& dir, const ProgramResult&) {
         EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "lib/lib.ofs.lock")));
         EXPECT_EQ(fs::file_size(dir / "lib/lib.ofs.lock"), 0u);
       }},
  };
#if !defined(_WIN32)
  const auto link = [](const std::string& target) {
    return [target](const fs::path& dir) {
      fs::create_symlink(dir / target, dir / "lib/lib.ofs.lock");
    };
  };
  const auto thesis = [link](const fs::path& dir) {
    WriteFileBytes(dir / "thesis.txt", Bytes{'m', 'i', 'n', 'e'});
    link("thesis.txt")(dir);
  };
  // Keep::kEverything: the thesis keeps its words, no file appears where a link points.
  for (const char* command : {"verify", "create", "check"}) {
    cases.push_back({std::string("LockLinkedToAFileOutsideFor") + command,
                     replace_lock(thesis),
                     {command, kProject},
                     1,
                     {lock_refused("it is a symbolic link")}});
  }
  cases.push_back({"LockIsADanglingLink",
                   replace_lock(link("new.txt")),
                   {"verify", kProject},
                   1,
                   {lock_refused("it is a symbolic link")}});
  cases.push_back({"LockIsALinkIntoAMissingFolder",
                   replace_lock(link("none/new.txt")),
                   {"create", kProject},
                   1,
                   {lock_refused("it is a symbolic link")}});
  cases.push_back({"LockIsAFifo",
                   replace_lock(MakeFifo("lib/lib.ofs.lock")),
                   {"verify", kProject},
                   1,
                   {lock_refused("it is not a regular file")}});
  cases.push_back(
      {"LockInAMissingFolder",
       Append(" FOFS none\\lib.ofs \n"),
       {"show", kProject},
       1,
       {"Library none\\lib.ofs: cannot lock none\\lib.ofs.lock: it cannot be created or "
        "opened (No such file or directory). Nothing was changed."}});
#endif
  return cases;
}
INSTANTIATE_TEST_SUITE_P(Lock, ZglFaults, ::testing::ValuesIn(LockCases()), Name);

// Names reach a terminal: one holding a line break or an escape sequence must neither add a
// line that looks like zgl's own nor hide the ones after it. Names cannot hold blanks, so the
// false summary is spaced with no-break spaces, which a terminal shows as blanks.
std::vector<Case> HostileNameCases() {
  const std::string fake_summary =
      "x\x1b[8m\n41\xc2\xa0icons\xc2\xa0verified,\xc2\xa0"
      "0\xc2\xa0"
      "findings\n\x1b[8m00.blk";
  const std::string shown =
      "x\\x1b[8m\\n41\xc2\xa0icons\xc2\xa0verified,\xc2\xa0"
      "0\xc2\xa0"
      "findings\\n\\x1b[8m00.blk";
  const auto plain_output = [](const fs::path&, const ProgramResult& r) {
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
    EXPECT_EQ(Lines(r.err), 1u) << r.err;
  };
  std::vector<Case> cases = {
      {"VerifyRefusesAFalseSummaryInABlockName",
       [fake_summary](const fs::path& dir) {
         Append(" FBLK blk\\" + fake_summary + " \n")(dir);
         fs::resize_file(dir / "lib/blk/lib30.blk", 10);
       },
       {"verify", kProject},
       1,
       {"The project cannot be used: FBLK: the name runs over a line end (\"blk\\" + shown +
        "\"): end each name with a blank."},
       Keep::kEverything,
       plain_output},
      {"CreateRefusesAnEscapeInAName",
       Append(" FOFS lib\x1b]0;owned\x07.ofs \n"),
       {"create", kProject},
       1,
       {"FOFS: the name holds a control character (\"lib\\x1b]0;owned\\x07.ofs\")"},
       Keep::kEverything,
       plain_output},
  };
#if !defined(_WIN32)
  // Names from the file system rather than the project: the project's own file and folder.
  const std::string folder = "lib/" + fake_summary + ".zgl";
  // The message and the reason after it, each one line that names the folder escaped.
  const auto message_and_reason = [shown](const fs::path&, const ProgramResult& r) {
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
    EXPECT_EQ(Lines(r.err), 2u) << r.err;
    EXPECT_NE(r.err.find("\nzgl: " + shown + ".zgl: is a folder\n"), std::string::npos) << r.err;
  };
  cases.push_back({"AProjectNameFromTheFolderIsShownEscaped",
                   MakeFolder(folder),
                   {"create", folder},
                   1,
                   {"ZCreate: Could not read file " + shown + ".zgl!"},
                   Keep::kEverything,
                   message_and_reason});
  cases.push_back({"AMissingFolderIsShownEscaped",
                   Nothing,
                   {"verify", fake_summary + "/project.zgl"},
                   1,
                   {"zgl: cannot enter the folder of " + shown + "/project.zgl"},
                   Keep::kEverything,
                   plain_output});
#endif
  return cases;
}
INSTANTIATE_TEST_SUITE_P(HostileNames, ZglFaults, ::testing::ValuesIn(HostileNameCases()), Name);

}  // namespace
}  // namespace zemlo::testing
