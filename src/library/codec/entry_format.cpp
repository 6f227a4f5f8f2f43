#include "library/codec/entry_format.h"

#include <cstring>

namespace zemlo {
namespace {

// Largest count one byte carries before the 255-continuation.
constexpr std::size_t kCountStep = 255;

}  // namespace

std::string_view MaskKindWord(std::uint8_t kind) {
  switch (kind) {
    case kUnmasked:
      return "Unmasked";
    case kZeroMasked:
      return "0-masked";
    case kXMasked:
      return "X-masked";
    default:
      return "";
  }
}

std::string MaskKindText(std::uint8_t kind) {
  const std::string_view word = MaskKindWord(kind);
  return word.empty() ? "byte " + std::to_string(kind) : std::string(word);
}

std::optional<std::uint64_t> ReadCount(ByteReader& entry) {
  std::uint64_t value = 0;
  while (const auto b = entry.U8()) {
    value = AddCountByte(value, *b);
    if (*b != 0xFF) return value;
  }
  return std::nullopt;
}

std::size_t WriteCount(std::size_t value, std::span<std::uint8_t> out) {
  const std::size_t n = value / kCountStep + 1;
  if (out.size() < n) return 0;
  std::memset(out.data(), 0xFF, n - 1);
  out[n - 1] = static_cast<std::uint8_t>(value % kCountStep);
  return n;
}

}  // namespace zemlo
