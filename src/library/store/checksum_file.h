// The checksum file beside a library's tables (the offsets file's name with ".sum"): what
// every stored entry and block must hash to, each icon's crop box and source, and which run
// wrote them. The game never reads it; a library without one still works, but only with it
// can pixel changes, swapped entries of one length, moved crop boxes and old block files be
// seen. Read and written whole, in the same transaction as the offsets and coordinates files.
//
// Layout, every number little-endian:
//   header, 48 bytes:
//     0  magic 89 'Z' 'S' 'U' 'M' 0D 0A 1A   (a text transfer or a truncation to 7 bits
//                                             shows in the magic at once)
//     8  u16 version (1)    10 u16 header size    12 u16 icon record size
//    14  u16 block record size   16 u32 icon count   20 u32 icons per block (BLKB)
//    24  u32 block count   28 u32 names size   32 u32 generation (the run that wrote it last)
//    36  12 bytes, zero
//   icon records, one per icon from 0 on:
//     0 u32 entry length (0: no entry)   4 u32 flags   8 u64 hash of the stored bytes
//    16 u16 width, height, left, top (the crop box)   24 u64 source size
//    32 u32 name offset, 36 u32 name length (the source's name in the names area)
//    40 u32 generation (the run that stored the entry)   44 4 bytes, zero
//   block records, one per block from 0 on:
//     0 u64 block file length   8 u64 hash of the block file   16 u32 generation   20 zero
//   the names area: the source names back to back, without separators
//   the file's own check: u64 hash of every byte before it
// Room to grow: a reader takes larger header and record sizes than it knows and skips their
// tails; a version above its own is refused, since its fields may mean something else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/content_hash.h"
#include "core/result.h"
#include "library/store/tables.h"
#include "project/project_settings.h"

namespace zemlo {

inline constexpr std::uint8_t kSumMagic[8] = {0x89, 'Z', 'S', 'U', 'M', 0x0D, 0x0A, 0x1A};
inline constexpr std::uint16_t kSumVersion = 1;
inline constexpr std::size_t kSumHeaderSize = 48;
inline constexpr std::size_t kSumIconRecordSize = 48;
inline constexpr std::size_t kSumBlockRecordSize = 24;
inline constexpr std::size_t kSumCheckSize = 8;
inline constexpr char kSumSuffix[] = ".sum";

// Icon flags: where the entry is kept, and how its hash came to be.
inline constexpr std::uint32_t kSumInBlock = 1;
inline constexpr std::uint32_t kSumInSingleFile = 2;
// Hashed as it was found when the library gained its checksum file, not as a run stored it.
inline constexpr std::uint32_t kSumAdopted = 4;

inline constexpr Reason kSumTooShort{"the checksum file is shorter than its header"};
inline constexpr Reason kSumNotOurs{"the checksum file does not begin with its magic"};
inline constexpr Reason kSumNewer{"the checksum file was written by a newer version"};
inline constexpr Reason kSumBadSizes{"the checksum file's header gives impossible sizes"};
inline constexpr Reason kSumBadLength{"the checksum file's length does not fit its header"};
inline constexpr Reason kSumBadCheck{"the checksum file's own check does not match its bytes"};
inline constexpr Reason kSumBadName{"a source name in the checksum file lies outside its names"};
inline constexpr Reason kSumMissing{"there is no checksum file"};
inline constexpr Reason kSumUnreadable{"the checksum file cannot be read"};
inline constexpr Reason kSumNoName{"the offsets file's name is too long to add \".sum\""};

struct IconSum {
  std::uint32_t length = 0;  // bytes of the stored entry (packed where it is kept packed)
  std::uint32_t flags = 0;
  ContentHash hash = 0;
  CoordinatesRecord box;
  std::uint64_t source_size = 0;
  std::string source;  // the file it was made from, as the project names it; "" unknown
  std::uint32_t generation = 0;
  friend bool operator==(const IconSum&, const IconSum&) = default;
};

struct BlockSum {
  std::uint64_t length = 0;
  ContentHash hash = 0;
  std::uint32_t generation = 0;
  friend bool operator==(const BlockSum&, const BlockSum&) = default;
};

struct ChecksumFile {
  std::uint32_t generation = 0;
  std::uint32_t icons_per_block = 0;
  std::vector<IconSum> icons;    // icon n at n
  std::vector<BlockSum> blocks;  // block b at b
  friend bool operator==(const ChecksumFile&, const ChecksumFile&) = default;
};

// Source names longer than a project name can be are cut to it on writing.
[[nodiscard]] std::vector<std::uint8_t> EncodeChecksumFile(const ChecksumFile& sums);
// The whole file, checked from the header on; never reads outside `bytes`.
[[nodiscard]] Result<ChecksumFile> DecodeChecksumFile(std::span<const std::uint8_t> bytes);

// The offsets file's name with ".sum", or nothing when that is too long for a name.
[[nodiscard]] std::optional<Name> ChecksumFileName(const ProjectSettings& settings);

// kSumMissing when there is none, kSumUnreadable when it cannot be read.
[[nodiscard]] Result<ChecksumFile> ReadChecksumFile(const ProjectSettings& settings);
// Replaces the file whole and flushes it to disk before returning.
[[nodiscard]] Status WriteChecksumFile(const ProjectSettings& settings, const ChecksumFile& sums);

}  // namespace zemlo
