// The message formats are checked when the program is built: these hold the check itself to
// what snprintf makes of each conversion, and the two kinds apart.
#include "core/message_format.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "core/status.h"
#include "support/recording_port.h"

namespace zemlo {
namespace {

// One %s is a text format; one integer conversion a number format.
static_assert(ArgumentOf("Could not read file %s!") == FormatArgument::kText);
static_assert(ArgumentOf("Caution! iXLen = %x") == FormatArgument::kNumber);
static_assert(ArgumentOf("Icon %i is lost") == FormatArgument::kNumber);
static_assert(ArgumentOf("%d") == FormatArgument::kNumber);
static_assert(ArgumentOf("%u%%") == FormatArgument::kNumber);
// "%%" prints a percent sign and takes nothing.
static_assert(ArgumentOf("100%% done") == FormatArgument::kNone);
static_assert(ArgumentOf("Offsets file not found") == FormatArgument::kNone);
// Anything snprintf would read more or other arguments for is refused.
static_assert(ArgumentOf("%s and %s") == FormatArgument::kBad);
static_assert(ArgumentOf("%s is %i") == FormatArgument::kBad);
static_assert(ArgumentOf("%llu") == FormatArgument::kBad);
static_assert(ArgumentOf("%5s") == FormatArgument::kBad);
static_assert(ArgumentOf("%f") == FormatArgument::kBad);
static_assert(ArgumentOf("ends in %") == FormatArgument::kBad);

// The kinds do not turn into each other, and neither is made from a text at run time.
static_assert(!std::is_convertible_v<TextFormat, NumberFormat>);
static_assert(!std::is_convertible_v<NumberFormat, TextFormat>);
static_assert(
    !std::is_invocable_v<decltype(ShowWarningNumber), StatusPort&, Owner, TextFormat, int>);
static_assert(!std::is_invocable_v<decltype(ShowWarning), StatusPort&, Owner, NumberFormat,
                                   std::string_view>);

constexpr TextFormat kText = "File %s write error!";
constexpr NumberFormat kNumber = "Entry of icon %i corrupt (length 0)";

TEST(MessageFormat, KeepsItsLiteralAndShowsAsBefore) {
  EXPECT_STREQ(kText.c_str(), "File %s write error!");
  testing::RecordingPort port;
  ShowWarning(port, Owner::kMain, kText, "a.pcx");
  ShowWarningNumber(port, Owner::kMain, kNumber, 3007);
  ShowWarningText(port, Owner::kMain, "Offsets file not found");
  EXPECT_EQ(port.MessageTexts(), (std::vector<std::string>{"File a.pcx write error!",
                                                           "Entry of icon 3007 corrupt (length 0)",
                                                           "Offsets file not found"}));
}

}  // namespace
}  // namespace zemlo
