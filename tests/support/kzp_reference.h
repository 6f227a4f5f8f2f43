// The KZP compressor and unpacker written the plain way: every distance tried one after the
// other, byte by byte, tags built by their rules. The product's fast search and copies must
// give exactly these bytes; the benchmark measures both.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zemlo::reference {

struct MatchRef {
  int length = 0;
  int distance = 0;
};

inline MatchRef FindMatchReference(std::span<const std::uint8_t> source, std::size_t remaining,
                                   std::size_t position) {
  MatchRef best;
  if (position == 0) return best;
  const std::size_t cap = std::min<std::size_t>(remaining, 32);
  const std::size_t candidates = std::min<std::size_t>(position, 32);
  for (std::size_t d = 1; d <= candidates; ++d) {
    std::size_t k = 0;
    while (k < cap && source[position + k] == source[position - d + k]) ++k;
    if (static_cast<int>(k) > best.length) best = {static_cast<int>(k), static_cast<int>(d)};
  }
  return best;
}

inline void AppendWriteTag(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
  const std::size_t n = bytes.size();
  std::uint8_t tag = static_cast<std::uint8_t>(n & 63);
  if (n > 63) {
    out.push_back(static_cast<std::uint8_t>(tag + 64));
    out.push_back(static_cast<std::uint8_t>(n / 64));
  } else {
    out.push_back(tag);
  }
  out.insert(out.end(), bytes.begin(), bytes.end());
}

inline void AppendReplicateTag(std::vector<std::uint8_t>& out, int distance, int length) {
  const int s = length - 1;
  std::uint8_t tag = static_cast<std::uint8_t>(128 + (s & 63));
  if (s > 63) {
    out.push_back(static_cast<std::uint8_t>(tag + 64));
    out.push_back(static_cast<std::uint8_t>(s / 64));
  } else {
    out.push_back(tag);
  }
  if (distance > 127) {
    out.push_back(static_cast<std::uint8_t>((distance & 127) + 128));
    out.push_back(static_cast<std::uint8_t>(distance / 128));
  } else {
    out.push_back(static_cast<std::uint8_t>(distance));
  }
}

// Greedy, one pass, no look-ahead.
inline void CompressChunkReference(std::span<const std::uint8_t> source, std::size_t start,
                                   std::size_t count, std::vector<std::uint8_t>& out) {
  std::size_t p = start;
  std::size_t r = count;
  std::size_t run_start = 0;
  std::size_t run_length = 0;
  while (r > 0) {
    const MatchRef m = FindMatchReference(source, r, p);
    if (m.length < 4) {
      if (run_length == 0) run_start = p;
      ++run_length;
      ++p;
      --r;
    } else {
      if (run_length != 0) AppendWriteTag(out, source.subspan(run_start, run_length));
      run_length = 0;
      AppendReplicateTag(out, m.distance, m.length);
      p += static_cast<std::size_t>(m.length);
      r -= static_cast<std::size_t>(m.length);
    }
  }
  if (run_length != 0) AppendWriteTag(out, source.subspan(run_start, run_length));
}

// The whole packed entry: magic, then the chunks of 8192 back to back.
inline std::vector<std::uint8_t> PackReference(std::span<const std::uint8_t> source) {
  std::vector<std::uint8_t> out = {'K', 'Z', 'P', '1'};
  for (std::size_t pos = 0; pos < source.size(); pos += 8192) {
    CompressChunkReference(source, pos, std::min<std::size_t>(8192, source.size() - pos), out);
  }
  return out;
}

// Byte by byte; nullopt for the same malformed streams the product rejects.
inline std::optional<std::vector<std::uint8_t>> UnpackReference(
    std::span<const std::uint8_t> packed, std::size_t capacity) {
  if (packed.size() < 4) return std::nullopt;
  std::vector<std::uint8_t> out;
  std::size_t i = 4;
  auto next = [&](std::uint8_t& b) {
    if (i >= packed.size()) return false;
    b = packed[i++];
    return true;
  };
  std::uint8_t tag;
  while (next(tag)) {
    std::size_t length = tag & 63;
    if (tag & 64) {
      std::uint8_t ext;
      if (!next(ext)) return std::nullopt;
      length += 64u * ext;
    }
    if (!(tag & 128)) {
      for (std::size_t k = 0; k < length; ++k) {
        std::uint8_t b;
        if (!next(b) || out.size() >= capacity) return std::nullopt;
        out.push_back(b);
      }
      continue;
    }
    std::uint8_t off;
    if (!next(off)) return std::nullopt;
    std::size_t distance = off;
    if (off & 128) {
      std::uint8_t ext;
      if (!next(ext)) return std::nullopt;
      distance = (off & 127) + 128u * ext;
    }
    if (distance == 0 || distance > out.size()) return std::nullopt;
    for (std::size_t k = 0; k <= length; ++k) {
      if (out.size() >= capacity) return std::nullopt;
      out.push_back(out[out.size() - distance]);
    }
  }
  return out;
}

}  // namespace zemlo::reference
