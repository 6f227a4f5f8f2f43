// Typed views of the offsets and coordinates tables. The tables live in shared buffers as the
// little-endian bytes of their files, so they are read and written whole; records beyond the
// capacity read as zero and are never written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/byte_reader.h"
#include "core/geometry.h"
#include "library/store/block_layout.h"

namespace zemlo {

// Record n: offset of the entry in its block file, then its length; both 0 for no entry.
class OffsetsTable {
 public:
  explicit OffsetsTable(std::span<std::uint8_t> bytes) : bytes_(bytes.first(kOffsetsTableSize)) {}

  static constexpr int capacity() { return kOffsetsCapacity; }
  static bool InRange(int n) { return n >= 0 && n < kOffsetsCapacity; }

  EntryRecord record(int n) const {
    return InRange(n) ? RecordsView(bytes_).at(static_cast<std::size_t>(n)) : EntryRecord{};
  }
  std::int32_t offset(int n) const { return record(n).offset; }
  std::int32_t length(int n) const { return record(n).length; }
  void Set(int n, std::int32_t offset, std::int32_t length) {
    if (!InRange(n)) return;
    StoreU32LE(&bytes_[Index(n)], static_cast<std::uint32_t>(offset));
    StoreU32LE(&bytes_[Index(n) + 4], static_cast<std::uint32_t>(length));
  }
  std::span<std::uint8_t> bytes() { return bytes_; }
  std::span<const std::uint8_t> bytes() const { return bytes_; }

 private:
  static std::size_t Index(int n) { return static_cast<std::size_t>(n) * kRecordSize; }
  std::span<std::uint8_t> bytes_;
};

struct CoordinatesRecord {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint16_t left = 0;
  std::uint16_t top = 0;
  friend bool operator==(const CoordinatesRecord&, const CoordinatesRecord&) = default;
};

// "W x H at (L, T)", as findings and the report say a crop box.
inline std::string CropBoxText(const CoordinatesRecord& r) {
  return std::to_string(r.width) + " x " + std::to_string(r.height) + " at (" +
         std::to_string(r.left) + ", " + std::to_string(r.top) + ")";
}

class CoordinatesTable {
 public:
  explicit CoordinatesTable(std::span<std::uint8_t> bytes)
      : bytes_(bytes.first(kCoordinatesTableSize)) {}

  static constexpr int capacity() { return kCoordinatesCapacity; }
  static bool InRange(int n) { return n >= 0 && n < kCoordinatesCapacity; }

  CoordinatesRecord Get(int n) const {
    if (!InRange(n)) return {};
    const std::uint8_t* p = &bytes_[Index(n)];
    return {LoadU16LE(p), LoadU16LE(p + 2), LoadU16LE(p + 4), LoadU16LE(p + 6)};
  }
  void Set(int n, const CoordinatesRecord& r) {
    if (!InRange(n)) return;
    std::uint8_t* p = &bytes_[Index(n)];
    StoreU16LE(p, r.width);
    StoreU16LE(p + 2, r.height);
    StoreU16LE(p + 4, r.left);
    StoreU16LE(p + 6, r.top);
  }
  std::span<std::uint8_t> bytes() { return bytes_; }
  std::span<const std::uint8_t> bytes() const { return bytes_; }

 private:
  static std::size_t Index(int n) { return static_cast<std::size_t>(n) * kRecordSize; }
  std::span<std::uint8_t> bytes_;
};

}  // namespace zemlo
