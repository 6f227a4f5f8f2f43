#include "core/content_hash.h"

// Inlined, so that neither build links a library and the Windows programs stay one file.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace zemlo {

struct ContentHasher::State {
  XXH3_state_t xxh;
};

ContentHash HashBytes(std::span<const std::uint8_t> bytes) {
  return XXH3_64bits(bytes.data(), bytes.size());
}

ContentHasher::ContentHasher() : state_(std::make_unique<State>()) { Reset(); }
ContentHasher::~ContentHasher() = default;
ContentHasher::ContentHasher(ContentHasher&&) noexcept = default;
ContentHasher& ContentHasher::operator=(ContentHasher&&) noexcept = default;

void ContentHasher::Reset() { (void)XXH3_64bits_reset(&state_->xxh); }

void ContentHasher::Add(std::span<const std::uint8_t> bytes) {
  // Cannot fail for a reset state and a valid pointer; an empty span adds nothing.
  if (!bytes.empty()) (void)XXH3_64bits_update(&state_->xxh, bytes.data(), bytes.size());
}

ContentHash ContentHasher::Value() const { return XXH3_64bits_digest(&state_->xxh); }

}  // namespace zemlo
