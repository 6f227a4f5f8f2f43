// The pictures of the report: each drawn picture icon's crop box written as "<icon>.png"
// while the deep verification walks the library, and what the page needs kept per icon.
#include <utility>

#include "app/console/report_writer.h"
#include "library/codec/icon_encoder.h"
#include "picture/png_writer.h"

namespace zemlo::console {
namespace {

// Masked kinds leave their black pixels undrawn, so the page shows them as see-through;
// unmasked entries draw their black pixels like any other.
bool BlackIsTransparent(std::uint8_t kind) { return kind == kXMasked || kind == kZeroMasked; }

}  // namespace

void ReportBuilder::IconVerified(const VerifiedIcon& icon, std::span<const std::uint8_t> picture) {
  ReportIcon item{icon, {}};
  if (!icon.sound && icon.drawn) {
    const PictureBox box{icon.box.left, icon.box.top, icon.box.width, icon.box.height};
    const auto rgba = IconRgba(picture, box, BlackIsTransparent(icon.kind));
    const std::string name = std::to_string(icon.icon) + ".png";
    const char* failure = nullptr;
    if (rgba.empty()) {
      failure = "no pixels to write";
    } else {
      switch (WriteRgbaPng(folder_ / name, rgba, box.width, box.height, replace_)) {
        case files::OutputResult::kWritten:
          item.png = name;
          break;
        case files::OutputResult::kExists:
          failure = kOutputExistsText;
          break;
        case files::OutputResult::kLinkInTheWay:
          failure = kOutputLinkText;
          break;
        case files::OutputResult::kFailed:
          failure = kOutputNotMadeText;
          break;
      }
    }
    if (failure != nullptr) errors_.push_back((folder_ / name).string() + ": " + failure);
  }
  icons_.push_back(std::move(item));
}

}  // namespace zemlo::console
