// Builds IFF files the way real writers lay them out, for tests and benchmarks (no test
// framework here, so the benchmark programs can use it too).
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace zemlo::testing {

using IffBytes = std::vector<std::uint8_t>;

inline void PutBe16(IffBytes& b, int v) {
  b.push_back(std::uint8_t(v >> 8));
  b.push_back(std::uint8_t(v));
}
inline void PutBe32(IffBytes& b, std::uint32_t v) {
  PutBe16(b, int(v >> 16));
  PutBe16(b, int(v & 0xFFFF));
}
inline void PutChunk(IffBytes& b, const char* tag, const IffBytes& data) {
  b.insert(b.end(), tag, tag + 4);
  PutBe32(b, std::uint32_t(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  if (data.size() & 1) b.push_back(0);
}
inline IffBytes Bmhd(int width, int height, int compression, int planes = 8, int masking = 0) {
  IffBytes d;
  PutBe16(d, width);
  PutBe16(d, height);
  PutBe16(d, 0);
  PutBe16(d, 0);
  d.push_back(std::uint8_t(planes));
  d.push_back(std::uint8_t(masking));
  d.push_back(std::uint8_t(compression));
  d.push_back(0);
  PutBe16(d, 0);
  d.push_back(1);
  d.push_back(1);
  PutBe16(d, width);
  PutBe16(d, height);
  return d;
}
// FORM of `type` with the given chunks in order (each a tag and its data).
inline IffBytes IffFile(const char* type,
                        const std::vector<std::pair<const char*, IffBytes>>& chunks) {
  IffBytes form(type, type + 4);
  for (const auto& [tag, data] : chunks) PutChunk(form, tag, data);
  IffBytes file{'F', 'O', 'R', 'M'};
  PutBe32(file, std::uint32_t(form.size()));
  file.insert(file.end(), form.begin(), form.end());
  return file;
}
// ByteRun1 as writers produce it: runs of 2 to 128 equal bytes, else literals up to 128.
inline IffBytes ByteRun1(std::span<const std::uint8_t> row) {
  IffBytes out;
  std::size_t i = 0;
  while (i < row.size()) {
    std::size_t run = 1;
    while (i + run < row.size() && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 2) {
      out.push_back(std::uint8_t(1 - int(run)));
      out.push_back(row[i]);
      i += run;
      continue;
    }
    const std::size_t start = i;
    while (i < row.size() && i - start < 128 && !(i + 1 < row.size() && row[i + 1] == row[i])) ++i;
    if (i == start) ++i;
    out.push_back(std::uint8_t(i - start - 1));
    out.insert(out.end(), row.begin() + start, row.begin() + i);
  }
  return out;
}

// Plane rows of one row of indices: `planes` rows of `plane_bytes` bytes, bit 7 leftmost.
inline IffBytes ToPlanes(std::span<const std::uint8_t> indices, int planes,
                         std::size_t plane_bytes) {
  IffBytes out(planes * plane_bytes, 0);
  for (std::size_t x = 0; x < indices.size(); ++x) {
    for (int k = 0; k < planes; ++k) {
      if (indices[x] >> k & 1) out[k * plane_bytes + x / 8] |= std::uint8_t(0x80 >> (x % 8));
    }
  }
  return out;
}

}  // namespace zemlo::testing
