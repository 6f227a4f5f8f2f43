#include "library/store/block_read_back.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "files/file_helpers.h"
#include "files/file_layer.h"
#include "library/store/block_layout.h"

namespace zemlo {
namespace {

constexpr std::size_t kPiece = 1 << 16;

}  // namespace

void BlockReadBack::Begin(const char* name) {
  LetGo();
  name_ = name;
}

void BlockReadBack::Wrote(std::int64_t from, std::int64_t to) {
  if (!name_.empty() && to > from) written_.push_back({from, to});
}

void BlockReadBack::LetGo() {
  file_.reset();
  name_.clear();
  written_.clear();
  read_.clear();
  failed_ = false;
  position_ = 0;
  block_.Reset();
}

bool BlockReadBack::ReadAhead() {
  if (failed_ || read_.size() >= written_.size()) return false;
  const Segment segment = written_[read_.size()];
  failed_ = true;  // until the entry is read whole
  if (segment.from != position_ ||
      segment.to - segment.from > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  if (file_ == nullptr) {
    // Unbuffered: nothing is read beyond what the store said it wrote (a buffered stream
    // reads ahead, and would find the end of a file still being written).
    file_.reset(Unbuffered(files::OpenFile(name_.c_str(), "rb").value_or(nullptr)));
    if (file_ == nullptr) return false;
    buffer_.resize(kPiece);
  }
  entry_.Reset();
  std::int64_t left = segment.to - segment.from;
  while (left > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, kPiece));
    if (files::ReadBytes(file_.get(), buffer_.data(), n) != n) return false;
    const auto piece = std::span<const std::uint8_t>(buffer_).first(n);
    entry_.Add(piece);
    block_.Add(piece);
    left -= static_cast<std::int64_t>(n);
  }
  position_ = segment.to;
  read_.push_back({static_cast<std::uint32_t>(segment.to - segment.from), entry_.Value()});
  failed_ = false;
  return true;
}

std::optional<HashedBlock> BlockReadBack::Finish(const char* name,
                                                 std::span<const std::uint8_t> records) {
  std::optional<BlockSum> whole;
  if (name_ == name && !written_.empty()) {
    while (ReadAhead()) {
    }
    // Everything written is read: the file, closed now, must end there.
    if (!failed_ && read_.size() == written_.size() &&
        files::SeekToEnd(file_.get()) == std::optional<std::int64_t>(position_)) {
      whole = BlockSum{static_cast<std::uint64_t>(position_), block_.Value(), 0};
    }
  }
  const std::vector<Segment> written = std::move(written_);
  const std::vector<HashedEntry> read = std::move(read_);
  LetGo();
  if (!whole) return HashBlockFile(name, records);
  // The entries read must be exactly those the records lay back to back from byte 0.
  const RecordsView view(records);
  HashedBlock out;
  out.entries.resize(view.count());
  BlockCursor cursor;
  std::size_t next = 0;
  for (std::size_t i = 0; i < view.count(); ++i) {
    const EntryPlace place = cursor.Step(view.at(i));
    if (!place.record.describes_bytes()) continue;
    if (!place.in_place() || next == written.size() || written[next].from != place.start ||
        written[next].to != place.end) {
      return HashBlockFile(name, records);
    }
    out.entries[i] = read[next];
    ++next;
  }
  if (next != written.size() || cursor.position() != static_cast<std::int64_t>(whole->length)) {
    return HashBlockFile(name, records);
  }
  out.block = *whole;
  return out;
}

}  // namespace zemlo
