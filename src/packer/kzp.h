// The KZP packed entry: the magic "KZP1" followed by write and replicate tags, written chunk by
// chunk by a greedy compressor with a 32-byte look-back window, and checked tag by tag against
// the source right after each chunk is packed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/status_port.h"

namespace zemlo {

inline constexpr char kKzpMagic[4] = {'K', 'Z', 'P', '1'};
inline constexpr std::size_t kKzpMagicSize = 4;
// Readers recognise a packed entry by "KZP" alone; the version digit is written, never tested.
inline constexpr std::size_t kKzpRecognisedSize = 3;

inline constexpr std::size_t kKzpChunkSize = 8192;
inline constexpr int kKzpWindow = 32;  // a match starts at most this far back
inline constexpr int kKzpMaxMatch = 32;
inline constexpr int kKzpMinMatch = 4;        // shorter matches cost more than their literals
inline constexpr int kKzpWriteLimit = 16383;  // 6 bits + one byte of 64s
inline constexpr int kKzpReplicateLengthLimit = 16383;
inline constexpr int kKzpReplicateOffsetLimit = 32767;  // 7 bits + one byte of 128s

// Tag byte layout.
inline constexpr std::uint8_t kTagReplicate = 0x80;
inline constexpr std::uint8_t kTagExtended = 0x40;
inline constexpr std::uint8_t kTagLowBits = 0x3F;
inline constexpr std::uint8_t kOffsetExtended = 0x80;
inline constexpr std::uint8_t kOffsetLowBits = 0x7F;

// Caption of the packer's own message boxes.
inline constexpr std::string_view kKzpCaption = "KZP";
// The packer's progress is the title it was given with this and its numbers appended; every
// title of one packing begins with the same text before it.
inline constexpr std::string_view kPackTitleMark = "  -->  KZP ";

// The most bytes PackEntry can write for `source_size` source bytes: the magic, and per chunk
// one literal run of the whole chunk with its two-byte tag (a replicate tag of two bytes always
// stands for at least four source bytes, so splitting a run never makes it longer).
constexpr std::size_t PackedBound(std::size_t source_size) {
  return kKzpMagicSize + source_size + 2 * ((source_size + kKzpChunkSize - 1) / kKzpChunkSize);
}

struct Match {
  int length = 0;
  int distance = 0;
  friend bool operator==(const Match&, const Match&) = default;
};

// First three bytes "KZP".
bool IsPackedEntry(std::span<const std::uint8_t> entry);

// Expands a whole packed entry (magic included) into `out`. Returns the bytes produced, or
// nullopt when the stream is malformed: shorter than the magic, ending inside a tag, copying
// from before the start of the output (or at distance 0), or producing more than `out` holds.
// Nothing is read outside `packed` and nothing written outside `out`.
std::optional<std::size_t> UnpackEntry(std::span<const std::uint8_t> packed,
                                       std::span<std::uint8_t> out);

// Longest match for the byte at `position` of `source` (the whole entry): distances 1 to
// min(position, 32), lengths capped at min(remaining, 32) where `remaining` counts the bytes
// from `position` to the end of the chunk; among equal lengths the smallest distance. (0, 0)
// when nothing matches a single byte, and always at position 0.
Match FindMatch(std::span<const std::uint8_t> source, std::size_t remaining, std::size_t position);

// Compresses the `count` bytes of `source` that begin at `start` (matches may reach back before
// `start`) into tags at the start of `out`; returns the bytes written. A tag that does not fit
// in `out` is not written, so the chunk then fails verification instead of overrunning. With
// `covered`, it is set to the source bytes the written tags stand for: `count` exactly when
// every tag was written whole, and then VerifyChunk passes the chunk as written.
std::size_t CompressChunk(std::span<const std::uint8_t> source, std::size_t start,
                          std::span<std::uint8_t> out, std::size_t count, StatusPort& port,
                          Owner owner, std::size_t* covered = nullptr);

// One write tag for all of `literals` (iWLen = literals.size()); returns the bytes written.
// Above the write limit it warns and writes a tag for the first 16383 literals only. Writes
// nothing (returns 0) when the tag does not fit in `out`.
std::size_t PutWriteTag(std::span<const std::uint8_t> literals, std::span<std::uint8_t> out,
                        StatusPort& port, Owner owner);

// One replicate tag copying `length` bytes from `offset` bytes back (iRLen = length - 1).
// Above the length limit it warns and writes a tag for 16384 bytes; above the offset limit it
// warns and writes nothing, as for an offset or length below 1 or a tag that does not fit.
std::size_t PutReplicateTag(std::span<std::uint8_t> out, int offset, int length, StatusPort& port,
                            Owner owner);

// Walks the tags of one freshly packed chunk against the `count` source bytes at `start`,
// reporting the first mismatching tag. Also false (without a tag box) when the tags cover
// fewer bytes than the chunk.
bool VerifyChunk(std::span<const std::uint8_t> source, std::size_t start, std::size_t count,
                 std::span<const std::uint8_t> packed, StatusPort& port, Owner owner);

// Title "<title text>  -->  KZP <size> (<percent>%) <status>", cut to the 576-byte title
// buffer by shortening the title text.
void ShowPackTitle(StatusPort& port, std::string_view title_text, int size, int percent,
                   std::string_view status);

// Packs `source` into `out` ("KZP1" and the chunks' tags), verifying each chunk and showing
// progress in the title. Returns the packed length; `out` should hold PackedBound(source.size())
// bytes (the unpack buffer does for every entry the file buffer can hold).
std::size_t PackEntry(std::span<const std::uint8_t> source, std::span<std::uint8_t> out,
                      StatusPort& port, Owner owner, std::string_view title_text);

}  // namespace zemlo
