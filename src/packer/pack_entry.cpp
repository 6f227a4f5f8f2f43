#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/geometry.h"
#include "core/status.h"
#include "packer/kzp.h"
#include "packer/kzp_tag.h"
#include "packer/pack_entry_seam.h"

namespace zemlo {
namespace {

// Kinds of the previous tag in the verify report.
constexpr int kNoTag = 0;
constexpr int kWriteKind = 1;
constexpr int kReplicateKind = 2;

// Tags are short (a replicate tag of the compressor covers at most 32 bytes): compare them
// inline with overlapping word loads, which cover every byte without a loop over the tail.
template <typename Word>
bool SameWord(const std::uint8_t* a, const std::uint8_t* b) {
  Word x;
  Word y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  return x == y;
}

bool SameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) {
      if (!SameWord<std::uint64_t>(a + i, b + i)) return false;
    }
    return SameWord<std::uint64_t>(a + n - 8, b + n - 8);
  }
  if (n >= 4) return SameWord<std::uint32_t>(a, b) && SameWord<std::uint32_t>(a + n - 4, b + n - 4);
  // One to three bytes: first, middle and last cover them all.
  return n == 0 || (a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1]);
}

// The tag the verify report names as the one before a mismatch.
struct PreviousTag {
  int kind = kNoTag;
  int length = 0;
};

bool ReportTagMismatch(StatusPort& port, Owner owner, int kind, const PreviousTag& previous) {
  port.ShowMessage(
      owner, kKzpCaption,
      kind == kWriteKind ? "Verify Error while WRITE tag!!" : "Verify Error while REPLICATE tag!!",
      MessageIcon::kWarning);
  ShowWarningNumber(port, owner, "Old TAG 1=write, 2=replicate: %i", previous.kind);
  ShowWarningNumber(port, owner, "Old length: %i", previous.length);
  return false;
}

// Whether the tag produces exactly the source bytes from `cursor` on, within the chunk that
// ends at `end`.
bool TagMatchesSource(const KzpTag& tag, const std::uint8_t* s, std::size_t cursor,
                      std::size_t end) {
  const std::size_t n = tag.produced();
  if (n > end - cursor) return false;
  // All literals compared at once: the report names the tag, not the byte.
  if (!tag.replicate) return SameBytes(tag.literals.data(), s + cursor, n);
  // Distance 0 would compare each byte with itself and pass, though no unpacker can produce
  // a byte from itself.
  return tag.distance != 0 && tag.distance <= cursor &&
         SameBytes(s + cursor - tag.distance, s + cursor, n);
}

}  // namespace

bool VerifyChunk(std::span<const std::uint8_t> source, std::size_t start, std::size_t count,
                 std::span<const std::uint8_t> packed, StatusPort& port, Owner owner) {
  // Tags are checked against this chunk only: a tag reaching past its end would make the next
  // chunk's bytes appear twice after unpacking.
  start = std::min(start, source.size());
  const std::size_t end = start + std::min(count, source.size() - start);
  std::size_t cursor = start;
  PreviousTag previous;
  ByteReader tags(packed);
  while (!tags.empty()) {
    const int kind = NextTagReplicates(tags) ? kReplicateKind : kWriteKind;
    const auto tag = ReadKzpTag(tags);
    if (!tag || !TagMatchesSource(*tag, source.data(), cursor, end)) {
      return ReportTagMismatch(port, owner, kind, previous);
    }
    cursor += tag->produced();
    previous = {kind, static_cast<int>(tag->length)};
  }
  // Every tag matched but some source bytes have none (a tag that did not fit its buffer).
  return cursor == end;
}

void ShowPackTitle(StatusPort& port, std::string_view title_text, int size, int percent,
                   std::string_view status) {
  char suffix[kTextBufferSize];
  const int suffix_length =
      std::snprintf(suffix, sizeof suffix, "%.*s%i (%i%%) %.*s",
                    static_cast<int>(kPackTitleMark.size()), kPackTitleMark.data(), size, percent,
                    static_cast<int>(std::min(status.size(), kTextBufferSize)), status.data());
  const std::size_t suffix_size =
      std::min(static_cast<std::size_t>(std::max(suffix_length, 0)), kTextBufferSize - 1);
  // A long title text gives way to the packer's own part, which is what the user waits for.
  const std::size_t title_size = std::min(title_text.size(), kTextBufferSize - 1 - suffix_size);
  char title[kTextBufferSize];
  std::memcpy(title, title_text.data(), title_size);
  std::memcpy(title + title_size, suffix, suffix_size);
  title[title_size + suffix_size] = '\0';
  port.SetTitle(std::string_view(title, title_size + suffix_size));
}

std::size_t PackEntryWithHook(std::span<const std::uint8_t> source, std::span<std::uint8_t> out,
                              StatusPort& port, Owner owner, std::string_view title_text,
                              const PackedChunkHook& hook) {
  if (out.size() < kKzpMagicSize) return 0;
  std::memcpy(out.data(), kKzpMagic, kKzpMagicSize);
  std::size_t cursor = kKzpMagicSize;
  const std::size_t length = source.size();
  if (length == 0) return cursor;

  std::size_t position = 0;
  std::size_t chunk_index = 0;
  int errors = 0;
  while (position < length) {
    const std::size_t n = std::min(length - position, kKzpChunkSize);
    std::size_t covered = 0;
    const std::size_t packed =
        CompressChunk(source, position, out.subspan(cursor), n, port, owner, &covered);
    const auto chunk = out.subspan(cursor, packed);
    if (hook) hook(chunk, chunk_index);
    // Each tag the compressor writes copies literals from the source or bytes it compared
    // equal, so a chunk whose tags were all written whole passes the walk over its tags, which
    // took a tenth of the packing time to say so. The walk stays for every other chunk, and for
    // one changed after packing.
    const bool as_compressed = !hook && covered == n;
    if (!as_compressed && !VerifyChunk(source, position, n, chunk, port, owner)) {
      port.ShowMessage(owner, kKzpCaption, "Verify Error!!", MessageIcon::kWarning);
      ++errors;
    }
    position += n;
    cursor += packed;
    ++chunk_index;

    // The projected size: what is written plus what is still to pack.
    const std::size_t size = cursor + (length - position);
    const auto percent = static_cast<long long>(size) * 100 / static_cast<long long>(length);
    const bool done = position == length;
    ShowPackTitle(port, title_text, static_cast<int>(size), static_cast<int>(percent),
                  errors == 0 && done ? "Verify OK" : " ");
  }
  return cursor;
}

std::size_t PackEntry(std::span<const std::uint8_t> source, std::span<std::uint8_t> out,
                      StatusPort& port, Owner owner, std::string_view title_text) {
  return PackEntryWithHook(source, out, port, owner, title_text, {});
}

}  // namespace zemlo
