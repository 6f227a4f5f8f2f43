// A cursor over loaded bytes whose reads cannot overrun. Every read either yields the value
// and moves on, or yields nothing and leaves the cursor where it was; the results are
// [[nodiscard]], so a reader cannot silently go on with a value that was never there. Chunks
// and entries become readers of their own (Sub), which can never reach past their parent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zemlo {

// Little-endian loads from bytes the caller has already bounds-checked (tables, headers).
inline std::uint16_t LoadU16LE(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t LoadU32LE(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline void StoreU16LE(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void StoreU32LE(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

inline std::uint64_t LoadU64LE(const std::uint8_t* p) {
  return std::uint64_t{LoadU32LE(p)} | std::uint64_t{LoadU32LE(p + 4)} << 32;
}
inline void StoreU64LE(std::uint8_t* p, std::uint64_t value) {
  StoreU32LE(p, static_cast<std::uint32_t>(value));
  StoreU32LE(p + 4, static_cast<std::uint32_t>(value >> 32));
}

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return bytes_.size() - pos_; }
  bool empty() const { return pos_ >= bytes_.size(); }
  std::span<const std::uint8_t> bytes() const { return bytes_; }
  // What is left from the cursor on, without moving it.
  std::span<const std::uint8_t> rest() const { return bytes_.subspan(pos_); }

  [[nodiscard]] std::optional<std::uint8_t> U8() {
    if (remaining() < 1) return std::nullopt;
    return bytes_[pos_++];
  }
  [[nodiscard]] std::optional<std::uint16_t> U16LE() {
    if (remaining() < 2) return std::nullopt;
    const std::uint16_t value = LoadU16LE(&bytes_[pos_]);
    pos_ += 2;
    return value;
  }
  [[nodiscard]] std::optional<std::uint16_t> U16BE() {
    if (remaining() < 2) return std::nullopt;
    const auto value = static_cast<std::uint16_t>(bytes_[pos_] << 8 | bytes_[pos_ + 1]);
    pos_ += 2;
    return value;
  }
  [[nodiscard]] std::optional<std::uint32_t> U32LE() {
    if (remaining() < 4) return std::nullopt;
    const std::uint32_t value = LoadU32LE(&bytes_[pos_]);
    pos_ += 4;
    return value;
  }
  [[nodiscard]] std::optional<std::uint64_t> U64LE() {
    if (remaining() < 8) return std::nullopt;
    const std::uint64_t value = LoadU64LE(&bytes_[pos_]);
    pos_ += 8;
    return value;
  }
  [[nodiscard]] std::optional<std::uint32_t> U32BE() {
    if (remaining() < 4) return std::nullopt;
    const std::uint32_t value = static_cast<std::uint32_t>(bytes_[pos_]) << 24 |
                                static_cast<std::uint32_t>(bytes_[pos_ + 1]) << 16 |
                                static_cast<std::uint32_t>(bytes_[pos_ + 2]) << 8 |
                                static_cast<std::uint32_t>(bytes_[pos_ + 3]);
    pos_ += 4;
    return value;
  }

  // Exactly the next `count` bytes, or nothing (and the cursor stays).
  [[nodiscard]] std::optional<std::span<const std::uint8_t>> Bytes(std::size_t count) {
    if (count > remaining()) return std::nullopt;
    auto part = bytes_.subspan(pos_, count);
    pos_ += count;
    return part;
  }
  // The next `count` bytes as a reader of their own, or nothing.
  [[nodiscard]] std::optional<ByteReader> Sub(std::size_t count) {
    const auto part = Bytes(count);
    if (!part) return std::nullopt;
    return ByteReader(*part);
  }
  // The next `count` bytes, or as many as are left: for data that may legally end early.
  std::span<const std::uint8_t> TakeUpTo(std::size_t count) {
    const std::size_t n = count < remaining() ? count : remaining();
    auto part = bytes_.subspan(pos_, n);
    pos_ += n;
    return part;
  }
  [[nodiscard]] bool Skip(std::size_t count) {
    if (count > remaining()) return false;
    pos_ += count;
    return true;
  }
  // Moves to an absolute position within the bytes; false (cursor unmoved) beyond the end.
  [[nodiscard]] bool Seek(std::size_t position) {
    if (position > bytes_.size()) return false;
    pos_ = position;
    return true;
  }
  // True when the bytes at the cursor are `text`; the cursor does not move.
  bool LooksAt(std::span<const std::uint8_t> text) const {
    if (text.size() > remaining()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (bytes_[pos_ + i] != text[i]) return false;
    }
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

}  // namespace zemlo
