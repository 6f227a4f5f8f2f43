// How entries lie in a block file: back to back, in icon order, each where the entries before
// it end. The offsets records say where each one starts and how long it is; the cursor walks
// them the way the game's loader and the block rewrite lay them down, so the position an
// entry must have is the sum of the lengths before it, whatever its own record claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zemlo {

// One offsets record: the entry's first byte in its block file and its length; both 0 for an
// icon without an entry. Both are whatever the file says, negative ones included.
struct EntryRecord {
  std::int32_t offset = 0;
  std::int32_t length = 0;
  bool none() const { return offset == 0 && length == 0; }
  // Only a positive length describes bytes; any other record takes no room in the block.
  bool describes_bytes() const { return length > 0; }
  friend bool operator==(const EntryRecord&, const EntryRecord&) = default;
};

// Consecutive offsets records, read-only, as the offsets file lays them out (8 bytes each,
// little-endian offset then length). A record past the bytes reads as none; a trailing part
// of a record counts as none of them.
class RecordsView {
 public:
  explicit RecordsView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t count() const;
  EntryRecord at(std::size_t i) const;

 private:
  std::span<const std::uint8_t> bytes_;
};

// Where the walk puts one entry.
struct EntryPlace {
  int icon = 0;
  EntryRecord record;
  std::int64_t start = 0;  // where the entries before it end: where it must start
  std::int64_t end = 0;    // where the next one must start
  bool in_place() const { return record.offset == start; }
};

// Walks a block's entries icon by icon. A record that describes no bytes leaves the position
// where it is; sums are 64-bit and checked, so no table can make them wrap.
class BlockCursor {
 public:
  explicit BlockCursor(int first_icon = 0) : icon_(first_icon) {}
  int icon() const { return icon_; }  // whose record the next Step takes
  std::int64_t position() const { return position_; }
  EntryPlace Step(const EntryRecord& record);

 private:
  int icon_;
  std::int64_t position_ = 0;
};

}  // namespace zemlo
