// The library report: a static page (index.html) and one PNG file per drawn picture icon,
// built from what the deep verification learns while it walks the library. The page works
// offline and carries no script.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "library/run/check/deep_verify.h"

namespace zemlo::console {

// The reasons an output was not written, as the report's messages give them after its name.
inline constexpr const char* kOutputExistsText = "exists; --force replaces it";
inline constexpr const char* kOutputLinkText = "is a link, and nothing is written through links";
inline constexpr const char* kOutputNotMadeText = "cannot be created";
inline constexpr const char* kOutputNoFileText = "is no file and is never replaced";

// Text made safe for HTML element content and quoted attribute values.
std::string EscapeHtml(std::string_view text);

struct ReportIcon {
  VerifiedIcon icon;
  std::string png;  // file name beside index.html; empty when no picture was written
};

// Writes each drawn picture icon as "<icon>.png" into the report folder while the walk runs
// and keeps what the page needs.
class ReportBuilder : public VerifyObserver {
 public:
  // With `replace`, pictures replace files of their names (never links).
  explicit ReportBuilder(std::filesystem::path folder, bool replace = false)
      : folder_(std::move(folder)), replace_(replace) {}

  void IconVerified(const VerifiedIcon& icon, std::span<const std::uint8_t> picture) override;

  const std::vector<ReportIcon>& icons() const { return icons_; }
  // Pictures that could not be written, one text each.
  const std::vector<std::string>& errors() const { return errors_; }

 private:
  std::filesystem::path folder_;
  bool replace_ = false;
  std::vector<ReportIcon> icons_;
  std::vector<std::string> errors_;
};

// The whole page for `project` (the info file's name as the user gave it): a summary, the
// findings alone, a tile per picture (the PNG as it is and small at its place on the 800 x 600
// frame, each a link to a view of the picture at four times its size) and a table of sounds.
std::string ReportHtml(std::string_view project, const std::vector<ReportIcon>& icons,
                       const VerifyOutcome& outcome);

}  // namespace zemlo::console
