// "Show ZGL" (export tree and PCX files) and the viewer keys.
#include <gtest/gtest.h>

#include "app/commands.h"
#include "app/session.h"
#include "picture/pcx_reader.h"
#include "support/run_project.h"

namespace zemlo::testing {
namespace {

// A library made by the run, and a second info file that exports into the tree.
class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib.AddPcx(3000, UnmaskedShape(1));
    lib.AddPcx(3005, XMaskedShape(2));
    lib.AddPcx(3100, ZeroMaskedShape(3));
    lib.AddPcx(4321, UnmaskedShape(4, 700, 550, 100, 50));
    lib.Run();
    auto text = ReadFileBytes(lib.dir.path() / "project.zgl");
    const std::string export_pattern = "\nFPCX IFF\\0\\0\\0\\0.pcx \n";
    text.insert(text.end(), export_pattern.begin(), export_pattern.end());
    WriteFileBytes(lib.dir.path() / "show.zgl", text);
  }
  Picture Shown() {
    const auto p = session.state().Picture();
    return {p.begin(), p.end()};
  }

  TestLibrary lib;
  RecordingPort port;
  Session session{port};
};

TEST_F(ViewerTest, ShowWritesEveryIconIntoTheExportTree) {
  ASSERT_TRUE(ShowZgl(session, "show.zgl", "show.zgl"));
  EXPECT_TRUE(port.messages.empty());
  EXPECT_EQ(session.state().current_icon.load(), 3000);
  EXPECT_EQ(session.state().window_mode.load(), WindowMode::kViewer);
  int folders = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(lib.dir.path() / "IFF")) {
    folders += entry.is_directory() ? 1 : 0;
  }
  EXPECT_EQ(folders + 1, 223);  // with IFF itself
  EXPECT_EQ(std::filesystem::current_path(), lib.dir.path());

  std::vector<std::uint8_t> picture(kPictureBytes + kPictureAllowance);
  const auto decoded = [&](const char* name) {
    std::fill(picture.begin(), picture.end(), 0xEE);
    EXPECT_TRUE(DecodePcx(ReadFileBytes(lib.dir.path() / name), picture)) << name;
    return Picture(picture.begin(), picture.begin() + kPictureBytes);
  };
  EXPECT_TRUE(decoded("IFF/3/0/0/0.pcx") == UnmaskedShape(1));
  EXPECT_TRUE(decoded("IFF/3/0/0/5.pcx") == XMaskedShape(2));
  EXPECT_TRUE(decoded("IFF/4/3/2/1.pcx") == Expected(4321, UnmaskedShape(4, 700, 550, 100, 50)));
  // An icon without entry is written with what the last loaded icon left.
  EXPECT_TRUE(decoded("IFF/3/0/0/6.pcx") == XMaskedShape(2));
  EXPECT_TRUE(std::filesystem::exists(lib.dir.path() / "IFF/4/9/9/9.pcx"));

  // A second export over the existing tree.
  port.Clear();
  ASSERT_TRUE(ShowZgl(session, "show.zgl", "show.zgl"));
  EXPECT_TRUE(port.messages.empty());
}

TEST_F(ViewerTest, ExportFilesThatCannotBeWrittenAreNamed) {
  auto text = ReadFileBytes(lib.dir.path() / "show.zgl");
  const std::string pattern = "\nFPCX nowhere\\0\\0\\0\\0.pcx \nDBLK 1 \n";
  text.insert(text.end(), pattern.begin(), pattern.end());
  WriteFileBytes(lib.dir.path() / "show.zgl", text);
  ASSERT_TRUE(ShowZgl(session, "show.zgl", "show.zgl"));
  ASSERT_EQ(port.messages.size(), 2000u);
  EXPECT_EQ(port.messages.front().text, "Could not save PCX nowhere\\3\\0\\0\\0.pcx");
}

TEST_F(ViewerTest, CursorKeysSkipIconsWithoutEntries) {
  ASSERT_TRUE(LoadProject(session, "project.zgl", "project.zgl", ProjectUse::kShow));
  ASSERT_TRUE(ReadOffsetsFile(session.settings(), session.state()));
  session.state().current_icon = 3000;

  // Not in the viewer mode, or no picture shown: the keys do nothing.
  EXPECT_FALSE(ViewerKey(session, kKeyRight));
  EnterViewerMode(session);
  EXPECT_FALSE(ViewerKey(session, kKeyRight));
  session.state().picture_shown = true;
  EXPECT_FALSE(ViewerKey(session, 40));  // down arrow: not a viewer key

  const auto right = [&] {
    EXPECT_TRUE(ViewerKey(session, kKeyRight));
    return session.state().current_icon.load();
  };
  const auto left = [&] {
    EXPECT_TRUE(ViewerKey(session, kKeyLeft));
    return session.state().current_icon.load();
  };
  EXPECT_EQ(right(), 3005);
  EXPECT_TRUE(Shown() == XMaskedShape(2));
  EXPECT_EQ(right(), 3100);
  EXPECT_EQ(right(), 4321);
  EXPECT_EQ(right(), 8999);  // nothing more: the end of the range is loaded
  EXPECT_TRUE(session.state().picture_shown.load());
  EXPECT_EQ(right(), 8999);
  EXPECT_EQ(left(), 4321);
  EXPECT_TRUE(Shown() == Expected(4321, UnmaskedShape(4, 700, 550, 100, 50)));
  EXPECT_EQ(left(), 3100);
  EXPECT_EQ(left(), 3005);
  EXPECT_EQ(left(), 3000);
  EXPECT_EQ(left(), 0);
  EXPECT_EQ(left(), 0);
  EXPECT_EQ(port.titles.back(), "ZCreate - blk\\b00.blk (ZGL block file not found) - 0");

  EXPECT_EQ(GoToDialogStart(session.settings()), 0);
  EXPECT_TRUE(ViewerGoTo(session, 3100));
  EXPECT_TRUE(Shown() == ZeroMaskedShape(3));
  EXPECT_TRUE(ViewerGoTo(session, 20000));
  EXPECT_EQ(session.state().current_icon.load(), 20000);
  EXPECT_TRUE(session.state().picture_shown.load());
}

TEST_F(ViewerTest, CancelledShowStillEntersTheViewer) {
  session.state().picture_shown = true;
  session.state().current_icon = 3000;
  ASSERT_TRUE(LoadProject(session, "project.zgl", "project.zgl", ProjectUse::kShow));
  EXPECT_FALSE(ViewerKeysActive(session.state()));
  EnterViewerMode(session);  // the window calls this before its open dialog
  EXPECT_TRUE(ViewerKeysActive(session.state()));
}

}  // namespace
}  // namespace zemlo::testing
