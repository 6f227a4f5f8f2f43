// Test seam: PackEntry with a hook between compressing and verifying each chunk, so tests can
// damage a packed chunk and watch the verification report. The product calls PackEntry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "core/status_port.h"

namespace zemlo {

// Called with the tags of chunk `chunk_index` (0 for the first) just before they are verified.
using PackedChunkHook =
    std::function<void(std::span<std::uint8_t> packed_chunk, std::size_t chunk_index)>;

std::size_t PackEntryWithHook(std::span<const std::uint8_t> source, std::span<std::uint8_t> out,
                              StatusPort& port, Owner owner, std::string_view title_text,
                              const PackedChunkHook& hook);

}  // namespace zemlo
