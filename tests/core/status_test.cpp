#include "core/status.h"

#include <gtest/gtest.h>

#include <string>

#include "support/recording_port.h"

namespace zemlo {
namespace {

using testing::RecordingPort;

TEST(StatusTitle, SubstitutesUntitledAndOkForEmptyFields) {
  RecordingPort port;
  WorkingState state(port);
  SetStatusTitle(state, "", "", 7);
  ASSERT_EQ(port.titles.size(), 1u);
  EXPECT_EQ(port.titles[0], "ZCreate - UNTITLED (OK) - 7");
  EXPECT_STREQ(state.title_text, "ZCreate - UNTITLED (OK) - 7");
}

TEST(StatusTitle, FormatsNameStatusAndNumber) {
  RecordingPort port;
  WorkingState state(port);
  SetStatusTitle(state, "ICONS\\3\\0\\0\\5.PCX", "X-masked", 1234);
  EXPECT_EQ(port.titles.back(), "ZCreate - ICONS\\3\\0\\0\\5.PCX (X-masked) - 1234");
}

TEST(StatusTitle, LongNameIsCutToTheTitleBuffer) {
  RecordingPort port;
  WorkingState state(port);
  const std::string long_name(2000, 'n');
  SetStatusTitle(state, long_name, "Unmasked", 5);
  EXPECT_EQ(port.titles.back().size(), kTextBufferSize - 1);
  EXPECT_EQ(port.titles.back().substr(0, 10), "ZCreate - ");
}

TEST(Warning, EmptyTextBecomesUntitled) {
  RecordingPort port;
  ShowWarning(port, Owner::kMain, "Could not read file %s!", "");
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_EQ(port.messages[0].text, "Could not read file UNTITLED!");
  EXPECT_EQ(port.messages[0].caption, "ZCreate");
  EXPECT_EQ(port.messages[0].owner, Owner::kMain);
  EXPECT_EQ(port.messages[0].icon, MessageIcon::kWarning);
}

TEST(Warning, NumberFormatsInDecimalAndHex) {
  RecordingPort port;
  ShowWarningNumber(port, Owner::kNone, "Caution! iXLen = %x", 801);
  ShowWarningNumber(port, Owner::kMain, "Entry of icon %i corrupt (length 0)", 3007);
  EXPECT_EQ(port.messages[0].text, "Caution! iXLen = 321");
  EXPECT_EQ(port.messages[0].owner, Owner::kNone);
  EXPECT_EQ(port.messages[1].text, "Entry of icon 3007 corrupt (length 0)");
}

TEST(Warning, LongTextIsCutNeverOverrun) {
  RecordingPort port;
  ShowWarning(port, Owner::kMain, "File %s write error!", std::string(1000, 'x'));
  EXPECT_EQ(port.messages[0].text.size(), kTextBufferSize - 1);
}

TEST(WorkingStateTest, BuffersHaveTheirSizesAndStartZeroed) {
  RecordingPort port;
  WorkingState state(port);
  EXPECT_EQ(state.info_text.size(), 4097u);
  EXPECT_EQ(state.file.size(), 1940001u);
  EXPECT_EQ(state.picture.size(), 1940001u);
  EXPECT_EQ(state.index.size(), 485000u);
  EXPECT_EQ(state.unpack.size(), 1940000u);
  EXPECT_EQ(state.coordinates.size(), 168001u);
  EXPECT_EQ(state.offsets.size(), 160001u);
  EXPECT_EQ(state.palette.size(), 768u);
  EXPECT_EQ(state.current_icon.load(), 1);
  EXPECT_FALSE(state.stop_request.load());
  EXPECT_EQ(state.window_mode.load(), WindowMode::kIdle);
  for (std::uint8_t b : state.picture.span()) ASSERT_EQ(b, 0);
}

}  // namespace
}  // namespace zemlo
