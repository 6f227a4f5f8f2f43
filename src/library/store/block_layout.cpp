#include "library/store/block_layout.h"

#include "core/byte_reader.h"
#include "core/checked_math.h"
#include "core/geometry.h"

namespace zemlo {

std::size_t RecordsView::count() const { return bytes_.size() / kRecordSize; }

EntryRecord RecordsView::at(std::size_t i) const {
  if (i >= count()) return {};
  ByteReader in(bytes_.subspan(i * kRecordSize, kRecordSize));
  const auto offset = in.U32LE();
  const auto length = in.U32LE();
  return {static_cast<std::int32_t>(offset.value_or(0)),
          static_cast<std::int32_t>(length.value_or(0))};
}

EntryPlace BlockCursor::Step(const EntryRecord& record) {
  EntryPlace place{icon_, record, position_, position_};
  if (record.describes_bytes()) {
    position_ = CheckedAdd(position_, record.length).value_or(position_);
    place.end = position_;
  }
  ++icon_;
  return place;
}

}  // namespace zemlo
