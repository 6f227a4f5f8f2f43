// The record file BLTEMP.REC, both ways: its layout is in rewrite_recovery.h.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/byte_reader.h"
#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/store/rewrite_recovery.h"
#include "library/store/rewrite_recovery_internal.h"
#include "library/store/tables.h"

namespace zemlo {
namespace {

using rewrite_recovery_internal::kMaxRecordFileBytes;
using rewrite_recovery_internal::kMaxRecordName;
using rewrite_recovery_internal::kRecordFixedBytes;

constexpr std::uint32_t kFnvOffsetBasis = 2166136261u;
constexpr std::uint32_t kFnvPrime = 16777619u;

std::uint32_t Checksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t hash = kFnvOffsetBasis;
  for (std::uint8_t b : bytes) hash = (hash ^ b) * kFnvPrime;
  return hash;
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

bool ReadName(ByteReader& reader, std::string& name) {
  const auto length = reader.U16LE();
  if (!length || *length == 0 || *length > kMaxRecordName) return false;
  const auto bytes = reader.Bytes(*length);
  if (!bytes) return false;
  name.assign(bytes->begin(), bytes->end());
  return name.find('\0') == std::string::npos;
}

}  // namespace

std::vector<std::uint8_t> EncodeTempBlockRecord(const TempBlockRecord& record) {
  std::vector<std::uint8_t> out(std::begin(kTempBlockRecordMagic), std::end(kTempBlockRecordMagic));
  PutU16(out, kTempBlockRecordVersion);
  PutU32(out, static_cast<std::uint32_t>(record.first_icon));
  PutU32(out, static_cast<std::uint32_t>(record.records.size() / kRecordSize));
  for (const std::string* name : {&record.offsets_name, &record.block_name}) {
    const std::size_t length = std::min(name->size(), kMaxRecordName);
    PutU16(out, static_cast<std::uint16_t>(length));
    out.insert(out.end(), name->begin(), name->begin() + static_cast<std::ptrdiff_t>(length));
  }
  const std::size_t whole = record.records.size() / kRecordSize * kRecordSize;
  out.insert(out.end(), record.records.begin(),
             record.records.begin() + static_cast<std::ptrdiff_t>(whole));
  PutU32(out, Checksum(out));
  return out;
}

std::optional<TempBlockRecord> DecodeTempBlockRecord(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kRecordFixedBytes || bytes.size() > kMaxRecordFileBytes) return std::nullopt;
  const auto body = bytes.first(bytes.size() - 4);
  ByteReader tail(bytes.last(4));
  const auto stored = tail.U32LE();
  if (!stored || *stored != Checksum(body)) return std::nullopt;

  ByteReader reader(body);
  const auto magic = reader.Bytes(sizeof kTempBlockRecordMagic);
  if (!magic || std::memcmp(magic->data(), kTempBlockRecordMagic, magic->size()) != 0) {
    return std::nullopt;
  }
  const auto version = reader.U16LE();
  if (!version || *version != kTempBlockRecordVersion) return std::nullopt;
  const auto first_field = reader.U32LE();
  const auto count_field = reader.U32LE();
  if (!first_field || !count_field) return std::nullopt;
  const std::uint32_t first = *first_field;
  const std::uint32_t count = *count_field;
  TempBlockRecord record;
  record.first_icon = static_cast<std::int32_t>(first);
  if (!OffsetsTable::InRange(record.first_icon) || count > kOffsetsCapacity ||
      first + count > static_cast<std::uint32_t>(kOffsetsCapacity) ||
      !ReadName(reader, record.offsets_name) || !ReadName(reader, record.block_name) ||
      reader.remaining() != std::size_t{count} * kRecordSize) {
    return std::nullopt;
  }
  const auto records = reader.rest();
  record.records.assign(records.begin(), records.end());
  return record;
}

bool WriteTempBlockRecord(const TempBlockRecord& record) {
  return CreateWholeFile(kTempBlockRecordName, EncodeTempBlockRecord(record));
}

bool RemoveTempBlockRecord() { return files::RemoveFile(kTempBlockRecordName).ok(); }

}  // namespace zemlo
