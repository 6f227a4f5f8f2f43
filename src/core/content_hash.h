// The 64-bit hash a library keeps of every stored entry and block (XXH3). Stable across
// platforms and builds: the value is part of a file format, so it never depends on the
// processor the hash runs on.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace zemlo {

using ContentHash = std::uint64_t;

[[nodiscard]] ContentHash HashBytes(std::span<const std::uint8_t> bytes);

// The same hash over bytes that arrive in pieces: Add(a), Add(b) gives HashBytes(a + b).
class ContentHasher {
 public:
  ContentHasher();
  ~ContentHasher();
  ContentHasher(ContentHasher&&) noexcept;
  ContentHasher& operator=(ContentHasher&&) noexcept;

  void Reset();
  void Add(std::span<const std::uint8_t> bytes);
  [[nodiscard]] ContentHash Value() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zemlo
