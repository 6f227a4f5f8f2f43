#include "library/store/checksum_file.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <stdexcept>

#include "core/byte_reader.h"
#include "core/geometry.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "files/file_stream.h"

namespace zemlo {
namespace {

constexpr std::size_t kMaxSourceName = kNameSize - 1;
// Every count is bounded by what a library can hold, so a header cannot ask for more memory
// than the largest real file needs.
constexpr std::size_t kMaxIcons = static_cast<std::size_t>(kOffsetsCapacity);
constexpr std::size_t kMaxNames = kMaxIcons * kMaxSourceName;
// Sizes a later version may grow its header and records to, at most.
constexpr std::size_t kMaxPartSize = 4096;
constexpr std::size_t kMaxFileBytes =
    kMaxPartSize + kMaxIcons * kMaxPartSize * 2 + kMaxNames + kSumCheckSize;

// Writes the fields one after another into a buffer sized for the whole file beforehand: a
// file of thousands of records is written at every block a run commits.
class Writer {
 public:
  explicit Writer(std::span<std::uint8_t> out) : out_(out) {}
  void U16(std::uint16_t v) { StoreU16LE(Take(2), v); }
  void U32(std::uint32_t v) { StoreU32LE(Take(4), v); }
  void U64(std::uint64_t v) { StoreU64LE(Take(8), v); }
  void Zeros(std::size_t n) { std::memset(Take(n), 0, n); }
  void Bytes(std::span<const std::uint8_t> b) {
    std::uint8_t* at = Take(b.size());
    if (!b.empty()) std::memcpy(at, b.data(), b.size());
  }
  std::size_t size() const { return at_; }

 private:
  // The sizes are counted before the buffer is made; a miscount would be a fault of this file.
  std::uint8_t* Take(std::size_t n) {
    if (n > out_.size() - at_) throw std::logic_error("checksum file size miscounted");
    std::uint8_t* p = out_.data() + at_;
    at_ += n;
    return p;
  }
  std::span<std::uint8_t> out_;
  std::size_t at_ = 0;
};

std::string_view CutName(const std::string& name) {
  return std::string_view(name).substr(0, kMaxSourceName);
}

struct Header {
  std::size_t header_size, icon_size, block_size;
  std::uint32_t icons, per_block, blocks, names, generation;
};

Result<Header> ReadHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kSumHeaderSize + kSumCheckSize) return Fail(kSumTooShort);
  if (!std::equal(std::begin(kSumMagic), std::end(kSumMagic), bytes.begin())) {
    return Fail(kSumNotOurs);
  }
  ByteReader in(bytes.subspan(sizeof kSumMagic));
  Header h{};
  const auto version = in.U16LE();
  const auto header_size = in.U16LE(), icon_size = in.U16LE(), block_size = in.U16LE();
  const auto icons = in.U32LE(), per_block = in.U32LE(), blocks = in.U32LE();
  const auto names = in.U32LE(), generation = in.U32LE();
  // The header is whole (checked above), so every field is there.
  if (*version > kSumVersion) return Fail(kSumNewer);
  h = {*header_size, *icon_size, *block_size, *icons, *per_block, *blocks, *names, *generation};
  const auto fits = [](std::size_t size, std::size_t known) {
    return size >= known && size <= kMaxPartSize;
  };
  if (*version == 0 || !fits(h.header_size, kSumHeaderSize) ||
      !fits(h.icon_size, kSumIconRecordSize) || !fits(h.block_size, kSumBlockRecordSize) ||
      h.icons > kMaxIcons || h.blocks > kMaxIcons || h.names > kMaxNames) {
    return Fail(kSumBadSizes);
  }
  const std::size_t expected = h.header_size + std::size_t{h.icons} * h.icon_size +
                               std::size_t{h.blocks} * h.block_size + h.names + kSumCheckSize;
  if (bytes.size() != expected) return Fail(kSumBadLength);
  return h;
}

Result<IconSum> ReadIcon(ByteReader record, std::span<const std::uint8_t> names) {
  IconSum icon;
  // The record is whole: its size was checked against the file's length.
  icon.length = *record.U32LE();
  icon.flags = *record.U32LE();
  icon.hash = *record.U64LE();
  icon.box = {*record.U16LE(), *record.U16LE(), *record.U16LE(), *record.U16LE()};
  icon.source_size = *record.U64LE();
  const std::uint64_t offset = *record.U32LE();
  const std::uint64_t length = *record.U32LE();
  icon.generation = *record.U32LE();
  if (offset + length > names.size() || length > kMaxSourceName) return Fail(kSumBadName);
  const auto name = names.subspan(static_cast<std::size_t>(offset), length);
  if (std::find(name.begin(), name.end(), std::uint8_t{0}) != name.end()) {
    return Fail(kSumBadName);
  }
  icon.source.assign(name.begin(), name.end());
  return icon;
}

}  // namespace

std::vector<std::uint8_t> EncodeChecksumFile(const ChecksumFile& sums) {
  std::size_t names_size = 0;
  for (const IconSum& icon : sums.icons) names_size += CutName(icon.source).size();
  std::vector<std::uint8_t> out(kSumHeaderSize + sums.icons.size() * kSumIconRecordSize +
                                sums.blocks.size() * kSumBlockRecordSize + names_size +
                                kSumCheckSize);
  Writer w(out);
  w.Bytes(kSumMagic);
  w.U16(kSumVersion);
  w.U16(kSumHeaderSize);
  w.U16(kSumIconRecordSize);
  w.U16(kSumBlockRecordSize);
  w.U32(static_cast<std::uint32_t>(sums.icons.size()));
  w.U32(sums.icons_per_block);
  w.U32(static_cast<std::uint32_t>(sums.blocks.size()));
  w.U32(static_cast<std::uint32_t>(names_size));
  w.U32(sums.generation);
  w.Zeros(12);
  std::uint32_t name_offset = 0;
  for (const IconSum& icon : sums.icons) {
    const auto name = CutName(icon.source);
    w.U32(icon.length);
    w.U32(icon.flags);
    w.U64(icon.hash);
    w.U16(icon.box.width);
    w.U16(icon.box.height);
    w.U16(icon.box.left);
    w.U16(icon.box.top);
    w.U64(icon.source_size);
    w.U32(name_offset);
    w.U32(static_cast<std::uint32_t>(name.size()));
    w.U32(icon.generation);
    w.Zeros(4);
    name_offset += static_cast<std::uint32_t>(name.size());
  }
  for (const BlockSum& block : sums.blocks) {
    w.U64(block.length);
    w.U64(block.hash);
    w.U32(block.generation);
    w.Zeros(4);
  }
  for (const IconSum& icon : sums.icons) {
    const auto name = CutName(icon.source);
    w.Bytes(std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
  }
  w.U64(HashBytes(std::span(out).first(w.size())));
  return out;
}

Result<ChecksumFile> DecodeChecksumFile(std::span<const std::uint8_t> bytes) {
  const auto header = ReadHeader(bytes);
  if (!header) return Fail(header.error());
  const Header& h = *header;
  const auto body = bytes.first(bytes.size() - kSumCheckSize);
  if (HashBytes(body) != LoadU64LE(bytes.data() + body.size())) return Fail(kSumBadCheck);

  ChecksumFile sums;
  sums.generation = h.generation;
  sums.icons_per_block = h.per_block;
  ByteReader in(body);
  (void)in.Skip(h.header_size);  // all of these lie inside the body: its length was checked
  const std::size_t names_at =
      h.header_size + std::size_t{h.icons} * h.icon_size + std::size_t{h.blocks} * h.block_size;
  const auto names = body.subspan(names_at, h.names);
  sums.icons.reserve(h.icons);
  for (std::uint32_t n = 0; n < h.icons; ++n) {
    auto icon = ReadIcon(*in.Sub(h.icon_size), names);
    if (!icon) return Fail(icon.error());
    sums.icons.push_back(std::move(*icon));
  }
  sums.blocks.reserve(h.blocks);
  for (std::uint32_t b = 0; b < h.blocks; ++b) {
    ByteReader record = *in.Sub(h.block_size);
    BlockSum block;
    block.length = *record.U64LE();
    block.hash = *record.U64LE();
    block.generation = *record.U32LE();
    sums.blocks.push_back(block);
  }
  return sums;
}

std::optional<Name> ChecksumFileName(const ProjectSettings& settings) {
  const std::string_view offsets(settings.FOFS.data());
  if (offsets.empty() || offsets.size() + std::strlen(kSumSuffix) >= kNameSize) {
    return std::nullopt;
  }
  Name name{};
  std::copy(offsets.begin(), offsets.end(), name.begin());
  std::strcpy(name.data() + offsets.size(), kSumSuffix);
  return name;
}

Result<ChecksumFile> ReadChecksumFile(const ProjectSettings& settings) {
  const auto name = ChecksumFileName(settings);
  if (!name) return Fail(kSumNoName);
  if (!files::Exists(name->data())) return Fail(kSumMissing);
  // One open for the length and the bytes: a file that is there but fails either way is
  // unreadable, never taken for a short or empty one.
  FileStream file(files::OpenFile(name->data(), "rb").value_or(nullptr));
  if (file == nullptr) return Fail(kSumUnreadable);
  const auto length = files::SeekToEnd(file.get());
  if (!length || !files::SeekTo(file.get(), 0)) return Fail(kSumUnreadable);
  if (*length < 0 || static_cast<std::uint64_t>(*length) > kMaxFileBytes) {
    return Fail(kSumBadLength);
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*length));
  if (files::ReadBytes(file.get(), bytes.data(), bytes.size()) != bytes.size()) {
    return Fail(kSumUnreadable);
  }
  return DecodeChecksumFile(bytes);
}

Status WriteChecksumFile(const ProjectSettings& settings, const ChecksumFile& sums) {
  const auto name = ChecksumFileName(settings);
  if (!name) return Fail(kSumNoName);
  if (!ReplaceWholeFile(name->data(), EncodeChecksumFile(sums))) {
    return Fail(Reason{"the checksum file could not be written"});
  }
  return {};
}

}  // namespace zemlo
