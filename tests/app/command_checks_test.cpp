// Projects refused before anything is touched, the files a project names, the first run's
// notice, and the export with its counts and another folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/commands.h"
#include "app/export_command.h"
#include "app/project_checks.h"
#include "app/session.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

namespace fs = std::filesystem;

ProjectSettings Settings(const std::string& text) {
  ProjectSettings s;
  ParseInfoText(text.c_str(), s);
  return s;
}

const std::string kOutputs =
    " FSEP sep\\s0_0_0_0.zgi \n FCOO lib.coo \n FOFS lib.ofs \n FBLK blk\\lib00.blk \n"
    " FPCX pcx\\p0_0_0_0.pcx \n NSIZ 5000\n BLKB 100\n";

std::string Clash(const std::string& more) {
  return FindNameClash(Settings(kOutputs + more), "project.zgl").value_or("");
}

TEST(ProjectNames, EveryFileHasOnePurpose) {
  EXPECT_EQ(Clash(""), "");
  EXPECT_EQ(Clash(" FCOO LIB.OFS \n"),
            "The project cannot be used: FOFS and FCOO both name the file lib.ofs.");
  EXPECT_EQ(
      Clash(" FOFS Blk/Lib49.BLK \n"),
      "The project cannot be used: FOFS and FBLK (block 49) both name the file Blk/Lib49.BLK.");
  // Beyond the blocks NSIZ covers, a name is no block file.
  EXPECT_EQ(Clash(" FOFS blk\\lib50.blk \n"), "");
  EXPECT_EQ(Clash(" FCOO sep\\s4_9_9_9.zgi \n"),
            "The project cannot be used: FCOO and FSEP (icon 4999) both name the file "
            "sep\\s4_9_9_9.zgi.");
  EXPECT_EQ(
      Clash(" FOFS project.zgl \n"),
      "The project cannot be used: the project info file and FOFS both name the file project.zgl.");
  EXPECT_NE(Clash(" FCOO BLTEMP \n").find("the temporary block file BLTEMP and FCOO"),
            std::string::npos);
  // A source pattern that names an output: the run would overwrite what it reads.
  EXPECT_EQ(Clash(" FLBM SEP\\S0_0_0_0.ZGI \n"),
            "The project cannot be used: FSEP (icon 0) and FLBM (icon 0) both name the file "
            "sep\\s0_0_0_0.zgi.");
  EXPECT_EQ(Clash(" FCOO w3_0_0_0.wav \n FWAV W0_0_0_0.WAV \n"),
            "The project cannot be used: FCOO and FWAV (icon 3000) both name the file "
            "w3_0_0_0.wav.");
  // A pattern too short to stamp names no file, so it cannot clash.
  EXPECT_EQ(Clash(" FWAV lib.coo \n"), "");
  // Sources may share names among themselves.
  EXPECT_EQ(Clash(" FLBM pcx\\p0_0_0_0.pcx \n"), "");
}

TEST(ProjectNames, PngPatternsAreCheckedLikeTheOtherSources) {
  EXPECT_EQ(Clash(" FPNG Sep\\S0_0_0_0.ZGI \n"),
            "The project cannot be used: FSEP (icon 0) and FPNG (icon 0) both name the file "
            "sep\\s0_0_0_0.zgi.");
  EXPECT_EQ(Clash(" FPNG png\\q0_0_0_0.png \n FLBM png\\q0_0_0_0.png \n"), "");
  // A stamped name that climbs back to the record of an interrupted block rewrite.
  EXPECT_EQ(
      FindRecoveryFileClash(Settings(kOutputs + " FPNG q0_0_0_0.d/../BLTEMP.REC \n"), "project.zgl")
          .value_or("")
          .rfind("The project cannot be used: FPNG (icon 0) names the file "
                 "q0_0_0_0.d/../BLTEMP.REC, which belongs to the recovery",
                 0),
      0u);
  EXPECT_EQ(
      NameControlRefusal(Settings(kOutputs + " FPNG q\x1b]0;x\x07_0_0_0.png \n")).value_or(""),
      "The project cannot be used: FPNG: the name holds a control character "
      "(\"q\\x1b]0;x\\x07_0_0_0.png\").");
  EXPECT_NE(NameControlRefusal(Settings(kOutputs + " FPNG q0_0_0_0.png\n"))
                .value_or("")
                .find("FPNG: the name runs over a line end"),
            std::string::npos);
}

TEST(ProjectNames, RefusalsComeInTheirOrder) {
  InfoTextReport report;
  ProjectSettings s;
  ParseInfoText("; no tags\n", s, &report);
  EXPECT_EQ(ProjectRefusal(s, report, "x.zgl", 4999).value_or(""),
            "x.zgl is not a project info file: it names no output file (FSEP, FCOO, FOFS or "
            "FBLK). Nothing was done.");
  report = {};
  s = {};
  ParseInfoText((kOutputs + " NSIZ 4999\n DBLK x\n").c_str(), s, &report);
  EXPECT_EQ(ProjectRefusal(s, report, "x.zgl", 4999).value_or(""),
            "The project cannot be used: DBLK \"x\" is not a number.");
  report = {};
  s = {};
  ParseInfoText((kOutputs + " NSIZ 4999\n").c_str(), s, &report);
  EXPECT_EQ(ProjectRefusal(s, report, "x.zgl", 4999).value_or(""),
            "The project cannot be used: NSIZ is 4999, but the commands cover icons up to 4999, "
            "so it must be at least 5000.");
  report = {};
  s = {};
  ParseInfoText((kOutputs + " NSIZ 5000\n FOFS x.zgl \n").c_str(), s, &report);
  EXPECT_NE(ProjectRefusal(s, report, "x.zgl", 4999).value_or("").find("both name"),
            std::string::npos);
}

// A pattern takes its number in places before its first "." (or its end): 7, 5, 3 and 1
// characters before it for an icon, 2 and 1 for a block. One too short to take it would name
// no file for any icon: nothing written, every source missing.
TEST(ProjectNames, PatternsWithoutRoomForTheirNumbersAreRefused) {
  const auto refusal = [](const std::string& more) {
    return PatternRoomRefusal(Settings(kOutputs + more)).value_or("");
  };
  EXPECT_EQ(refusal(""), "");
  EXPECT_EQ(refusal(" FSEP O\\0000.ZGI \n"),
            "The project cannot be used: FSEP: the pattern \"O\\0000.ZGI\" has no room for the "
            "icon number: its four digit places lie 7, 5, 3 and 1 characters before the name's "
            "first \".\" (or its end), as in s0_0_0_0.zgi.");
  // Seven characters before the dot are enough, whatever they are; six are not.
  EXPECT_EQ(refusal(" FPCX abcdefg.pcx \n"), "");
  EXPECT_NE(refusal(" FPCX abcdef.pcx \n").find("FPCX: the pattern \"abcdef.pcx\""),
            std::string::npos);
  EXPECT_NE(refusal(" FLBM i0.lbm \n").find("FLBM:"), std::string::npos);
  EXPECT_NE(refusal(" FWAV w.wav \n").find("FWAV:"), std::string::npos);
  EXPECT_NE(refusal(" FPNG q00.png \n").find("FPNG:"), std::string::npos);
  // Without a dot the places count from the end.
  EXPECT_EQ(refusal(" FWAV wav\\w0_0_0_0 \n"), "");
  EXPECT_EQ(refusal(" FBLK b0.blk \n"), "");
  EXPECT_EQ(refusal(" FBLK b \n"),
            "The project cannot be used: FBLK: the pattern \"b\" has no room for the block "
            "number: its two digit places lie 2 and 1 characters before the name's first \".\" "
            "(or its end), as in demo00.blk.");
  // An unset pattern is no pattern: the sources it would name are simply not there.
  ProjectSettings no_sources = Settings(kOutputs);
  no_sources.FPCX = {};
  EXPECT_FALSE(PatternRoomRefusal(no_sources).has_value());
}

// A name ends at a blank or tab, not at a line end: where an editor strips the blank that
// ends a name, the name runs on into the next line. Such names, and names holding any other
// control character, are refused, shown escaped.
TEST(ProjectNames, NamesHoldingControlCharactersAreRefusedShownEscaped) {
  const auto refusal = [](const std::string& more) {
    return NameControlRefusal(Settings(kOutputs + more)).value_or("");
  };
  EXPECT_EQ(refusal(" FCOO demo.coo\nFOFS lib.ofs \n"),
            "The project cannot be used: FCOO: the name runs over a line end "
            "(\"demo.coo\\nFOFS\"): end each name with a blank.");
  EXPECT_EQ(refusal(" FOFS lib.ofs\r\n"),
            "The project cannot be used: FOFS: the name runs over a line end "
            "(\"lib.ofs\\r\\n\"): end each name with a blank.");
  // The last name of a file that ends without a blank takes the final line end along.
  EXPECT_NE(refusal(" FLBM lbm\\i0_0_0_0.lbm\n").find("FLBM: the name runs over a line end"),
            std::string::npos);
  EXPECT_EQ(refusal(" FBLK x\x1b[8m00.blk \n"),
            "The project cannot be used: FBLK: the name holds a control character "
            "(\"x\\x1b[8m00.blk\").");
  EXPECT_EQ(refusal(" FWAV w\x7f\x01_0_0_0.wav \n"),
            "The project cannot be used: FWAV: the name holds a control character "
            "(\"w\\x7f\\x01_0_0_0.wav\").");
  // A line end anywhere in the name is the more likely cause, whatever else it holds.
  EXPECT_NE(refusal(" FSEP \x1b[8ms0_0_0_0.zgi\n").find("FSEP: the name runs over a line end"),
            std::string::npos);
  // Backslashes, names in a Windows code page, UTF-8 and no-break spaces are names.
  EXPECT_EQ(refusal(" FPCX pcx\\B\xe4ume\\p0_0_0_0.pcx \n FCOL \xc3\xa9t\xc3\xa9\xc2\xa0"
                    "1.col \n"),
            "");
  // Before the values, since a name that ran on may have swallowed a setting.
  InfoTextReport report;
  ProjectSettings s;
  ParseInfoText((kOutputs + " DBLK x\n FCOO lib.coo\nDVIE 1\n").c_str(), s, &report);
  EXPECT_EQ(ProjectRefusal(s, report, "x.zgl", 4999).value_or(""),
            "The project cannot be used: FCOO: the name runs over a line end "
            "(\"lib.coo\\nDVIE\"): end each name with a blank.");
}

class ProjectFiles : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedCurrentDir cwd{dir.path()};
  ProjectSettings settings = Settings(kOutputs);
  std::string Is(const fs::path& path) {
    return ProjectFileAt(settings, "project.zgl", path.string()).value_or("");
  }
};

TEST_F(ProjectFiles, TheLibrarysFilesAreKnownByAnyName) {
  const fs::path here = fs::current_path();
  EXPECT_EQ(Is(here / "lib.ofs"), "the offsets file (FOFS)");
  EXPECT_EQ(Is("LIB.COO"), "the coordinates file (FCOO)");
  EXPECT_EQ(Is(here / "blk" / ".." / "project.zgl"), "the project info file");
  EXPECT_EQ(Is("BLK\\LIB31.blk"), "the block file of block 31 (FBLK)");
  EXPECT_EQ(Is(here / "sep" / "s3_0_0_7.zgi"), "the single entry file of icon 3007 (FSEP)");
  EXPECT_EQ(Is("BLTEMP"), "the temporary block file BLTEMP");
  EXPECT_EQ(Is("out.pcx"), "");
  EXPECT_EQ(Is("pcx/p3_0_0_0.pcx"), "");  // sources are the user's to overwrite
  EXPECT_EQ(Is(here.parent_path() / "lib.ofs"), "");
}

#if !defined(_WIN32)
TEST_F(ProjectFiles, ALinkToALibraryFileIsThatFile) {
  WriteFileBytes(dir.path() / "lib.ofs", {1, 2});
  fs::create_directories(dir.path() / "elsewhere");
  fs::create_symlink(dir.path() / "lib.ofs", dir.path() / "elsewhere" / "link.pcx");
  fs::create_directory_symlink(dir.path(), dir.path() / "elsewhere" / "again");
  EXPECT_EQ(Is(dir.path() / "elsewhere" / "link.pcx"), "the offsets file (FOFS)");
  EXPECT_EQ(Is(dir.path() / "elsewhere" / "again" / "lib.coo"), "the coordinates file (FCOO)");
}
#endif

using Listing = std::vector<std::string>;
Listing ListFiles(const fs::path& dir) {
  Listing names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    names.push_back(e.path().lexically_relative(dir).generic_string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(CommandRefusal, ARefusedProjectTouchesNothingInEveryCommand) {
  TestLibrary lib;
  lib.AddPcx(3000, UnmaskedShape(1));
  lib.Run();
  AppendToInfo(lib, "\nDBLK  3\n");
  const Listing before = ListFiles(lib.dir.path());
  const auto offsets = ReadFileBytes(lib.dir.path() / "offsets.dat");
  RecordingPort port;
  Session session(port);
  EXPECT_FALSE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  EXPECT_FALSE(StartIntegrityCheck(session, "project.zgl", "project.zgl"));
  EXPECT_FALSE(ShowZgl(session, "project.zgl", "project.zgl"));
  EXPECT_EQ(port.MessageTexts(),
            Listing(3, "The project cannot be used: DBLK \" 3\" is not a number."));
  EXPECT_FALSE(session.WorkerRunning());
  EXPECT_EQ(ListFiles(lib.dir.path()), before);
  EXPECT_EQ(ReadFileBytes(lib.dir.path() / "offsets.dat"), offsets);
}

TEST(CommandRefusal, ANameHoldingControlCharactersTouchesNothingInEveryCommand) {
  TestLibrary lib;
  lib.AddPcx(3000, UnmaskedShape(1));
  lib.Run();
  AppendToInfo(lib,
               "\nFBLK blk\\q\x1b[8m\n0\xc2\xa0"
               "findings\n00.blk \n");
  const Listing before = ListFiles(lib.dir.path());
  RecordingPort port;
  Session session(port);
  EXPECT_FALSE(StartCreateZgl(session, "project.zgl", "project.zgl"));
  EXPECT_FALSE(StartIntegrityCheck(session, "project.zgl", "project.zgl"));
  EXPECT_FALSE(ShowZgl(session, "project.zgl", "project.zgl"));
  EXPECT_EQ(port.MessageTexts(),
            Listing(3,
                    "The project cannot be used: FBLK: the name runs over a line end "
                    "(\"blk\\q\\x1b[8m\\n0\xc2\xa0"
                    "findings\\n00.blk\"): end each name "
                    "with a blank."));
  EXPECT_FALSE(session.WorkerRunning());
  EXPECT_EQ(ListFiles(lib.dir.path()), before);
}

TEST(CommandRefusal, TheFirstRunOfANewLibraryOnlyNotesItsCoordinatesFile) {
  TestLibrary lib;
  RecordingPort port;
  Session session(port);
  ASSERT_TRUE(LoadProject(session, "project.zgl", "project.zgl", ProjectUse::kCreate));
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_EQ(port.messages[0].icon, MessageIcon::kInformation);
  // Beside an existing offsets file the coordinates were lost: a warning.
  WriteFileBytes(lib.dir.path() / "offsets.dat", std::vector<std::uint8_t>(16));
  port.Clear();
  ASSERT_TRUE(LoadProject(session, "project.zgl", "project.zgl", ProjectUse::kCreate));
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_EQ(port.messages[0].icon, MessageIcon::kWarning);
  // The check warns either way: it finds no library to check.
  fs::remove(lib.dir.path() / "offsets.dat");
  port.Clear();
  ASSERT_TRUE(LoadProject(session, "project.zgl", "project.zgl", ProjectUse::kCheck));
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_EQ(port.messages[0].icon, MessageIcon::kWarning);
}

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib.AddPcx(3000, UnmaskedShape(1));
    lib.AddPcx(3001, XMaskedShape(2));
    lib.AddPcx(4100, ZeroMaskedShape(3));
    lib.Run();
  }
  ExportOutcome Export(const std::string& into, std::vector<ExportPlan>* plans = nullptr) {
    ExportRequest request;
    request.into = into;
    request.announce = [plans, into](const ExportPlan& plan) {
      if (plans != nullptr) plans->push_back(plan);
      // Told before anything is written.
      if (!into.empty()) {
        EXPECT_FALSE(fs::exists(fs::path(into) / "IFF"));
      }
    };
    return ExportZgl(session, "project.zgl", "project.zgl", request);
  }
  TestLibrary lib;
  RecordingPort port;
  Session session{port};
};

TEST_F(ExportTest, CountsEntriesEmptyIconsAndEntriesThatCouldNotBeLoaded) {
  ExportOutcome outcome = Export("");
  EXPECT_TRUE(outcome.started);
  EXPECT_EQ(outcome.icons, 2000);
  EXPECT_EQ(outcome.shown, 3);
  EXPECT_EQ(outcome.not_loaded, 0);
  // Block 30 cut inside its second entry; block 41 gone while its records stay.
  const fs::path block30 = lib.BlockPath(30);
  fs::resize_file(block30, fs::file_size(block30) - 5);
  fs::remove(lib.BlockPath(41));
  outcome = Export("");
  EXPECT_EQ(outcome.shown, 1);
  EXPECT_EQ(outcome.not_loaded, 2);
  // Without the offsets file nothing can be loaded.
  fs::remove(lib.dir.path() / "offsets.dat");
  outcome = Export("");
  EXPECT_EQ(outcome.shown, 0);
  EXPECT_EQ(outcome.not_loaded, 2000);
}

TEST_F(ExportTest, SingleEntryLibrariesCountTheSameWay) {
  lib.SetOptions({.dblk = 1});
  lib.Run();
  ExportOutcome outcome = Export("");
  EXPECT_EQ(outcome.shown, 3);
  EXPECT_EQ(outcome.not_loaded, 0);
  // A single entry file that exists but is no entry: a packed stream cut short.
  WriteFileBytes(lib.SinglePath(3001), {'K', 'Z', 'P', '1', 0x05});
  outcome = Export("");
  EXPECT_EQ(outcome.shown, 2);
  EXPECT_EQ(outcome.not_loaded, 1);
}

TEST_F(ExportTest, AnotherFolderTakesTheSameTreeAndTheProjectFolderStaysAsItWas) {
  const Listing before = ListFiles(lib.dir.path());
  TempDir target;
  const fs::path into = target.path() / "new" / "export";
  std::vector<ExportPlan> plans;
  const ExportOutcome outcome = Export(into.string(), &plans);
  EXPECT_EQ(outcome.not_saved, 0);
  // Only the library's lock file, which any command that reads the library leaves, is new.
  Listing after = ListFiles(lib.dir.path());
  std::erase(after, "offsets.dat.lock");
  EXPECT_EQ(after, before);
  EXPECT_TRUE(fs::is_directory(into / "IFF" / "4" / "9" / "9"));
  EXPECT_TRUE(ReadFileBytes(into / "pcx" / "p3_0_0_1.pcx") == PcxBytes(XMaskedShape(2)));
  EXPECT_TRUE(fs::is_regular_file(into / "pcx" / "p4_9_9_9.pcx"));
  ASSERT_EQ(plans.size(), 1u);
  EXPECT_EQ(plans[0].pattern, "pcx\\p0_0_0_0.pcx");
  EXPECT_EQ(fs::path(plans[0].first_file), (into / "pcx" / "p3_0_0_0.pcx").make_preferred());
  EXPECT_EQ(fs::path(plans[0].last_file), (into / "pcx" / "p4_9_9_9.pcx").make_preferred());
  EXPECT_EQ(fs::current_path(), lib.dir.path());
}

// The window's way: every icon written in the project's folder over what stands there, but
// never through a link, which is named once however many files it refuses.
TEST_F(ExportTest, TheWindowReplacesFilesButNeverWritesThroughALink) {
  WriteFileBytes(lib.PcxPath(3002), {'o', 'l', 'd'});
  TempDir elsewhere;
  const fs::path victim = elsewhere.path() / "victim.pcx";
  const std::vector<std::uint8_t> kept = {'k', 'e', 'p', 't'};
  WriteFileBytes(victim, kept);
  std::error_code error;
  fs::create_symlink(victim, lib.PcxPath(4998), error);
  fs::create_directory(lib.dir.path() / "IFF");
  fs::create_directory_symlink(elsewhere.path(), lib.dir.path() / "IFF" / "4", error);
  const bool links = !error;

  const ExportOutcome outcome = Export("");
  EXPECT_TRUE(ReadFileBytes(lib.PcxPath(3001)) == PcxBytes(XMaskedShape(2)));
  EXPECT_EQ(ReadFileBytes(lib.PcxPath(3002)).at(0), 0x0A) << "not replaced by a PCX file";
  EXPECT_TRUE(fs::is_regular_file(lib.PcxPath(4999)));
  if (!links) GTEST_SKIP() << "no symbolic links here";
  EXPECT_EQ(outcome.not_saved, 1);
  EXPECT_EQ(outcome.written, 1999);
  EXPECT_EQ(ReadFileBytes(victim), kept);
  EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere.path()), fs::directory_iterator()), 1)
      << "a tree made there";
  const std::string link = lib.PcxPath(4998).make_preferred().string();
  const std::string tree = (lib.dir.path() / "IFF" / "4").make_preferred().string();
  std::vector<std::string> warnings;
  for (const auto& text : port.MessageTexts()) {
    if (text.find(" is a link") != std::string::npos) warnings.push_back(text);
  }
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find(tree + " is a link"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find(link + ": it is a link"), std::string::npos) << warnings[1];
}

TEST_F(ExportTest, AnotherFolderRefusesPatternsThatLeaveIt) {
  TempDir target;
  // The numbers go before the first "." (after the first character), so a pattern that
  // climbs out does so after them; one that starts with ".." has no room for them at all.
  for (const char* pattern :
       {"p0_0_0_0.d\\..\\..\\q.pcx", "p0_0_0_0.d/../../q.pcx", "/tmp/p0_0_0_0.pcx"}) {
    AppendToInfo(lib, std::string("\nFPCX ") + pattern + " \n");
    port.Clear();
    const ExportOutcome outcome = Export((target.path() / "x").string());
    EXPECT_FALSE(outcome.started) << pattern;
    ASSERT_EQ(port.messages.size(), 1u) << pattern;
    EXPECT_NE(port.messages[0].text.find("does not stay inside the export folder"),
              std::string::npos);
  }
  EXPECT_TRUE(fs::is_empty(target.path()));
}

}  // namespace
}  // namespace zemlo::testing
