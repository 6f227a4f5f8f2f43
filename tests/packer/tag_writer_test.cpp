#include <gtest/gtest.h>

#include <vector>

#include "packer/kzp.h"
#include "support/recording_port.h"

namespace zemlo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::RecordingPort;

Bytes WriteTag(std::size_t n, RecordingPort& port, std::size_t room = 20000) {
  const Bytes literals(n, 0xAB);
  Bytes out(room);
  out.resize(PutWriteTag(literals, out, port, Owner::kMain));
  return out;
}

Bytes ReplicateTag(int offset, int length, RecordingPort& port, std::size_t room = 8) {
  Bytes out(room, 0xEE);
  out.resize(PutReplicateTag(out, offset, length, port, Owner::kMain));
  return out;
}

TEST(KzpTagWriter, WriteTagLengthForms) {
  RecordingPort port;
  struct Case {
    std::size_t n;
    Bytes head;
  };
  for (const Case& c :
       {Case{0, {0x00}}, Case{1, {0x01}}, Case{63, {0x3F}}, Case{64, {0x40, 0x01}},
        Case{100, {0x64, 0x01}}, Case{8192, {0x40, 0x80}}, Case{16383, {0x7F, 0xFF}}}) {
    const Bytes tag = WriteTag(c.n, port);
    ASSERT_EQ(tag.size(), c.head.size() + c.n) << c.n;
    EXPECT_TRUE(std::equal(c.head.begin(), c.head.end(), tag.begin())) << c.n;
    EXPECT_TRUE(std::all_of(tag.begin() + c.head.size(), tag.end(),
                            [](std::uint8_t b) { return b == 0xAB; }));
  }
  EXPECT_TRUE(port.messages.empty());
}

TEST(KzpTagWriter, ReplicateTagForms) {
  RecordingPort port;
  EXPECT_EQ(ReplicateTag(1, 32, port), (Bytes{0x9F, 0x01}));
  EXPECT_EQ(ReplicateTag(127, 4, port), (Bytes{0x83, 0x7F}));
  EXPECT_EQ(ReplicateTag(128, 4, port), (Bytes{0x83, 0x80, 0x01}));
  EXPECT_EQ(ReplicateTag(32767, 1, port), (Bytes{0x80, 0xFF, 0xFF}));
  EXPECT_EQ(ReplicateTag(3, 65, port), (Bytes{0xC0, 0x01, 0x03}));
  EXPECT_EQ(ReplicateTag(200, 16384, port), (Bytes{0xFF, 0xFF, 0xC8, 0x01}));
  EXPECT_TRUE(port.messages.empty());
}

// Above the limits: the warning in the packer's own box, then only a tag that fits.
TEST(KzpTagWriter, WriteLimitWarnsAndWritesTheLargestTag) {
  RecordingPort port;
  const Bytes tag = WriteTag(16384, port, 20000);
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_EQ(port.messages[0].caption, "KZP");
  EXPECT_EQ(port.messages[0].text, "KZP ERROR: Write iWLen > 16383!!");
  EXPECT_EQ(port.messages[0].icon, MessageIcon::kWarning);
  EXPECT_EQ(port.messages[0].owner, Owner::kMain);
  ASSERT_EQ(tag.size(), 2u + 16383u);
  EXPECT_EQ(tag[0], 0x7F);
  EXPECT_EQ(tag[1], 0xFF);
}

TEST(KzpTagWriter, ReplicateLimitsWarnInOrder) {
  RecordingPort port;
  EXPECT_EQ(ReplicateTag(5, 16385, port), (Bytes{0xFF, 0xFF, 0x05}));
  EXPECT_EQ(port.MessageTexts(), (std::vector<std::string>{"KZP ERROR: Rep iRLen > 16383!!"}));

  port.Clear();
  EXPECT_TRUE(ReplicateTag(32768, 4, port).empty());
  EXPECT_EQ(port.MessageTexts(), (std::vector<std::string>{"KZP ERROR: Rep iROffset > 32767!!"}));

  port.Clear();
  EXPECT_TRUE(ReplicateTag(40000, 20000, port).empty());
  EXPECT_EQ(port.MessageTexts(), (std::vector<std::string>{"KZP ERROR: Rep iRLen > 16383!!",
                                                           "KZP ERROR: Rep iROffset > 32767!!"}));
  for (const auto& m : port.messages) EXPECT_EQ(m.caption, "KZP");
}

TEST(KzpTagWriter, MeaninglessReplicateWritesNothing) {
  RecordingPort port;
  EXPECT_TRUE(ReplicateTag(0, 4, port).empty());
  EXPECT_TRUE(ReplicateTag(-3, 4, port).empty());
  EXPECT_TRUE(ReplicateTag(3, 0, port).empty());
}

TEST(KzpTagWriter, TagsThatDoNotFitAreNotWritten) {
  RecordingPort port;
  const Bytes literals(64, 1);
  Bytes out(66, 0xEE);
  EXPECT_EQ(PutWriteTag(literals, std::span(out).first(65), port, Owner::kMain), 0u);
  EXPECT_EQ(out, Bytes(66, 0xEE));
  EXPECT_EQ(PutWriteTag(literals, out, port, Owner::kMain), 66u);
  EXPECT_EQ(PutWriteTag({}, std::span(out).first(0), port, Owner::kMain), 0u);

  Bytes rep(4, 0xEE);
  EXPECT_EQ(PutReplicateTag(std::span(rep).first(2), 128, 4, port, Owner::kMain), 0u);
  EXPECT_EQ(PutReplicateTag(std::span(rep).first(1), 1, 4, port, Owner::kMain), 0u);
  EXPECT_EQ(rep, Bytes(4, 0xEE));
  EXPECT_EQ(PutReplicateTag(std::span(rep).first(3), 128, 4, port, Owner::kMain), 3u);
  EXPECT_EQ(rep[3], 0xEE);
  EXPECT_TRUE(port.messages.empty());
}

TEST(KzpTagWriter, PackedEntryIsRecognisedByThreeBytes) {
  EXPECT_TRUE(IsPackedEntry(Bytes{'K', 'Z', 'P'}));
  EXPECT_TRUE(IsPackedEntry(Bytes{'K', 'Z', 'P', '7', 1}));
  EXPECT_FALSE(IsPackedEntry(Bytes{'K', 'Z'}));
  EXPECT_FALSE(IsPackedEntry(Bytes{24, 128, 0, 0}));
  EXPECT_FALSE(IsPackedEntry(Bytes{'k', 'Z', 'P', '1'}));
}

}  // namespace
}  // namespace zemlo
