#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/picture_commands.h"
#include "picture/pcx_reader.h"
#include "picture/pcx_writer.h"
#include "picture/png_writer.h"
#include "support/recording_port.h"
#include "support/temp_dir.h"

namespace zemlo {
namespace {

using testing::ReadFileBytes;
using testing::RecordingPort;
using testing::TempDir;

void SetPixel(std::span<std::uint8_t> picture, int x, int y, std::uint8_t blue,
              std::uint8_t green = 0, std::uint8_t red = 0) {
  const std::size_t at = static_cast<std::size_t>(y) * kRowBytes + static_cast<std::size_t>(x) * 3;
  picture[at] = blue;
  picture[at + 1] = green;
  picture[at + 2] = red;
}

// Writes `picture` as a PCX file, the way an artist's character sheet arrives.
void WritePcx(const std::string& path, std::span<const std::uint8_t> picture) {
  std::vector<std::uint8_t> out(kPcxMaxSize);
  const std::size_t length = EncodePcx(picture, out);
  ASSERT_GT(length, 0u);
  out.resize(length);
  testing::WriteFileBytes(path, out);
}

TEST(SaveAsPcx, WritesAFileThatReadsBackToTheSamePicture) {
  TempDir dir;
  RecordingPort port;
  WorkingState state(port);
  std::mt19937 rng(7);
  auto picture = state.Picture();
  // Noise and long runs both, so the encoder's literal and run paths are exercised.
  for (std::size_t i = 0; i < picture.size() / 2; ++i)
    picture[i] = static_cast<std::uint8_t>(rng());
  for (std::size_t i = picture.size() / 2; i < picture.size(); ++i)
    picture[i] = (i / 5000) % 3 ? 0xC4 : 0;
  const std::vector<std::uint8_t> drawn(picture.begin(), picture.end());
  const std::string path = dir / "shot.pcx";

  ASSERT_TRUE(SavePictureAsPcx(state, path.c_str()));

  const auto file = ReadFileBytes(path);
  std::vector<std::uint8_t> decoded(kPictureBytes, 0x55);
  ASSERT_TRUE(DecodePcx(file, decoded));
  EXPECT_TRUE(decoded == drawn);
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_EQ(port.messages[0].text, "24 bit PCX shot.pcx extracted.");
  EXPECT_EQ(port.messages[0].caption, "ZCreate");
  EXPECT_EQ(port.messages[0].owner, Owner::kMain);
  EXPECT_EQ(port.messages[0].icon, MessageIcon::kWarning);
}

TEST(SaveAsPcx, FileThatCannotBeCreatedIsReportedByName) {
  TempDir dir;
  RecordingPort port;
  WorkingState state(port);
  const std::string path = dir / "no-such-folder/shot.pcx";

  EXPECT_FALSE(SavePictureAsPcx(state, path.c_str()));

  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(port.MessageTexts(), std::vector<std::string>{"Could not save PCX shot.pcx"});
}

// The picture as PNG: the same bytes the picture layer encodes for it (its pixels are checked
// by zgl_png_test.sh), told by name as PNG; an existing file stays unless replacing.
TEST(SaveAsPng, WritesThePictureAsPngAndSaysSo) {
  TempDir dir;
  RecordingPort port;
  WorkingState state(port);
  auto picture = state.Picture();
  for (std::size_t i = 0; i < picture.size(); i += 11) picture[i] = static_cast<std::uint8_t>(i);
  const std::string path = dir / "shot.PNG";

  ASSERT_TRUE(SavePictureAsPng(state, path.c_str(), false));
  EXPECT_EQ(ReadFileBytes(path), EncodePicturePng(state.Picture()));
  EXPECT_FALSE(SavePictureAsPng(state, path.c_str(), false));
  picture[0] ^= 0xFF;
  EXPECT_TRUE(SavePictureAsPng(state, path.c_str(), true));
  EXPECT_EQ(ReadFileBytes(path), EncodePicturePng(state.Picture()));
  EXPECT_FALSE(SavePictureAsPng(state, (dir / "no-such-folder/shot.png").c_str()));
  EXPECT_EQ(port.MessageTexts(),
            (std::vector<std::string>{"PNG shot.PNG extracted.", "Could not save PNG shot.PNG",
                                      "PNG shot.PNG extracted.", "Could not save PNG shot.png"}));
}

// A character sheet of one line: marker row 10 (mark in column 10), closing mark in row 13,
// one glyph of two columns whose font bytes are checked by hand.
std::vector<std::uint8_t> CharacterSheet() {
  std::vector<std::uint8_t> picture(kPictureBytes, 0);
  SetPixel(picture, 10, 10, 255, 255, 255);
  SetPixel(picture, 10, 13, 255, 255, 255);
  SetPixel(picture, 12, 11, 50);
  SetPixel(picture, 13, 12, 60);
  SetPixel(picture, 13, 11, 3, 0, 255);  // background inside the glyph
  return picture;
}

std::vector<std::uint8_t> CharacterSheetFont() {
  std::vector<std::uint8_t> font(272, 0);
  font[0] = 'Z';
  font[1] = 'F';
  font[3] = 2;      // height
  font[16] = 0x01;  // glyph 0 at 272
  font[17] = 0x10;
  const std::vector<std::uint8_t> glyph = {0x02, 0x00, 50, 0, 3, 60};
  font.insert(font.end(), glyph.begin(), glyph.end());
  return font;
}

TEST(FontCommand, BuildsFromAPcxAndSavesWhatWasBuilt) {
  TempDir dir;
  RecordingPort port;
  WorkingState state(port);
  state.stop_request = true;
  const std::string sheet = dir / "chars.pcx";
  WritePcx(sheet, CharacterSheet());

  const auto length = BuildFont(state, sheet.c_str());

  ASSERT_TRUE(length.has_value());
  EXPECT_EQ(*length, 278u);
  EXPECT_FALSE(state.stop_request);
  EXPECT_TRUE(state.picture_shown);
  EXPECT_TRUE(state.crop_lines);
  // The loaded sheet is shown first, then each step of the build.
  ASSERT_EQ(port.repaints.size(), 4u);
  for (const auto& r : port.repaints) EXPECT_TRUE(r.erase);
  EXPECT_TRUE(port.messages.empty());
  // Nothing is written before the save step: a cancelled save dialog drops the font.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  const std::string font_path = dir / "chars.fnt";
  ASSERT_TRUE(SaveFont(state, font_path.c_str(), *length));
  EXPECT_EQ(ReadFileBytes(font_path), CharacterSheetFont());
  EXPECT_TRUE(port.messages.empty());
}

TEST(FontCommand, SourceThatDoesNotLoadBuildsNothing) {
  TempDir dir;
  RecordingPort port;
  WorkingState state(port);
  // A picture already on show must not be cut into a font in the missing sheet's place.
  const auto sheet = CharacterSheet();
  std::copy(sheet.begin(), sheet.end(), state.Picture().begin());
  const std::string truncated = dir / "half.pcx";
  {
    std::vector<std::uint8_t> out(kPcxMaxSize);
    out.resize(EncodePcx(sheet, out) / 2);
    testing::WriteFileBytes(truncated, out);
  }

  for (const std::string& path : {dir / "missing.pcx", truncated}) {
    SCOPED_TRACE(path);
    port.Clear();
    EXPECT_FALSE(BuildFont(state, path.c_str()).has_value());
    EXPECT_EQ(port.MessageTexts(), std::vector<std::string>{"PCX " + std::string(FileNameOf(path)) +
                                                            " could not be loaded"});
    EXPECT_TRUE(port.repaints.empty());
    EXPECT_TRUE(std::equal(sheet.begin(), sheet.end(), state.Picture().begin()));
    // A file that is not there is explained by the file layer, one that was refused by the
    // reader.
    if (path != truncated) {
      EXPECT_EQ(port.explanations, std::vector<std::string>{"missing.pcx: no such file"});
    }
  }
  EXPECT_EQ(port.explanations,
            std::vector<std::string>{"half.pcx: the picture data end before its last row"});
}

TEST(FontCommand, RefusedFontIsNotOffered) {
  TempDir dir;
  RecordingPort port;
  WorkingState state(port);
  std::vector<std::uint8_t> picture(kPictureBytes, 0);
  SetPixel(picture, 0, 0, 200);
  SetPixel(picture, 0, 300, 200);  // a line 299 rows high
  SetPixel(picture, 5, 5, 200);
  const std::string sheet = dir / "tall.pcx";
  WritePcx(sheet, picture);

  EXPECT_FALSE(BuildFont(state, sheet.c_str()).has_value());
  EXPECT_EQ(port.MessageTexts(),
            std::vector<std::string>{"Font not built: line height 299 is above 255 rows."});
}

TEST(FontCommand, FontFileThatCannotBeCreatedIsReportedByName) {
  TempDir dir;
  RecordingPort port;
  WorkingState state(port);
  const std::string sheet = dir / "chars.pcx";
  WritePcx(sheet, CharacterSheet());
  const auto length = BuildFont(state, sheet.c_str());
  ASSERT_TRUE(length.has_value());

  const std::string font_path = dir / "gone/chars.fnt";
  EXPECT_FALSE(SaveFont(state, font_path.c_str(), *length));
  EXPECT_EQ(port.MessageTexts(), std::vector<std::string>{"Could not save PCX chars.fnt"});
}

TEST(HelpCommand, ShowsTheSevenLinesInAnInformationBox) {
  RecordingPort port;
  ShowHelp(port);
  ASSERT_EQ(port.messages.size(), 1u);
  const auto& m = port.messages[0];
  EXPECT_EQ(m.caption, "ZCreate");
  EXPECT_EQ(m.owner, Owner::kMain);
  EXPECT_EQ(m.icon, MessageIcon::kInformation);
  EXPECT_EQ(m.text,
            "ZEMLO Creator\n"
            "\n"
            "- To convert an IFF or PCX graphics set, click on CREATE and select the ZGL info "
            "file.\n"
            "- To show a ZGL graphics set, click on SHOW ZGL and select the ZGL info file.\n"
            "  Browse the graphics set with cursor left/right keys and F1 to go to an icon "
            "number.\n"
            "- To save the current graphics, click on SAVE AS PCX and enter a name for the file "
            "to save.\n"
            "- To check a ZGL block set, click on INTEGRITY CHECK\n");
  EXPECT_EQ(m.text, kHelpText);
  EXPECT_EQ(std::count(m.text.begin(), m.text.end(), '\n'), 7);
}

TEST(PictureCommands, MessagesNameTheFileWithoutItsFolder) {
  EXPECT_EQ(FileNameOf("C:\\fonts\\big.fnt"), "big.fnt");
  EXPECT_EQ(FileNameOf("/tmp/x/shot.pcx"), "shot.pcx");
  EXPECT_EQ(FileNameOf("shot.pcx"), "shot.pcx");
  EXPECT_EQ(FileNameOf("dir/"), "");
}

}  // namespace
}  // namespace zemlo
