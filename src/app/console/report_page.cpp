// The report's page: one static HTML file without script. Each picture links to a view of
// itself at four times its size, an element of the same page shown while the address names
// it (:target); its image loads only when it is shown, so that a page of thousands of
// pictures loads each PNG once.
#include <map>

#include "app/console/report_writer.h"
#include "core/geometry.h"
#include "library/codec/icon_encoder.h"

namespace zemlo::console {
namespace {

// 1234567 -> "1,234,567".
std::string Grouped(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string Percent(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return "-";
  return std::to_string((part * 100 + whole / 2) / whole) + " %";
}

// `part` of `whole` in percent for a style, to four decimals without trailing zeros:
// 50 of 600 -> "8.3333%".
std::string CssPercent(std::uint64_t part, std::uint64_t whole) {
  constexpr std::uint64_t kScale = 10000;
  const std::uint64_t scaled = (part * 100 * kScale + whole / 2) / whole;
  std::string fraction = std::to_string(kScale + scaled % kScale).substr(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  return std::to_string(scaled / kScale) + (fraction.empty() ? "" : "." + fraction) + "%";
}

std::string KindText(const VerifiedIcon& icon) {
  if (icon.entry_length < kEntryHeaderSize) return "no header";
  // The table's column says what the unknown byte is: "kind byte 7".
  const std::string text = MaskKindText(icon.kind);
  return MaskKindWord(icon.kind).empty() ? "kind " + text : text;
}

constexpr std::string_view kStyle = R"(
body { font: 14px/1.4 sans-serif; margin: 16px 24px; background: #f3f3f0; color: #222; }
h1 { font-size: 22px; margin: 0 0 12px; }
h2 { font-size: 17px; margin: 24px 0 8px; }
table.summary th { text-align: left; padding: 2px 16px 2px 0; font-weight: 600; }
table.summary td { padding: 2px 0; }
table.sounds { border-collapse: collapse; background: #fff; }
table.sounds th, table.sounds td { border: 1px solid #ccc; padding: 3px 10px; text-align: left; }
td.num, th.num { text-align: right; }
.clean { color: #176117; font-weight: 600; }
.bad { color: #a40000; font-weight: 600; }
ul.findings { margin: 4px 0 0; padding-left: 18px; color: #a40000; }
.tiles { display: flex; flex-wrap: wrap; gap: 12px; align-items: flex-start; }
figure.tile { margin: 0; background: #fff; border: 1px solid #c8c8c0; border-radius: 4px;
  padding: 8px; min-width: 160px; }
figure.tile.marked { border: 2px solid #c00000; background: #fff4f4; min-width: 260px; }
.pic { display: inline-block; line-height: 0; border: 1px solid #999;
  background: repeating-conic-gradient(#d9d9d9 0% 25%, #ffffff 0% 50%) 0 0 / 16px 16px; }
.pic img { image-rendering: pixelated; }
.nopic { display: inline-block; padding: 12px; border: 1px dashed #999; color: #666; }
figcaption { margin-top: 6px; font-size: 12px; width: 0; min-width: 100%;
  overflow-wrap: anywhere; }
figcaption .icon { font-size: 15px; font-weight: 700; }
.unknown { color: #777; }
table.sounds td, ul.findings li { overflow-wrap: anywhere; }
.frame { display: block; position: relative; width: 160px; height: 120px; margin-top: 6px;
  background: #1b1b1f; border: 1px solid #555; overflow: hidden; }
.frame img { position: absolute; display: block; }
.view { display: none; }
.view:target { display: block; position: fixed; inset: 0; z-index: 1; overflow: auto;
  padding: 16px 24px; background: #141418; color: #eee; }
.view a { color: #9cf; }
.view .pic { margin-top: 8px; }
.view img { image-rendering: crisp-edges; image-rendering: pixelated; }
)";

class Page {
 public:
  void Raw(std::string_view text) { html_ += text; }
  void Text(std::string_view text) { html_ += EscapeHtml(text); }
  std::string Take() { return std::move(html_); }

 private:
  std::string html_;
};

void FindingItem(Page& page, const VerifyFinding& finding, bool link) {
  page.Raw("<li>&#9888; ");
  if (link && finding.icon >= 0) {
    const std::string icon = std::to_string(finding.icon);
    page.Raw("<a href=\"#icon-" + icon + "\">icon " + icon + "</a>: ");
  }
  page.Text(finding.file);
  page.Raw(": ");
  page.Text(finding.what);
  page.Raw("</li>\n");
}

void Summary(Page& page, const std::vector<ReportIcon>& icons, const VerifyOutcome& outcome) {
  int pictures = 0, sounds = 0, packed = 0, other_kinds = 0;
  std::map<std::string, int> kinds;
  std::uint64_t entry_bytes = 0, stored_bytes = 0;
  for (const auto& item : icons) {
    const VerifiedIcon& icon = item.icon;
    entry_bytes += icon.entry_length;
    stored_bytes += icon.stored_length;
    if (icon.packed) ++packed;
    if (icon.sound) {
      ++sounds;
      continue;
    }
    ++pictures;
    const std::string_view word =
        icon.entry_length >= kEntryHeaderSize ? MaskKindWord(icon.kind) : std::string_view();
    if (word.empty()) {
      ++other_kinds;
    } else {
      ++kinds[std::string(word)];
    }
  }
  page.Raw("<table class=\"summary\">\n<tr><th>Icons</th><td>");
  page.Text(std::to_string(icons.size()) + " (" + std::to_string(pictures) + " pictures, " +
            std::to_string(sounds) + " sounds)");
  page.Raw("</td></tr>\n<tr><th>Kinds</th><td>");
  std::string kinds_text;
  for (const char* word : {"Unmasked", "0-masked", "X-masked"}) {
    kinds_text += std::string(word) + " " + std::to_string(kinds[word]) + ", ";
  }
  if (other_kinds > 0) kinds_text += "unreadable " + std::to_string(other_kinds) + ", ";
  kinds_text += "packed " + std::to_string(packed);
  page.Text(kinds_text);
  page.Raw("</td></tr>\n<tr><th>Bytes</th><td>");
  page.Text(Grouped(entry_bytes) + " in entries, " + Grouped(stored_bytes) + " stored");
  page.Raw("</td></tr>\n<tr><th>Packing ratio</th><td>");
  page.Text(Percent(stored_bytes, entry_bytes) + " (stored bytes of the entry bytes)");
  page.Raw("</td></tr>\n<tr><th>Findings</th><td class=\"");
  page.Raw(outcome.findings.empty() ? "clean\">" : "bad\">");
  page.Raw("<a href=\"#findings\">" + std::to_string(outcome.findings.size()) + "</a>");
  page.Raw("</td></tr>\n</table>\n");
}

// "pcx/p3_0_0_1.pcx, 12,345 bytes", or empty when the source is not known.
std::string SourceText(const ReportIcon& item) {
  const VerifiedIcon& icon = item.icon;
  if (icon.source.empty()) return {};
  return icon.source + (icon.source_size > 0 ? ", " + Grouped(icon.source_size) + " bytes" : "");
}

void SourceLine(Page& page, const ReportIcon& item) {
  const std::string text = SourceText(item);
  if (text.empty()) {
    page.Raw("<div class=\"unknown\">source unknown</div>\n");
    return;
  }
  page.Raw("<div>");
  page.Text("source: " + text);
  page.Raw("</div>\n");
}

std::string ImageTag(const ReportIcon& item, int scale, std::string_view alt) {
  return "<img src=\"" + EscapeHtml(item.png) + "\" width=\"" +
         std::to_string(item.icon.box.width * scale) + "\" height=\"" +
         std::to_string(item.icon.box.height * scale) + "\" alt=\"" + std::string(alt) +
         "\" loading=\"lazy\">";
}

// The picture as it is, and small at its place on the frame; the PNG holds the crop box
// alone, so the box's position and size are in percent of the 800 x 600 frame. Both link to
// the picture's view.
void TilePictures(Page& page, const ReportIcon& item) {
  const CoordinatesRecord& box = item.icon.box;
  const std::string number = std::to_string(item.icon.icon);
  const std::string view = "#view-" + number;
  page.Raw("<a class=\"pic\" href=\"" + view + "\">" + ImageTag(item, 1, "icon " + number) +
           "</a>\n");
  page.Raw("<a class=\"frame\" href=\"" + view +
           "\" title=\"at its place on the 800 x 600 frame\"><img src=\"" + EscapeHtml(item.png) +
           "\" alt=\"\" loading=\"lazy\" style=\"left: " + CssPercent(box.left, kPictureWidth) +
           "; top: " + CssPercent(box.top, kPictureHeight) +
           "; width: " + CssPercent(box.width, kPictureWidth) +
           "; height: " + CssPercent(box.height, kPictureHeight) + "\"></a>\n");
}

void Caption(Page& page, const ReportIcon& item,
             const std::vector<const VerifyFinding*>& findings) {
  const VerifiedIcon& icon = item.icon;
  page.Raw("<figcaption><div class=\"icon\">" + std::to_string(icon.icon) + "</div>\n<div>");
  page.Text(KindText(icon));
  page.Raw("</div>\n<div>");
  if (icon.entry_length > 0 || findings.empty()) {
    page.Text("entry " + Grouped(icon.entry_length) + " bytes");
  } else {
    page.Text("entry unreadable");
  }
  page.Raw("</div>\n<div>");
  if (icon.packed) {
    page.Text("packed " + Grouped(icon.stored_length) + " bytes (" +
              Percent(icon.stored_length, icon.entry_length) + ")");
  } else {
    page.Text("not packed");
  }
  page.Raw("</div>\n<div>");
  page.Text(icon.file);
  page.Raw("</div>\n");
  SourceLine(page, item);
  page.Raw("<div>crop box ");
  page.Text(CropBoxText(icon.box));
  page.Raw("</div>\n");
  if (!findings.empty()) {
    page.Raw("<ul class=\"findings\">\n");
    for (const VerifyFinding* finding : findings) FindingItem(page, *finding, false);
    page.Raw("</ul>\n");
  }
  page.Raw("</figcaption>\n");
}

void Tile(Page& page, const ReportIcon& item, const std::vector<const VerifyFinding*>& findings) {
  page.Raw("<figure class=\"tile" + std::string(findings.empty() ? "" : " marked") +
           "\" id=\"icon-" + std::to_string(item.icon.icon) + "\">\n");
  if (!item.png.empty()) {
    TilePictures(page, item);
  } else {
    page.Raw("<div class=\"nopic\">no picture</div>\n");
  }
  Caption(page, item, findings);
  page.Raw("</figure>\n");
}

// The picture at four times its size with its pixels kept square, shown while the address
// names it; its image loads only then.
void View(Page& page, const ReportIcon& item) {
  const std::string number = std::to_string(item.icon.icon);
  page.Raw("<section class=\"view\" id=\"view-" + number + "\">\n<a href=\"#icon-" + number +
           "\">&#8592; back to the tile</a>\n<h2>Icon " + number +
           " at four times its size</h2>\n");
  page.Raw("<div>");
  page.Text(item.icon.file + ", crop box " + CropBoxText(item.icon.box));
  page.Raw("</div>\n<div class=\"pic\">" +
           ImageTag(item, 4, "icon " + number + " at four times its size") +
           "</div>\n</section>\n");
}

void Sounds(Page& page, const std::vector<ReportIcon>& icons,
            const std::multimap<int, const VerifyFinding*>& by_icon) {
  page.Raw("<h2>Sounds</h2>\n");
  bool any = false;
  for (const auto& item : icons) any = any || item.icon.sound;
  if (!any) {
    page.Raw("<p>No sound icons.</p>\n");
    return;
  }
  page.Raw(
      "<table class=\"sounds\">\n<tr><th class=\"num\">Icon</th><th class=\"num\">Length</th>"
      "<th class=\"num\">Stored</th><th>File</th><th>Source</th><th>Findings</th></tr>\n");
  for (const auto& item : icons) {
    const VerifiedIcon& icon = item.icon;
    if (!icon.sound) continue;
    const std::string number = std::to_string(icon.icon);
    page.Raw("<tr id=\"icon-" + number + "\"><td class=\"num\">" + number +
             "</td><td class=\"num\">");
    page.Text(Grouped(icon.entry_length) + " bytes");
    page.Raw("</td><td class=\"num\">");
    page.Text(icon.packed ? Grouped(icon.stored_length) + " packed" : "not packed");
    page.Raw("</td><td>");
    page.Text(icon.file);
    page.Raw("</td><td>");
    const std::string source = SourceText(item);
    page.Text(source.empty() ? "unknown" : source);
    page.Raw("</td><td>");
    const auto [begin, end] = by_icon.equal_range(icon.icon);
    if (begin != end) {
      page.Raw("<ul class=\"findings\">\n");
      for (auto it = begin; it != end; ++it) FindingItem(page, *it->second, false);
      page.Raw("</ul>");
    }
    page.Raw("</td></tr>\n");
  }
  page.Raw("</table>\n");
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string ReportHtml(std::string_view project, const std::vector<ReportIcon>& icons,
                       const VerifyOutcome& outcome) {
  std::multimap<int, const VerifyFinding*> by_icon;
  for (const auto& finding : outcome.findings) by_icon.emplace(finding.icon, &finding);

  Page page;
  page.Raw(
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>");
  page.Text("ZGL library " + std::string(project));
  page.Raw("</title>\n<style>");
  page.Raw(kStyle);
  page.Raw("</style>\n</head>\n<body>\n<h1>");
  page.Text("ZGL library " + std::string(project));
  page.Raw("</h1>\n");
  Summary(page, icons, outcome);

  page.Raw("<h2 id=\"findings\">Findings</h2>\n");
  if (outcome.findings.empty()) {
    page.Raw("<p class=\"clean\">None: every recorded entry verified.</p>\n");
  } else {
    page.Raw("<ul class=\"findings\">\n");
    for (const auto& finding : outcome.findings) FindingItem(page, finding, true);
    page.Raw("</ul>\n");
  }

  page.Raw("<h2>Pictures</h2>\n<div class=\"tiles\">\n");
  for (const auto& item : icons) {
    if (item.icon.sound) continue;
    std::vector<const VerifyFinding*> findings;
    const auto [begin, end] = by_icon.equal_range(item.icon.icon);
    for (auto it = begin; it != end; ++it) findings.push_back(it->second);
    Tile(page, item, findings);
  }
  page.Raw("</div>\n");
  for (const auto& item : icons) {
    if (!item.png.empty()) View(page, item);
  }
  Sounds(page, icons, by_icon);
  page.Raw("</body>\n</html>\n");
  return page.Take();
}

}  // namespace zemlo::console
