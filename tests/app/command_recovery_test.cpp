// The commands put right what a killed run left only when it is this library's own: a BLTEMP
// and a record that someone else put into the folder never move, remove or make a file, and
// every command says why it left them. A project whose files would be the recovery's own is
// refused before anything is touched.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/project_checks.h"
#include "app/session.h"
#include "library/store/rewrite_recovery.h"
#include "support/folder_snapshot.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Folder = std::map<std::string, Bytes>;

std::string FormattedWarning(TextFormat format, const std::string& name) {
  char text[kTextBufferSize];
  std::snprintf(text, sizeof text, format.c_str(), name.c_str());
  return text;
}

// Every file under `root` with its bytes; the library's lock file holds whoever holds it.
Folder FilesUnder(const fs::path& root) {
  return SnapshotFolder(root, [](const std::string& name) {
    return fs::path(name).filename() != "offsets.dat.lock";
  });
}

class CommandRecovery : public ::testing::Test {
 protected:
  CommandRecovery() {
    lib.AddPcx(3000, UnmaskedShape(1));
    lib.AddPcx(3001, UnmaskedShape(2));
    EXPECT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
    session.WaitForWorker();
    block = ReadFileBytes(lib.BlockPath(30));
    EXPECT_FALSE(block.empty());
    WriteFileBytes(outside.path() / "thesis.txt", {'t', 'h', 'e', 's', 'i', 's'});
    WriteFileBytes(outside.path() / "notes.txt", {'n', 'o', 't', 'e', 's'});
  }

  // BLTEMP and a record for block 30 as this library's offsets file holds it, but for `name`.
  void Plant(const std::string& offsets, const std::string& name, const Bytes& temp,
             bool records = true) {
    WriteFileBytes(lib.dir.path() / "BLTEMP", temp);
    const Bytes old = records ? RecordsOnDisk("offsets.dat", 3000, 100) : Bytes{};
    WriteFileBytes(lib.dir.path() / "BLTEMP.REC",
                   EncodeTempBlockRecord({offsets, name, 3000, old}));
  }

  TestLibrary lib{ProjectOptions{.dblk = 3}};
  TempDir outside;
  RecordingPort port;
  Session session{port};
  Bytes block;
};

TEST_F(CommandRecovery, EveryCommandRefusesAHostileRecordAndTouchesNothing) {
  const std::string up = "..\\" + outside.path().filename().string() + "\\";
  Bytes longer = block;
  longer.push_back(9);
  struct Case {
    std::string what;
    std::string offsets;
    std::string name;
    Bytes temp;
    bool records;
    std::string warning;
  };
  const std::string other_block = FormattedWarning(kRecordOtherBlockFormat, "blk\\b30.blk");
  const std::vector<Case> cases = {
      {"a file outside the folder", "offsets.dat", (outside.path() / "thesis.txt").string(), block,
       true, other_block},
      {"a file beside the folder", "offsets.dat", up + "notes.txt", block, true, other_block},
      {"the project file", "offsets.dat", "project.zgl", block, true, other_block},
      {"the project file, BLTEMP empty", "offsets.dat", "project.zgl", {}, true, other_block},
      {"a source picture", "offsets.dat", "pcx\\p3_0_0_0.pcx", block, true, other_block},
      {"BLTEMP's record", "offsets.dat", "BLTEMP.REC", block, true, other_block},
      {"another offsets file", up + "other.ofs", "blk\\b30.blk", block, false,
       FormattedWarning(kOtherLibraryFormat, up + "other.ofs")},
      {"a missing offsets file", "other.ofs", "blk\\b30.blk", block, false,
       FormattedWarning(kOtherLibraryFormat, "other.ofs")},
      {"BLTEMP of another length", "offsets.dat", "blk\\b30.blk", longer, true,
       FormattedWarning(kTempLengthDiffersFormat, "blk\\b30.blk")},
  };
  for (const Case& c : cases) {
    for (const ProjectUse use : {ProjectUse::kCheck, ProjectUse::kShow, ProjectUse::kCreate}) {
      SCOPED_TRACE(c.what + (use == ProjectUse::kCheck  ? ", check"
                             : use == ProjectUse::kShow ? ", show"
                                                        : ", create"));
      Plant(c.offsets, c.name, c.temp, c.records);
      const Folder before = FilesUnder(lib.dir.path());
      const Folder outside_before = FilesUnder(outside.path());
      port.Clear();
      switch (use) {
        case ProjectUse::kCheck:
          // The check reads on; BLTEMP stays.
          EXPECT_TRUE(StartIntegrityCheck(session, "project.zgl", "project.zgl"));
          session.WaitForWorker();
          break;
        case ProjectUse::kShow:
          // What "show" and "save" load before they read the library.
          EXPECT_TRUE(LoadProject(session, "project.zgl", "project.zgl", ProjectUse::kShow));
          ReleaseLibrary(session);
          break;
        case ProjectUse::kCreate:
          EXPECT_FALSE(StartCreateZgl(session, "project.zgl", "project.zgl"));
          break;
      }
      EXPECT_EQ(FilesUnder(lib.dir.path()), before);
      EXPECT_EQ(FilesUnder(outside.path()), outside_before);
      EXPECT_EQ(outside_before.at("thesis.txt"), (Bytes{'t', 'h', 'e', 's', 'i', 's'}));
      EXPECT_FALSE(fs::exists(outside.path() / "other.ofs.lock"));
      EXPECT_FALSE(fs::exists(lib.dir.path() / "other.ofs.lock"));
      ASSERT_FALSE(port.messages.empty());
      EXPECT_EQ(port.messages[0].icon, MessageIcon::kWarning);
      EXPECT_EQ(port.messages[0].text, c.warning);
      // The library itself was not touched, so there is nothing else to say.
      EXPECT_EQ(port.messages.size(), 1u) << port.messages.back().text;
    }
  }
}

TEST_F(CommandRecovery, ThisLibrarysRecordIsPutRightHoweverItSpellsTheOffsetsFile) {
  const auto entry = lib.BlockEntry(3000);
  {
    // Killed inside block 30.
    StoreContext killed{lib.settings, lib.state, {}};
    ASSERT_TRUE(OpenBlock(3000, killed));
    ASSERT_TRUE(StoreEntry(3000, Bytes{1, 2, 3}, killed));
  }
  const auto record = DecodeTempBlockRecord(ReadFileBytes(lib.dir.path() / "BLTEMP.REC"));
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->offsets_name, "offsets.dat");
  TempBlockRecord spelled = *record;
  spelled.offsets_name = ".\\offsets.dat";
  WriteFileBytes(lib.dir.path() / "BLTEMP.REC", EncodeTempBlockRecord(spelled));

  port.Clear();
  ASSERT_TRUE(StartIntegrityCheck(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  EXPECT_EQ(port.MessageTexts(),
            std::vector<std::string>{FormattedWarning(kMovedBackFormat, "blk\\b30.blk")});
  EXPECT_EQ(port.messages[0].icon, MessageIcon::kInformation);
  EXPECT_EQ(lib.BlockEntry(3000), entry);
  EXPECT_EQ(ReadFileBytes(lib.BlockPath(30)), block);
  EXPECT_FALSE(lib.Exists("BLTEMP"));
  EXPECT_FALSE(lib.Exists("BLTEMP.REC"));
  // Put right once: the next commands have nothing to say about it, and a run works.
  port.Clear();
  ASSERT_TRUE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  session.WaitForWorker();
  EXPECT_TRUE(port.messages.empty()) << port.messages.front().text;
  EXPECT_EQ(ReadFileBytes(lib.BlockPath(30)), block);
}

ProjectSettings ParsedProject(const std::string& text) {
  ProjectSettings s;
  ParseInfoText(text.c_str(), s);
  return s;
}

TEST(RecoveryFiles, AProjectThatWouldWriteThemIsRefused) {
  const std::string outputs =
      " FSEP sep\\s0_0_0_0.zgi \n FCOO lib.coo \n FOFS lib.ofs \n FBLK blk\\lib00.blk \n"
      " FPCX pcx\\p0_0_0_0.pcx \n NSIZ 5000\n BLKB 100\n";
  const auto clash = [&](const std::string& more, const char* project = "project.zgl") {
    return FindRecoveryFileClash(ParsedProject(outputs + more), project).value_or("");
  };
  const std::string end =
      ", which belongs to the recovery of an interrupted run (BLTEMP, its record BLTEMP.REC or a "
      "leftover temporary file) and may be moved or removed by it.";
  EXPECT_EQ(clash(""), "");
  EXPECT_EQ(clash(" FOFS BLTEMP.REC \n"),
            "The project cannot be used: FOFS names the file BLTEMP.REC" + end);
  EXPECT_EQ(clash(" FCOO .\\bltemp.rec \n"),
            "The project cannot be used: FCOO names the file .\\bltemp.rec" + end);
  EXPECT_EQ(clash(" FCOO lib.ofs.zgl-new \n"),
            "The project cannot be used: FCOO names the file lib.ofs.zgl-new" + end);
  EXPECT_EQ(clash(" FOFS BLTEMP.REC.zgl-new \n"),
            "The project cannot be used: FOFS names the file BLTEMP.REC.zgl-new" + end);
  // Stamped patterns that climb back into the folder.
  EXPECT_EQ(
      clash(" FBLK x00.d\\..\\BLTEMP.REC \n"),
      "The project cannot be used: FBLK (block 0) names the file x00.d\\..\\BLTEMP.REC" + end);
  EXPECT_EQ(
      clash(" FSEP s0_0_0_0.d\\..\\BLTEMP \n"),
      "The project cannot be used: FSEP (icon 0) names the file s0_0_0_0.d\\..\\BLTEMP" + end);
  EXPECT_EQ(
      clash(" FPCX p0_0_0_0.d/../bltemp.rec \n"),
      "The project cannot be used: FPCX (icon 0) names the file p0_0_0_0.d/../bltemp.rec" + end);
  EXPECT_EQ(clash("", "BLTEMP.REC"),
            "The project cannot be used: the project info file names the file BLTEMP.REC" + end);
  // A single entry file's temporary, which a run removes or moves into place at its icon:
  // a source of that name would be gone after the run.
  EXPECT_EQ(
      clash(" FPCX sep\\s0_0_0_0.zgi.zgl-new \n"),
      "The project cannot be used: FPCX (icon 0) names the file sep\\s0_0_0_0.zgi.zgl-new" + end);
  EXPECT_EQ(clash(" FCOO SEP/S3_0_0_2.ZGI.ZGL-NEW \n"),
            "The project cannot be used: FCOO names the file SEP/S3_0_0_2.ZGI.ZGL-NEW" + end);
  EXPECT_EQ(clash(" FPNG sep\\s0_0_0_0.zgi.zgl-ne \n FWAV sep\\s0_0_0_0.zgl-new \n"), "");
  // Names that only look alike are other files.
  EXPECT_EQ(clash(" FOFS BLTEMP.RE \n FCOO sub\\BLTEMP.REC \n"), "");
  EXPECT_EQ(clash(" FBLK BLTEMP00.REC \n"), "");

  // Refused with the other refusals, after a name clash.
  InfoTextReport report;
  ProjectSettings s;
  ParseInfoText((outputs + " FOFS BLTEMP.REC \n").c_str(), s, &report);
  EXPECT_EQ(ProjectRefusal(s, report, "project.zgl", 4999).value_or(""),
            "The project cannot be used: FOFS names the file BLTEMP.REC" + end);
  report = {};
  s = {};
  ParseInfoText((outputs + " FOFS BLTEMP \n").c_str(), s, &report);
  EXPECT_NE(ProjectRefusal(s, report, "project.zgl", 4999).value_or("").find("both name"),
            std::string::npos);
}

TEST_F(CommandRecovery, AProjectWhoseOffsetsFileIsTheRecordTouchesNothing) {
  Plant("offsets.dat", "blk\\b30.blk", block);
  AppendToInfo(lib, "FOFS BLTEMP.REC \n");
  const Folder before = FilesUnder(lib.dir.path());
  port.Clear();
  EXPECT_FALSE(StartIntegrityCheck(session, "project.zgl", "project.zgl"));
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_EQ(port.messages[0].icon, MessageIcon::kWarning);
  EXPECT_EQ(
      port.messages[0].text.rfind("The project cannot be used: FOFS names the file BLTEMP.REC, "
                                  "which belongs to the recovery",
                                  0),
      0u)
      << port.messages[0].text;
  EXPECT_EQ(FilesUnder(lib.dir.path()), before);
  EXPECT_FALSE(lib.Exists("BLTEMP.REC.lock"));
}

}  // namespace
}  // namespace zemlo::testing
