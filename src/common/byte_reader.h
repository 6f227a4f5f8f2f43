// A cursor over loaded bytes whose reads cannot overrun: every read reports whether the bytes
// were there, and sub-spans never reach past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zemlo {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return bytes_.size() - pos_; }
  bool empty() const { return pos_ >= bytes_.size(); }
  std::span<const std::uint8_t> bytes() const { return bytes_; }

  bool ReadU8(std::uint8_t& value) {
    if (pos_ >= bytes_.size()) return false;
    value = bytes_[pos_++];
    return true;
  }
  bool ReadU16LE(std::uint16_t& value) {
    if (remaining() < 2) return false;
    value = static_cast<std::uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool ReadU16BE(std::uint16_t& value) {
    if (remaining() < 2) return false;
    value = static_cast<std::uint16_t>(bytes_[pos_] << 8 | bytes_[pos_ + 1]);
    pos_ += 2;
    return true;
  }
  bool ReadU32LE(std::uint32_t& value) {
    if (remaining() < 4) return false;
    value = static_cast<std::uint32_t>(bytes_[pos_]) |
            static_cast<std::uint32_t>(bytes_[pos_ + 1]) << 8 |
            static_cast<std::uint32_t>(bytes_[pos_ + 2]) << 16 |
            static_cast<std::uint32_t>(bytes_[pos_ + 3]) << 24;
    pos_ += 4;
    return true;
  }
  // The next `count` bytes, or as many as are left; the cursor moves past them.
  std::span<const std::uint8_t> Take(std::size_t count) {
    const std::size_t n = count < remaining() ? count : remaining();
    auto part = bytes_.subspan(pos_, n);
    pos_ += n;
    return part;
  }
  bool Skip(std::size_t count) {
    if (count > remaining()) {
      pos_ = bytes_.size();
      return false;
    }
    pos_ += count;
    return true;
  }
  void Seek(std::size_t position) { pos_ = position < bytes_.size() ? position : bytes_.size(); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

}  // namespace zemlo
