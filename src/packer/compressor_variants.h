// The compressor's loop is built twice: for every processor, and for processors with AVX2.
// CompressChunk picks one at run time; the tests hold each to the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/status_port.h"

namespace zemlo {

// CompressChunk as every processor runs it.
std::size_t CompressChunkPortable(std::span<const std::uint8_t> source, std::size_t start,
                                  std::span<std::uint8_t> out, std::size_t count, StatusPort& port,
                                  Owner owner, std::size_t* covered = nullptr);

// CompressChunk with AVX2 (the portable one where this build has no such loop). Only to be
// called where Avx2Compressor() says so.
std::size_t CompressChunkAvx2(std::span<const std::uint8_t> source, std::size_t start,
                              std::span<std::uint8_t> out, std::size_t count, StatusPort& port,
                              Owner owner, std::size_t* covered = nullptr);

// This build has the AVX2 loop and this processor (and its system) can run it.
bool Avx2Compressor();

}  // namespace zemlo
