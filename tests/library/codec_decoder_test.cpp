#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/status.h"
#include "library/codec/entry_decoder.h"
#include "support/name_text.h"
#include "support/recording_port.h"

namespace zemlo {
namespace {

using testing::MakeName;

using testing::RecordingPort;
using Bytes = std::vector<std::uint8_t>;

// ---- The decoder as stated, byte by byte, stopping where the entry or the picture ends;
// the reference the fast copies and overlays must match.
void RefDecode(const CoordinatesRecord& rec, const Bytes& entry, std::span<std::uint8_t> pic,
               std::vector<int>& warnings) {
  if (entry.size() < 2) return;
  const std::size_t b = entry[0] == 24 ? 3 : 1;
  const std::size_t stride = 800 * b;
  std::size_t src = std::min<std::size_t>(4, entry.size());
  std::size_t row_start = rec.top * stride + rec.left * b;
  auto read_count = [&](std::uint64_t& v) {
    v = 0;
    for (;;) {
      if (src >= entry.size()) return false;
      const std::uint8_t byte = entry[src++];
      v += byte;
      if (byte != 255) return true;
    }
  };
  if (entry[1] & 0x80) {
    for (int row = 0; row < rec.height; ++row, row_start += stride) {
      std::uint64_t out = row_start;
      for (;;) {
        std::uint64_t copy, skip;
        if (!read_count(copy)) return;
        if (copy == 0) break;
        if (!read_count(skip)) return;
        out += skip * b;
        if (copy > 800) warnings.push_back(static_cast<int>(copy));
        for (std::uint64_t i = 0; i < copy * b; ++i) {
          if (src >= entry.size() || out >= pic.size()) return;
          pic[out++] = entry[src++];
        }
      }
    }
    return;
  }
  const bool zero_masked = (entry[1] & 0x40) != 0;
  for (int row = 0; row < rec.height; ++row, row_start += stride) {
    std::size_t out = row_start;
    for (std::size_t i = 0; i < rec.width * b; ++i, ++out) {
      if (src >= entry.size() || out >= pic.size()) return;
      const std::uint8_t s = entry[src++];
      if (s != 0 || !zero_masked) pic[out] = s;
    }
  }
}

// A picture span with guard bytes on both sides that no decode may touch.
struct GuardedPicture {
  static constexpr std::size_t kGuard = 4096;
  explicit GuardedPicture(std::uint8_t fill = 0) : bytes(kPictureBytes + 2 * kGuard, 0xA5) {
    std::memset(bytes.data() + kGuard, fill, kPictureBytes);
  }
  std::span<std::uint8_t> picture() { return std::span(bytes).subspan(kGuard, kPictureBytes); }
  bool GuardsIntact() const {
    for (std::size_t i = 0; i < kGuard; ++i)
      if (bytes[i] != 0xA5 || bytes[bytes.size() - 1 - i] != 0xA5) return false;
    return true;
  }
  const std::uint8_t* Pixel(int x, int y) const {
    return &bytes[kGuard + (static_cast<std::size_t>(y) * kPictureWidth + x) * 3];
  }
  Bytes PixelBytes(int x, int y) const {
    const std::uint8_t* p = Pixel(x, y);
    return {p[0], p[1], p[2]};
  }
  Bytes bytes;
};

struct Decoder {
  Bytes table = Bytes(kCoordinatesTableSize, 0);
  CoordinatesTable coordinates{table};
  RecordingPort port;

  void Decode(int icon, const CoordinatesRecord& rec, const Bytes& entry,
              std::span<std::uint8_t> picture, Owner owner = Owner::kMain) {
    coordinates.Set(icon, rec);
    DecodeEntry(icon, entry, picture, coordinates, port, owner);
  }
};

bool AllZero(std::span<const std::uint8_t> s) {
  for (std::uint8_t b : s)
    if (b != 0) return false;
  return true;
}

TEST(DecodeEntry, XMaskedSegmentSkipsThenCopies) {
  Decoder d;
  GuardedPicture pic;
  d.Decode(3000, {5, 1, 100, 50}, {24, 128, 0, 0, 0x01, 0x02, 7, 8, 9, 0x00}, pic.picture());
  EXPECT_EQ(pic.PixelBytes(102, 50), (Bytes{7, 8, 9}));
  pic.bytes[GuardedPicture::kGuard + (50 * kPictureWidth + 102) * 3] = 0;
  pic.bytes[GuardedPicture::kGuard + (50 * kPictureWidth + 102) * 3 + 1] = 0;
  pic.bytes[GuardedPicture::kGuard + (50 * kPictureWidth + 102) * 3 + 2] = 0;
  EXPECT_TRUE(AllZero(pic.picture()));
  EXPECT_TRUE(d.port.messages.empty());
}

TEST(DecodeEntry, ContinuedCountsAndSkipsFromTheEndOfTheLastRun) {
  Decoder d;
  GuardedPicture pic;
  // Copy 255 (FF 00) after no skip, then copy 1 after a skip of 520 (FF FF 0A), in one row.
  Bytes entry{24, 128, 0, 0, 0xFF, 0x00, 0x00};
  for (int i = 0; i < 255; ++i) entry.insert(entry.end(), {1, 1, 1});
  entry.insert(entry.end(), {0x01, 0xFF, 0xFF, 0x0A, 5, 6, 7, 0x00});
  d.Decode(3000, {800, 1, 0, 3}, entry, pic.picture());
  EXPECT_EQ(pic.PixelBytes(254, 3), (Bytes{1, 1, 1}));
  EXPECT_EQ(pic.PixelBytes(255, 3), (Bytes{0, 0, 0}));
  EXPECT_EQ(pic.PixelBytes(774, 3), (Bytes{0, 0, 0}));
  EXPECT_EQ(pic.PixelBytes(775, 3), (Bytes{5, 6, 7}));
  EXPECT_EQ(pic.PixelBytes(776, 3), (Bytes{0, 0, 0}));
}

TEST(DecodeEntry, ZeroMaskedTransparencyIsByteByByte) {
  Decoder d;
  GuardedPicture pic(9);
  d.Decode(3000, {2, 1, 10, 10}, {24, 64, 0, 0, 0, 40, 90, 0, 0, 0}, pic.picture());
  EXPECT_EQ(pic.PixelBytes(10, 10), (Bytes{9, 40, 90}));
  EXPECT_EQ(pic.PixelBytes(11, 10), (Bytes{9, 9, 9}));
}

TEST(DecodeEntry, UnmaskedRowsWriteEveryByteIncludingBlack) {
  Decoder d;
  GuardedPicture pic(9);
  d.Decode(3000, {2, 2, 798, 0}, {24, 0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0, 0, 7, 8, 9}, pic.picture());
  EXPECT_EQ(pic.PixelBytes(798, 0), (Bytes{1, 2, 3}));
  EXPECT_EQ(pic.PixelBytes(799, 0), (Bytes{4, 5, 6}));
  EXPECT_EQ(pic.PixelBytes(798, 1), (Bytes{0, 0, 0}));
  EXPECT_EQ(pic.PixelBytes(799, 1), (Bytes{7, 8, 9}));
  EXPECT_EQ(pic.PixelBytes(797, 0), (Bytes{9, 9, 9}));
  EXPECT_EQ(pic.PixelBytes(0, 2), (Bytes{9, 9, 9}));
}

TEST(DecodeEntry, KindByteIsReadByItsBits) {
  // 192: X-masked whatever the 0-mask bit says; 64 + other bits: 0-masked; 1: unmasked.
  Decoder d;
  GuardedPicture a, b, c;
  d.Decode(3000, {3, 1, 0, 0}, {24, 192, 0, 0, 1, 1, 5, 5, 5, 0}, a.picture());
  EXPECT_EQ(a.PixelBytes(1, 0), (Bytes{5, 5, 5}));
  EXPECT_EQ(a.PixelBytes(0, 0), (Bytes{0, 0, 0}));
  d.Decode(3000, {1, 1, 0, 0}, {24, 65, 0, 0, 0, 5, 0}, b.picture());
  EXPECT_EQ(b.PixelBytes(0, 0), (Bytes{0, 5, 0}));
  d.Decode(3000, {2, 1, 0, 0}, {24, 1, 0, 0, 1, 2, 3, 4, 5, 6}, c.picture());
  EXPECT_EQ(c.PixelBytes(1, 0), (Bytes{4, 5, 6}));
}

TEST(DecodeEntry, OtherDepthsAreOneBytePerPixelWithTheirOwnStride) {
  Decoder d;
  GuardedPicture pic;
  d.Decode(3000, {3, 2, 10, 2}, {8, 0, 0, 0, 1, 2, 3, 4, 5, 6}, pic.picture());
  const std::uint8_t* p = pic.picture().data();
  EXPECT_EQ(Bytes(p + 2 * 800 + 10, p + 2 * 800 + 13), (Bytes{1, 2, 3}));
  EXPECT_EQ(Bytes(p + 3 * 800 + 10, p + 3 * 800 + 13), (Bytes{4, 5, 6}));
  EXPECT_EQ(p[2 * 800 + 13], 0);
}

TEST(DecodeEntry, EmptyRecordsDrawNothingButXMaskedRowsIgnoreTheWidth) {
  Decoder d;
  GuardedPicture pic;
  const Bytes plain{24, 0, 0, 0, 1, 2, 3};
  d.Decode(3000, {1, 0, 5, 5}, plain, pic.picture());
  d.Decode(3000, {0, 1, 5, 5}, plain, pic.picture());
  d.Decode(3000, {0, 1, 5, 5}, {24, 64, 0, 0, 1, 2, 3}, pic.picture());
  d.Decode(3000, {0, 0, 0, 0}, {24, 128, 0, 0, 1, 0, 1, 2, 3, 0}, pic.picture());
  d.Decode(3000, {1, 1, 5, 5}, {24, 0, 0, 0}, pic.picture());  // header only
  d.Decode(3000, {1, 1, 5, 5}, {24}, pic.picture());
  d.Decode(3000, {1, 1, 5, 5}, {}, pic.picture());
  EXPECT_TRUE(AllZero(pic.picture()));
  d.Decode(3000, {0, 1, 5, 5}, {24, 128, 0, 0, 2, 0, 1, 2, 3, 4, 5, 6, 0}, pic.picture());
  EXPECT_EQ(pic.PixelBytes(6, 5), (Bytes{4, 5, 6}));
  EXPECT_TRUE(pic.GuardsIntact());
}

TEST(DecodeEntry, OverlongRunWarnsInHexAndGoesOnIntoTheNextRow) {
  Decoder d;
  GuardedPicture pic;
  Bytes entry{24, 128, 0, 0, 0xFF, 0xFF, 0xFF, 0x24, 0x00};  // 801 pixels, no skip
  for (int i = 0; i < 801; ++i) entry.insert(entry.end(), {3, 3, 3});
  entry.insert(entry.end(), {0x01, 0x00, 4, 4, 4, 0x00});  // then one more pixel
  d.Decode(3000, {801, 1, 0, 0}, entry, pic.picture(), Owner::kNone);
  ASSERT_EQ(d.port.messages.size(), 1u);
  EXPECT_EQ(d.port.messages[0].text, "Caution! iXLen = 321");
  EXPECT_EQ(d.port.messages[0].caption, "ZCreate");
  EXPECT_EQ(d.port.messages[0].owner, Owner::kNone);
  EXPECT_EQ(pic.PixelBytes(799, 0), (Bytes{3, 3, 3}));
  EXPECT_EQ(pic.PixelBytes(0, 1), (Bytes{3, 3, 3}));
  EXPECT_EQ(pic.PixelBytes(1, 1), (Bytes{4, 4, 4}));
}

TEST(DecodeEntry, StopsAtTheEndOfThePicture) {
  Decoder d;
  // Unmasked and 0-masked rows reaching below the picture, and an X-masked row whose runs
  // pass the last pixel or skip far beyond it.
  for (std::uint8_t kind : {0, 64, 128}) {
    GuardedPicture pic;
    Bytes entry{24, kind, 0, 0};
    if (kind == 128) {
      entry.insert(entry.end(), {20, 0});
      for (int i = 0; i < 20; ++i) entry.insert(entry.end(), {6, 6, 6});
      entry.insert(entry.end(), {1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x10, 7, 7, 7, 0});
    } else {
      entry.resize(4 + 20 * 5 * 3, 6);
    }
    d.Decode(3000, {20, 5, 790, 599}, entry, pic.picture());
    EXPECT_TRUE(pic.GuardsIntact()) << int{kind};
    EXPECT_EQ(pic.PixelBytes(799, 599), (Bytes{6, 6, 6})) << int{kind};
    EXPECT_EQ(pic.PixelBytes(789, 599), (Bytes{0, 0, 0})) << int{kind};
  }
  // A record placing the icon wholly below the picture draws nothing.
  GuardedPicture pic;
  d.Decode(3000, {65535, 65535, 65535, 65535}, Bytes(4000, 24), pic.picture());
  EXPECT_TRUE(AllZero(pic.picture()));
  EXPECT_TRUE(pic.GuardsIntact());
}

TEST(DecodeEntry, StopsAtTheEndOfAShortEntry) {
  Decoder d;
  {
    GuardedPicture pic;
    d.Decode(3000, {4, 4, 0, 0}, {24, 0, 0, 0, 1, 2, 3, 4, 5}, pic.picture());
    EXPECT_EQ(pic.PixelBytes(0, 0), (Bytes{1, 2, 3}));
    EXPECT_EQ(pic.PixelBytes(1, 0), (Bytes{4, 5, 0}));
    EXPECT_EQ(pic.PixelBytes(0, 1), (Bytes{0, 0, 0}));
  }
  {
    // X-masked rows cut in a count, after a count, and inside the pixels.
    for (const Bytes& entry :
         {Bytes{24, 128, 0, 0, 0xFF}, Bytes{24, 128, 0, 0, 2}, Bytes{24, 128, 0, 0, 2, 0xFF, 0xFF},
          Bytes{24, 128, 0, 0, 2, 1, 9, 9, 9, 9}}) {
      GuardedPicture pic;
      d.Decode(3000, {10, 600, 0, 0}, entry, pic.picture());
      EXPECT_EQ(pic.PixelBytes(0, 0), (Bytes{0, 0, 0}));
      if (entry.size() == 10) {
        // The bytes that are there are drawn, even part of a pixel.
        EXPECT_EQ(pic.PixelBytes(1, 0), (Bytes{9, 9, 9}));
        EXPECT_EQ(pic.PixelBytes(2, 0), (Bytes{9, 0, 0}));
        EXPECT_EQ(pic.PixelBytes(3, 0), (Bytes{0, 0, 0}));
      } else {
        EXPECT_TRUE(AllZero(pic.picture()));
      }
      EXPECT_TRUE(pic.GuardsIntact());
    }
  }
}

// Random entries, well formed or not, against the plain decoder: same picture, same
// warnings, guards intact. The entry lives in a vector of exactly its length, so the
// sanitizer build sees any read past it.
TEST(DecodeEntry, MatchesThePlainDecoderOnRandomAndMalformedEntries) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 400; ++round) {
    const std::uint8_t kinds[] = {0, 64, 128, 192, 1, 65};
    Bytes entry(2 + rng() % (round % 4 == 0 ? 40000 : 3000));
    entry[0] = rng() % 4 == 0 ? static_cast<std::uint8_t>(rng()) : 24;
    entry[1] = kinds[rng() % 6];
    const int flavour = static_cast<int>(rng() % 3);
    for (std::size_t i = 2; i < entry.size(); ++i) {
      const std::uint32_t r = rng();
      // Plenty of zero and FF bytes: zero-masked holes, row ends and long counts.
      entry[i] = flavour == 0   ? static_cast<std::uint8_t>(r)
                 : flavour == 1 ? (r % 3 == 0   ? 0
                                   : r % 3 == 1 ? 0xFF
                                                : static_cast<std::uint8_t>(r >> 8))
                                : static_cast<std::uint8_t>(r % 8 == 0 ? r >> 8 : r % 4);
    }
    CoordinatesRecord rec{
        static_cast<std::uint16_t>(rng() % 900), static_cast<std::uint16_t>(rng() % 700),
        static_cast<std::uint16_t>(rng() % 850), static_cast<std::uint16_t>(rng() % 650)};
    if (round % 10 == 0)
      rec = {static_cast<std::uint16_t>(rng()), static_cast<std::uint16_t>(rng()),
             static_cast<std::uint16_t>(rng()), static_cast<std::uint16_t>(rng())};
    GuardedPicture got(0x11);
    Bytes want(kPictureBytes, 0x11);
    Decoder d;
    d.Decode(3000 + round, rec, entry, got.picture());
    std::vector<int> warnings;
    RefDecode(rec, entry, want, warnings);
    ASSERT_TRUE(got.GuardsIntact()) << round;
    ASSERT_TRUE(std::equal(want.begin(), want.end(), got.picture().begin())) << round;
    ASSERT_EQ(d.port.messages.size(), warnings.size()) << round;
    for (std::size_t i = 0; i < warnings.size(); ++i) {
      char text[64];
      std::snprintf(text, sizeof text, "Caution! iXLen = %x", warnings[i]);
      ASSERT_EQ(d.port.messages[i].text, text) << round;
    }
  }
}

// The rows an entry was drawn into: outside them nothing was written, and where no byte is
// overlaid (every kind but the 0-masked one) each of them was written. Two pictures of
// different bytes tell the written bytes: those that agree.
TEST(DecodeEntry, TheDrawnRowsHoldEveryByteWritten) {
  std::mt19937 rng(99);
  for (int round = 0; round < 300; ++round) {
    const std::uint8_t kinds[] = {0, 128, 192, 64};
    Bytes entry(2 + rng() % (round % 3 == 0 ? 30000 : 2000));
    entry[0] = 24;
    entry[1] = kinds[rng() % 4];
    for (std::size_t i = 2; i < entry.size(); ++i) {
      const std::uint32_t r = rng();
      entry[i] = r % 5 == 0 ? 0 : r % 5 == 1 ? 0xFF : static_cast<std::uint8_t>(r >> 8);
    }
    const CoordinatesRecord rec{
        static_cast<std::uint16_t>(rng() % 900), static_cast<std::uint16_t>(rng() % 700),
        static_cast<std::uint16_t>(rng() % 850), static_cast<std::uint16_t>(rng() % 650)};
    Bytes a(kPictureBytes, 0x11), b(kPictureBytes, 0xEE);
    RecordingPort port;
    PictureRows drawn{0, 0};
    DecodeEntryAt(rec, entry, a, port, Owner::kNone, &drawn);
    DecodeEntryAt(rec, entry, b, port, Owner::kNone);
    int first = kPictureHeight, end = 0;
    for (int y = 0; y < kPictureHeight; ++y) {
      const std::size_t at = std::size_t(y) * kRowBytes;
      if (!std::equal(a.begin() + at, a.begin() + at + kRowBytes, Bytes(kRowBytes, 0x11).begin())) {
        ASSERT_GE(y, drawn.first) << round;
        ASSERT_LT(y, drawn.end) << round;
      }
      bool written = false;
      for (std::size_t x = 0; x < std::size_t(kRowBytes); ++x) written |= a[at + x] == b[at + x];
      if (written) first = std::min(first, y), end = y + 1;
    }
    if (entry[1] != 64 && first < end) {
      EXPECT_EQ(drawn.first, first) << round;
      EXPECT_EQ(drawn.end, end) << round;
    }
  }
}

struct Viewer {
  RecordingPort port;
  WorkingState state{port};
  void SetRecord(int icon, const CoordinatesRecord& rec) {
    CoordinatesTable(state.coordinates.span()).Set(icon, rec);
  }
};

TEST(ShowEntry, ClearsDecodesTitlesAndRepaintsWithoutErasing) {
  Viewer v;
  std::memset(v.state.picture.data(), 0x33, v.state.picture.size());
  v.SetRecord(3007, {5, 1, 100, 50});
  const Bytes entry{24, 128, 0, 0, 0x01, 0x02, 7, 8, 9, 0x00};
  v.port.Clear();
  ShowEntry(3007, entry, v.state, MakeName("ICONS\\3007.ZGL"));
  const auto pic = v.state.Picture();
  const std::size_t at = (50 * kPictureWidth + 102) * 3;
  EXPECT_EQ(Bytes(pic.begin() + at, pic.begin() + at + 3), (Bytes{7, 8, 9}));
  Bytes rest(pic.begin(), pic.end());
  rest[at] = rest[at + 1] = rest[at + 2] = 0;
  EXPECT_TRUE(AllZero(rest));
  // Only the picture is cleared, not the rest of its buffer.
  EXPECT_EQ(v.state.picture.data()[kPictureBytes], 0x33);
  EXPECT_TRUE(v.state.picture_shown);
  EXPECT_EQ(v.port.events, (std::vector<std::string>{
                               "title: ZCreate - ICONS\\3007.ZGL (X-masked) - 3007", "repaint"}));
}

// With the rows that may hold ink, only those are cleared, the rows outside being black as
// the caller says; the rows drawn come back, and a second entry over the first leaves the
// picture a full clear gives.
TEST(ShowEntry, ClearsOnlyTheRowsThatMayHoldInkAndSaysWhichItDrew) {
  Viewer v;
  Viewer full;
  v.SetRecord(3007, {5, 1, 100, 50});
  v.SetRecord(3008, {2, 3, 10, 400});
  full.SetRecord(3008, {2, 3, 10, 400});
  const Bytes first{24, 128, 0, 0, 0x01, 0x02, 7, 8, 9, 0x00};
  const Bytes second{24, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  std::memset(v.state.picture.data(), 0x33, kPictureBytes);
  PictureRows ink{40, 60};
  ShowEntry(3007, first, v.state, MakeName("a.zgl"), &ink);
  EXPECT_EQ(ink.first, 50);
  EXPECT_EQ(ink.end, 51);
  const auto pic = v.state.Picture();
  // Rows 40 to 59 cleared but for the entry's pixel; the rows outside left as they were.
  EXPECT_EQ(pic[std::size_t(39) * kRowBytes], 0x33);
  EXPECT_EQ(pic[std::size_t(45) * kRowBytes], 0);
  EXPECT_EQ(pic[std::size_t(60) * kRowBytes], 0x33);
  // Kept as promised: every other row black, then the next entry over it.
  std::memset(v.state.picture.data(), 0, std::size_t(50) * kRowBytes);
  std::memset(v.state.picture.data() + std::size_t(51) * kRowBytes, 0,
              kPictureBytes - std::size_t(51) * kRowBytes);
  ShowEntry(3008, second, v.state, MakeName("a.zgl"), &ink);
  EXPECT_EQ(ink.first, 400);
  EXPECT_EQ(ink.end, 403);
  std::memset(full.state.picture.data(), 0x33, kPictureBytes);
  ShowEntry(3008, second, full.state, MakeName("a.zgl"));
  EXPECT_TRUE(std::equal(pic.begin(), pic.end(), full.state.Picture().begin()));
}

TEST(ShowEntry, TitlesEachKindAndLeavesOthersAlone) {
  Viewer v;
  v.SetRecord(3000, {1, 1, 0, 0});
  const std::pair<std::uint8_t, const char*> kinds[] = {{0, "ZCreate - a.zgl (Unmasked) - 3000"},
                                                        {64, "ZCreate - a.zgl (0-masked) - 3000"},
                                                        {128, "ZCreate - a.zgl (X-masked) - 3000"}};
  for (const auto& [kind, title] : kinds) {
    v.port.Clear();
    ShowEntry(3000, Bytes{24, kind, 0, 0, 1, 1, 1, 0}, v.state, MakeName("a.zgl"));
    ASSERT_EQ(v.port.titles.size(), 1u);
    EXPECT_EQ(v.port.titles[0], title);
  }
  for (const Bytes& entry :
       {Bytes{24, 192, 0, 0, 1, 0, 1, 1, 1, 0}, Bytes{24, 1, 0, 0, 1, 1, 1}, Bytes{24}, Bytes{}}) {
    v.port.Clear();
    v.state.picture_shown = false;
    ShowEntry(3000, entry, v.state, MakeName("a.zgl"));
    EXPECT_TRUE(v.port.titles.empty());
    EXPECT_EQ(v.port.events, (std::vector<std::string>{"repaint"}));
    EXPECT_TRUE(v.state.picture_shown);
  }
  // An empty name shows as UNTITLED.
  v.port.Clear();
  ShowEntry(3000, Bytes{24, 0, 0, 0, 1, 1, 1}, v.state, Name{});
  EXPECT_EQ(v.port.titles.at(0), "ZCreate - UNTITLED (Unmasked) - 3000");
}

TEST(ShowEntry, HeightZeroShowsABlackPicture) {
  Viewer v;
  std::memset(v.state.picture.data(), 0x33, kPictureBytes);
  v.SetRecord(3000, {3, 0, 0, 0});
  ShowEntry(3000, Bytes{24, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, v.state, MakeName("a"));
  EXPECT_TRUE(AllZero(v.state.Picture()));
}

TEST(DrawCropLines, MarksTheEdgeRowsAndColumnsBelowTheButtonBar) {
  const auto lines = DrawCropLines(CropBox{10, 20, 30, 40});
  EXPECT_EQ(lines[0], (LineSegment{0, 30, 800, 30}));
  EXPECT_EQ(lines[1], (LineSegment{0, 40, 800, 40}));
  EXPECT_EQ(lines[2], (LineSegment{30, 20, 30, 620}));
  EXPECT_EQ(lines[3], (LineSegment{40, 20, 40, 620}));
}

}  // namespace
}  // namespace zemlo
