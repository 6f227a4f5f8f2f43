// Small PNG files built byte by byte for the cases no tool writes on purpose: exact alpha and
// 16-bit samples, chosen chunk orders, files of a chosen size. The image data are stored
// uncompressed (zlib "stored" blocks), every row with filter 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zemlo::testing {

inline std::uint32_t PngCrc(const std::uint8_t* data, std::size_t size,
                            std::uint32_t crc = 0xFFFFFFFFu) {
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

inline void PutPngU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

inline void PutPngChunk(std::vector<std::uint8_t>& out, const char* type,
                        const std::vector<std::uint8_t>& body) {
  PutPngU32(out, static_cast<std::uint32_t>(body.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  PutPngU32(out, PngCrc(&out[start], out.size() - start) ^ 0xFFFFFFFFu);
}

// `rows`: each row's sample bytes, without the filter byte.
inline std::vector<std::uint8_t> ZlibStored(const std::vector<std::vector<std::uint8_t>>& rows) {
  std::vector<std::uint8_t> raw;
  for (const auto& row : rows) {
    raw.push_back(0);
    raw.insert(raw.end(), row.begin(), row.end());
  }
  std::vector<std::uint8_t> z = {0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
    z.push_back(at + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<std::uint8_t>(n));
    z.push_back(static_cast<std::uint8_t>(n >> 8));
    z.push_back(static_cast<std::uint8_t>(~n));
    z.push_back(static_cast<std::uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
             raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  } while (at < raw.size());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutPngU32(z, b << 16 | a);
  return z;
}

struct PngChunk {
  std::string type;
  std::vector<std::uint8_t> body;
};

// A PNG of the given header and rows; `before_idat` go between IHDR and IDAT.
inline std::vector<std::uint8_t> BuildPng(std::uint32_t width, std::uint32_t height,
                                          std::uint8_t depth, std::uint8_t colour_type,
                                          const std::vector<std::vector<std::uint8_t>>& rows,
                                          const std::vector<PngChunk>& before_idat = {}) {
  std::vector<std::uint8_t> out = {137, 'P', 'N', 'G', 13, 10, 26, 10};
  std::vector<std::uint8_t> header;
  PutPngU32(header, width);
  PutPngU32(header, height);
  for (std::uint8_t v : {depth, colour_type, std::uint8_t{0}, std::uint8_t{0}, std::uint8_t{0}}) {
    header.push_back(v);
  }
  PutPngChunk(out, "IHDR", header);
  for (const PngChunk& chunk : before_idat) PutPngChunk(out, chunk.type.c_str(), chunk.body);
  PutPngChunk(out, "IDAT", ZlibStored(rows));
  PutPngChunk(out, "IEND", {});
  return out;
}

}  // namespace zemlo::testing
