// The report's page and pictures: each drawn picture icon gets a PNG of its crop box named by
// its number (the encoder's own tests check the files; zgl_png_test.sh decodes them), and
// every name on the page is escaped.
#include "app/console/report_writer.h"

#include <gtest/gtest.h>

#include "core/geometry.h"
#include "library/codec/icon_encoder.h"
#include "picture/png_writer.h"
#include "support/small_picture.h"
#include "support/temp_dir.h"

namespace zemlo::console {
namespace {

using zemlo::testing::SmallPicture;
using zemlo::testing::TempDir;

// The PNG the report should hold for the crop box (3 x 1 at (5, 5)) of `picture`.
std::vector<std::uint8_t> BoxPng(const std::vector<std::uint8_t>& picture, bool see_through) {
  std::string error;
  return EncodeRgbaPng(IconRgba(picture, {5, 5, 3, 1}, see_through), 3, 1, error);
}

TEST(ReportPictures, DrawnPicturesGetAPngOfTheirCropBoxSeeThroughForMaskedKinds) {
  const auto picture = SmallPicture();
  const CoordinatesRecord box{3, 1, 5, 5};
  // Drawn pictures get a PNG named by their icon; sounds and undrawn entries none.
  TempDir dir;
  ReportBuilder builder(dir.path());
  VerifiedIcon xmasked, unmasked, undrawn, sound, outside;
  xmasked.icon = 3001, xmasked.kind = kXMasked, xmasked.box = box, xmasked.drawn = true;
  unmasked.icon = 3003, unmasked.kind = kUnmasked, unmasked.box = box, unmasked.drawn = true;
  undrawn.icon = 3002, undrawn.box = box;
  sound.icon = 9000, sound.sound = true, sound.drawn = true;
  // The sources the checksum file named, for pictures and sounds alike.
  xmasked.source = "pcx/p3.pcx", xmasked.source_size = 12345;
  sound.source = "s9.wav";
  for (const auto& icon : {xmasked, undrawn, sound, unmasked}) builder.IconVerified(icon, picture);
  ASSERT_EQ(builder.icons().size(), 4u);
  EXPECT_EQ(builder.icons()[0].png, "3001.png");
  EXPECT_EQ(builder.icons()[1].png, "");
  EXPECT_EQ(builder.icons()[2].png, "");
  EXPECT_EQ(builder.icons()[3].png, "3003.png");
  EXPECT_EQ(builder.icons()[0].icon.source, "pcx/p3.pcx");
  EXPECT_EQ(builder.icons()[0].icon.source_size, 12345u);
  EXPECT_EQ(builder.icons()[2].icon.source, "s9.wav");
  EXPECT_EQ(builder.icons()[3].icon.source, "");
  EXPECT_TRUE(builder.errors().empty());
  EXPECT_EQ(zemlo::testing::ReadFileBytes(dir.path() / "3001.png"), BoxPng(picture, true));
  EXPECT_EQ(zemlo::testing::ReadFileBytes(dir.path() / "3003.png"), BoxPng(picture, false));
  EXPECT_NE(BoxPng(picture, true), BoxPng(picture, false));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "3002.png"));

  // A box that leaves the picture has no pixels to write: named, no file.
  outside.icon = 3004, outside.box = {3, 1, 798, 5}, outside.drawn = true;
  builder.IconVerified(outside, picture);
  ASSERT_EQ(builder.errors().size(), 1u);
  EXPECT_EQ(builder.errors()[0], (dir.path() / "3004.png").string() + ": no pixels to write");
  EXPECT_EQ(builder.icons().back().png, "");
}

// A picture is a new file: one of its name stands already without `replace`; a link never,
// and what it points to stays as it was.
TEST(ReportPictures, PicturesAreNewFilesAndNeverWrittenThroughLinks) {
  const auto picture = SmallPicture();
  const CoordinatesRecord box{3, 1, 5, 5};
  VerifiedIcon icon;
  icon.icon = 3001, icon.kind = kXMasked, icon.box = box, icon.drawn = true;
  TempDir dir;
  const auto png = dir.path() / "3001.png";
  const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
  zemlo::testing::WriteFileBytes(png, old);

  ReportBuilder keeping(dir.path());
  keeping.IconVerified(icon, picture);
  ASSERT_EQ(keeping.errors().size(), 1u);
  EXPECT_EQ(keeping.errors()[0], png.string() + ": " + kOutputExistsText);
  EXPECT_EQ(keeping.icons()[0].png, "");
  EXPECT_EQ(zemlo::testing::ReadFileBytes(png), old);

  ReportBuilder replacing(dir.path(), true);
  replacing.IconVerified(icon, picture);
  EXPECT_TRUE(replacing.errors().empty());
  EXPECT_EQ(zemlo::testing::ReadFileBytes(png), BoxPng(picture, true));

#if !defined(_WIN32)
  const auto victim = dir.path() / "victim.txt";
  zemlo::testing::WriteFileBytes(victim, old);
  std::filesystem::remove(png);
  std::filesystem::create_symlink(victim, png);
  ReportBuilder through(dir.path(), true);
  through.IconVerified(icon, picture);
  ASSERT_EQ(through.errors().size(), 1u);
  EXPECT_EQ(through.errors()[0], png.string() + ": " + kOutputLinkText);
  EXPECT_EQ(zemlo::testing::ReadFileBytes(victim), old);
#endif
}

ReportIcon PageIcon(int n, bool sound, bool packed, std::uint8_t kind, std::size_t stored,
                    std::size_t entry, CoordinatesRecord box, const char* png) {
  ReportIcon item;
  item.icon.icon = n, item.icon.sound = sound, item.icon.packed = packed;
  item.icon.kind = kind, item.icon.stored_length = stored, item.icon.entry_length = entry;
  item.icon.file = sound ? "s9_0_0_0.zgi" : "blk\\<b>30.blk";
  item.icon.box = box, item.icon.drawn = *png != 0, item.png = png;
  return item;
}

// A clean packed picture with a known source, a damaged one without a picture, and a sound.
std::vector<ReportIcon> PageIcons() {
  std::vector<ReportIcon> icons = {
      PageIcon(3000, false, true, kUnmasked, 1000, 4000, {40, 30, 100, 50}, "3000.png"),
      PageIcon(3001, false, false, kXMasked, 50, 50, {9, 9, 0, 0}, ""),
      PageIcon(9000, true, false, 0, 1234, 1234, {}, "")};
  icons[0].icon.source = "pcx/<x>&y.pcx", icons[0].icon.source_size = 12345;
  return icons;
}

VerifyOutcome PageOutcome() {
  VerifyOutcome outcome;
  outcome.icons_verified = 3;
  outcome.findings = {{3001, "blk\\<b>30.blk", "row 0 \"reaches\" past <the> edge"},
                      {-1, "a&b.ofs", "holds 3 bytes"}};
  return outcome;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(ReportPage, NamesAreEscapedAndTilesCarryTheirFacts) {
  EXPECT_EQ(EscapeHtml("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
  const std::string html = ReportHtml("<demo>.zgl", PageIcons(), PageOutcome());
  for (const char* raw : {"<demo>", "<b>", "<the>", "<x>", "a&b", "\"reaches\"", "<script"}) {
    EXPECT_EQ(html.find(raw), std::string::npos) << raw;
  }
  EXPECT_NE(html.find("<title>ZGL library &lt;demo&gt;.zgl</title>"), std::string::npos);
  EXPECT_NE(html.find("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"),
            std::string::npos);
  EXPECT_NE(html.find("<img src=\"3000.png\" width=\"40\" height=\"30\""), std::string::npos);
  EXPECT_NE(html.find("packed 1,000 bytes (25 %)"), std::string::npos);
  EXPECT_NE(html.find("crop box 40 x 30 at (100, 50)"), std::string::npos);
  EXPECT_NE(html.find("Unmasked 1, 0-masked 0, X-masked 1, packed 1"), std::string::npos);
  EXPECT_NE(html.find("5,284 in entries, 2,284 stored"), std::string::npos);
  EXPECT_NE(html.find("<div>source: pcx/&lt;x&gt;&amp;y.pcx, 12,345 bytes</div>"),
            std::string::npos);
  EXPECT_EQ(Count(html, "source unknown"), 1u);  // 3001's tile
  EXPECT_NE(html.find("<td>s9_0_0_0.zgi</td><td>unknown</td>"), std::string::npos);
  // The damaged icon's tile is marked and lists its finding; the clean one is not marked.
  EXPECT_NE(html.find("<figure class=\"tile marked\" id=\"icon-3001\">"), std::string::npos);
  EXPECT_NE(html.find("<figure class=\"tile\" id=\"icon-3000\">"), std::string::npos);
  EXPECT_NE(html.find("row 0 &quot;reaches&quot; past &lt;the&gt; edge"), std::string::npos);
  EXPECT_NE(html.find("<td class=\"num\">1,234 bytes</td>"), std::string::npos);
}

// The summary's count links to the findings section, which lists every finding and nothing
// else, an icon's with a link to its tile.
TEST(ReportPage, FindingsStandTogetherAtTheTop) {
  const std::string html = ReportHtml("demo.zgl", PageIcons(), PageOutcome());
  EXPECT_NE(html.find("<td class=\"bad\"><a href=\"#findings\">2</a></td>"), std::string::npos);
  const auto begin = html.find("<h2 id=\"findings\">");
  const auto end = html.find("<h2>Pictures</h2>");
  ASSERT_NE(begin, std::string::npos);
  ASSERT_LT(begin, end);
  const std::string section = html.substr(begin, end - begin);
  EXPECT_EQ(Count(section, "<li>"), 2u);
  EXPECT_NE(section.find("<li>&#9888; <a href=\"#icon-3001\">icon 3001</a>: blk\\&lt;b&gt;30.blk: "
                         "row 0 &quot;reaches&quot; past &lt;the&gt; edge</li>"),
            std::string::npos);
  EXPECT_NE(section.find("<li>&#9888; a&amp;b.ofs: holds 3 bytes</li>"), std::string::npos);

  const std::string clean = ReportHtml("demo.zgl", PageIcons(), VerifyOutcome{});
  EXPECT_NE(clean.find("<td class=\"clean\"><a href=\"#findings\">0</a></td>"), std::string::npos);
  EXPECT_EQ(Count(clean, "<li>"), 0u);
}

// The PNG holds the crop box alone: the thumbnail places it in percent of the 800 x 600
// frame. Both pictures of a tile open its view at four times the size; a tile without a
// picture has no view.
TEST(ReportPage, PicturesStandAtTheirPlaceAndOpenAtFourTimesTheirSize) {
  const std::string html = ReportHtml("demo.zgl", PageIcons(), PageOutcome());
  EXPECT_NE(html.find("style=\"left: 12.5%; top: 8.3333%; width: 5%; height: 5%\""),
            std::string::npos);
  EXPECT_EQ(Count(html, "href=\"#view-3000\""), 2u);
  EXPECT_NE(html.find("<section class=\"view\" id=\"view-3000\">"), std::string::npos);
  EXPECT_NE(html.find("<img src=\"3000.png\" width=\"160\" height=\"120\""), std::string::npos);
  EXPECT_NE(html.find("image-rendering: pixelated"), std::string::npos);
  EXPECT_EQ(html.find("view-3001"), std::string::npos);
  EXPECT_EQ(html.find("view-9000"), std::string::npos);
  // Every image waits until it is near the window or its view is shown.
  EXPECT_EQ(Count(html, "<img "), 3u);
  EXPECT_EQ(Count(html, "loading=\"lazy\""), 3u);

  // A box at the frame's far corner.
  auto corner = PageIcons();
  corner[0].icon.box = {1, 1, 799, 599};
  EXPECT_NE(ReportHtml("demo.zgl", corner, {})
                .find("style=\"left: 99.875%; top: 99.8333%; width: 0.125%; height: 0.1667%\""),
            std::string::npos);
}

}  // namespace
}  // namespace zemlo::console
