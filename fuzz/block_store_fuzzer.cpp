// The block rewrite over a small library whose offsets file and block files come from the
// input, driven the way a run drives it by calls the input chooses: some out of order, some
// runs killed inside a block. Whatever the records claim, nothing may be read or written
// outside a buffer, and afterwards every block on disk is whole in its old state or its new:
// - a block the run finished holds exactly the entries the calls asked for (icons not handed
//   over keep their old bytes), back to back from byte 0, as the offsets file describes them;
// - a block whose call failed, and every block the run did not reach, is as it was;
// - a block whose run was killed has its old bytes in BLTEMP beside its old records, and the
//   recovery puts the block file back as it was, or, when those bytes are not what the records
//   add up to, refuses and leaves every file as it is.
// - every block the run finished is described by the checksum file, written when the store
//   commits the block while BLTEMP's record still stands, as a run writes it: its entries'
//   hashes and the hash of the whole block file; the blocks it did not finish keep theirs.
// The old bytes of an icon are those the store reads: the block's entries back to back by
// their lengths from byte 0, whatever the offsets say; records past the file's end hold none.
//
// Input: BLKB - 1 (low 3 bits), flags, the record count k, then k records: raw 8-byte records
// with flag bit 0, else one length byte each, laid back to back in their block. Then one byte
// per block: 0xFF no block file, 0xFE (with length bytes) the file its records describe, else
// that many bytes of the input as the file. Then the run's first icon, then one byte per icon
// from it on: bits 0-1 store / keep / drop / not handed over, bit 2 the run is killed after
// this icon, bit 3 an out-of-order call before it, bits 4-7 the length of the stored entry.
// Flags: bit 0 raw records, bit 1 a BLTEMP left over, bit 2 block files off, bit 3 no offsets
// file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "block_sums_check.h"
#include "core/byte_reader.h"
#include "core/working_state.h"
#include "fuzz_folder.h"
#include "library/store/block_store.h"
#include "library/store/checksum_file.h"
#include "library/store/entry_sums.h"
#include "library/store/rewrite_recovery.h"
#include "library/store/stamping.h"
#include "library/store/tables.h"
#include "project/project_settings.h"
#include "support/recording_port.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using zemlo::fuzzing::ReadFile;
using zemlo::fuzzing::SetName;
using zemlo::fuzzing::WriteFile;

// NSIZ: with BLKB 1 to 8 every block number has a name, and an input stays cheap.
constexpr int kIcons = 40;
constexpr std::uint8_t kNoFile = 0xFF;
constexpr std::uint8_t kDescribedFile = 0xFE;
// Flags.
constexpr std::uint8_t kRawRecords = 1;
constexpr std::uint8_t kTempLeftOver = 2;
constexpr std::uint8_t kBlockFilesOff = 4;
constexpr std::uint8_t kNoOffsetsFile = 8;
// Bits of a call byte.
constexpr std::uint8_t kActionBits = 3;
constexpr std::uint8_t kKilledAfter = 4;
constexpr std::uint8_t kOutOfOrder = 8;
constexpr int kLengthShift = 4;

enum Action { kStore, kKeep, kDrop, kNotHandedOver };
enum class Outcome { kUntouched, kOpen, kDone, kFailed, kKilled };

[[noreturn]] void Fail(const char* what, int block) {
  std::fprintf(stderr, "block store: %s (block %d)\n", what, block);
  std::abort();
}

// The input's bytes in order; zeros once they are used up.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}
  bool empty() const { return left_ == 0; }
  std::uint8_t Byte() {
    if (left_ == 0) return 0;
    --left_;
    return *data_++;
  }
  Bytes Take(std::size_t count) {
    const std::size_t n = std::min(count, left_);
    Bytes out(data_, data_ + n);
    data_ += n;
    left_ -= n;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t left_;
};

// Distinct bytes for every icon, length and call.
Bytes EntryBytes(int icon, std::size_t length, int salt) {
  Bytes out(length);
  for (std::size_t i = 0; i < length; ++i) {
    out[i] = static_cast<std::uint8_t>(icon * 37 + salt * 11 + static_cast<int>(i) * 3 + 1);
  }
  return out;
}

struct Record {
  std::int32_t offset = 0;
  std::int32_t length = 0;
};

Record RecordIn(const Bytes& table, int icon) {
  const std::size_t at = static_cast<std::size_t>(icon) * zemlo::kRecordSize;
  if (table.size() < at + zemlo::kRecordSize) return {};
  return {static_cast<std::int32_t>(zemlo::LoadU32LE(&table[at])),
          static_cast<std::int32_t>(zemlo::LoadU32LE(&table[at + 4]))};
}

class Harness {
 public:
  Harness(zemlo::WorkingState& state, zemlo::testing::RecordingPort& port)
      : state_(state), port_(port) {}

  void Run(Input& in) {
    blkb_ = 1 + (in.Byte() & 7);
    flags_ = in.Byte();
    blocks_ = (kIcons + blkb_ - 1) / blkb_;
    SetName(settings_.FOFS, "OFFS.DAT");
    SetName(settings_.FBLK, "BLK00.ZGL");
    settings_.NSIZ = kIcons;
    settings_.BLKB = blkb_;
    settings_.DBLK = (flags_ & kBlockFilesOff) ? 1 : 2;
    MakeLibrary(in);
    if (!(flags_ & kBlockFilesOff)) {
      // A checksum file of nothing yet: each commit brings its block's sums up to date.
      zemlo::ChecksumFile sums;
      zemlo::FitSums(sums, settings_);
      if (!zemlo::WriteChecksumFile(settings_, sums)) Fail("no checksum file to begin with", -1);
    }
    Drive(in);
    Check();
  }

 private:
  std::string BlockName(int block) const {
    zemlo::Name name = settings_.FBLK;
    if (!zemlo::StampBlockNumber(block, name)) Fail("block without a name", block);
    return name.data();
  }
  int FirstOf(int block) const { return block * blkb_; }
  int EndOf(int block) const { return std::min(kIcons, (block + 1) * blkb_); }

  void MakeLibrary(Input& in) {
    old_offsets_.assign(kIcons * zemlo::kRecordSize, 0);
    const int records = std::min<int>(in.Byte(), kIcons);
    std::vector<std::int64_t> block_end(static_cast<std::size_t>(blocks_), 0);
    for (int n = 0; n < records; ++n) {
      std::uint8_t* record = &old_offsets_[static_cast<std::size_t>(n) * zemlo::kRecordSize];
      if (flags_ & kRawRecords) {
        const Bytes raw = in.Take(zemlo::kRecordSize);
        std::copy(raw.begin(), raw.end(), record);
        continue;
      }
      const std::uint8_t length = in.Byte();
      if (length == 0) continue;
      std::int64_t& end = block_end[static_cast<std::size_t>(n / blkb_)];
      zemlo::StoreU32LE(record, static_cast<std::uint32_t>(end));
      zemlo::StoreU32LE(record + 4, length);
      end += length;
    }
    if (!(flags_ & kNoOffsetsFile)) {
      WriteFile(settings_.FOFS.data(), old_offsets_.data(), old_offsets_.size());
    }
    old_blocks_.assign(static_cast<std::size_t>(blocks_), std::nullopt);
    for (int b = 0; b < blocks_; ++b) {
      const std::uint8_t c = in.Byte();
      if (c == kNoFile) continue;
      Bytes bytes;
      if (c == kDescribedFile && !(flags_ & kRawRecords)) {
        for (int n = FirstOf(b); n < EndOf(b); ++n) {
          const Record r = RecordIn(old_offsets_, n);
          if (r.length <= 0) continue;
          const Bytes e = EntryBytes(n, static_cast<std::size_t>(r.length), 0);
          bytes.insert(bytes.end(), e.begin(), e.end());
        }
      } else {
        bytes = in.Take(c);
      }
      WriteFile(BlockName(b).c_str(), bytes.data(), bytes.size());
      old_blocks_[static_cast<std::size_t>(b)] = std::move(bytes);
    }
    // Without an offsets file the library has no records, whatever the input gave.
    if (flags_ & kNoOffsetsFile) std::fill(old_offsets_.begin(), old_offsets_.end(), 0);
    if (flags_ & kTempLeftOver) {
      old_temp_ = Bytes{'o', 'l', 'd'};
      WriteFile(zemlo::kTempBlockName, old_temp_->data(), old_temp_->size());
    }
    // What the store carries of each icon: the block's entries back to back from byte 0.
    for (int b = 0; b < blocks_; ++b) {
      const Bytes& file = old_blocks_[static_cast<std::size_t>(b)].value_or(Bytes{});
      std::int64_t position = 0;
      for (int n = FirstOf(b); n < EndOf(b); ++n) {
        const Record r = RecordIn(old_offsets_, n);
        if (r.length <= 0) continue;
        const std::int64_t end = position + r.length;
        if (end <= static_cast<std::int64_t>(file.size())) {
          expected_[n] = Bytes(file.begin() + position, file.begin() + end);
        }
        position = end;
      }
    }
  }

  void Drive(Input& in) {
    outcome_.assign(static_cast<std::size_t>(blocks_), Outcome::kUntouched);
    auto context = std::make_unique<zemlo::StoreContext>(
        zemlo::StoreContext{settings_, state_, zemlo::RewriteState{}});
    context->block_committed = [this](int block) { Committed(block); };
    const int first = in.Byte() % kIcons;
    int last = first;
    for (int n = first; n < kIcons && !in.empty(); ++n) {
      last = n;
      const std::uint8_t call = in.Byte();
      const int block = n / blkb_;
      Outcome& outcome = outcome_[static_cast<std::size_t>(block)];
      if (context->rewrite.open_block == -1 && !zemlo::OpenBlock(n, *context)) {
        outcome = Outcome::kFailed;
        return;
      }
      outcome = Outcome::kOpen;
      if ((call & kOutOfOrder) && context->rewrite.open_block >= 0) {
        // An icon the rewrite has passed already.
        if (zemlo::DropEntry(context->rewrite.next_icon - 1, *context)) {
          Fail("a call out of order went through", block);
        }
        outcome = Outcome::kFailed;
        return;
      }
      bool ok = true;
      switch (call & kActionBits) {
        case kStore: {
          const Bytes entry = EntryBytes(n, call >> kLengthShift, n - first + 1);
          ok = zemlo::StoreEntry(n, entry, *context).ok();
          if (entry.empty()) {
            expected_.erase(n);
          } else {
            expected_[n] = entry;
          }
          break;
        }
        case kKeep:
          ok = zemlo::KeepEntry(n, *context).ok();
          break;
        case kDrop:
          ok = zemlo::DropEntry(n, *context).ok();
          expected_.erase(n);
          break;
        case kNotHandedOver:
          break;
      }
      if (!ok || !zemlo::CheckBlockEnd(n, *context)) {
        outcome = Outcome::kFailed;
        return;
      }
      if (context->rewrite.open_block == -1) outcome = Outcome::kDone;
      if ((call & kKilledAfter) && context->rewrite.open_block >= 0) {
        outcome = Outcome::kKilled;
        context.reset();  // closes the streams and leaves BLTEMP, as a killed process does
        return;
      }
    }
    const int open = context->rewrite.open_block;
    if (open >= 0) {
      outcome_[static_cast<std::size_t>(open)] =
          zemlo::CloseBlock(last, *context) ? Outcome::kDone : Outcome::kFailed;
    }
  }

  // The offsets file describes the new block; its rewrite record must still stand, so that
  // a kill now leaves the recovery the block whose sums to bring up to date.
  void Committed(int block) {
    if (!ReadFile(zemlo::kTempBlockRecordName)) Fail("a block committed without its record", block);
    if (!zemlo::RefreshBlockSums(settings_, block, BlockName(block).c_str())) {
      Fail("the checksum file was not brought up to date", block);
    }
  }

  void Check() {
    // No rewrite happens with block files off, and none ever touches a leftover BLTEMP.
    const bool temp_kept = ReadFile(zemlo::kTempBlockName) == old_temp_;
    if (flags_ & kBlockFilesOff) {
      if (!temp_kept) Fail("BLTEMP changed with block files off", -1);
      return;
    }
    if (flags_ & kTempLeftOver) {
      if (!temp_kept) Fail("a leftover BLTEMP changed", -1);
      for (int b = 0; b < blocks_; ++b) ExpectOld(b, BlockName(b).c_str());
      return;
    }
    for (int b = 0; b < blocks_; ++b) {
      switch (outcome_[static_cast<std::size_t>(b)]) {
        case Outcome::kDone:
          ExpectNew(b);
          ExpectSums(b, true);
          break;
        case Outcome::kKilled:
          ExpectOld(b, zemlo::kTempBlockName);
          CheckRecovery(b);
          ExpectSums(b, false);
          break;
        case Outcome::kOpen:
          Fail("a block was left open by a run that went through", b);
        case Outcome::kUntouched:
        case Outcome::kFailed:
          ExpectOld(b, BlockName(b).c_str());
          ExpectSums(b, false);
          break;
      }
    }
    if (!temp_refused_ && ReadFile(zemlo::kTempBlockName)) Fail("BLTEMP is left over", -1);
  }

  // The recovery puts the block back only when BLTEMP holds exactly the bytes its old records
  // add up to; a block file that held more or fewer (it disagreed with the offsets file before
  // the run) leaves BLTEMP, the record and the new block file as they are, with a warning.
  void CheckRecovery(int block) {
    std::int64_t recorded = 0;
    for (int n = FirstOf(block); n < EndOf(block); ++n) {
      recorded += std::max(RecordIn(old_offsets_, n).length, 0);
    }
    const auto old_length = static_cast<std::int64_t>(
        old_blocks_[static_cast<std::size_t>(block)].value_or(Bytes{}).size());
    const auto block_before = ReadFile(BlockName(block).c_str());
    const auto result = zemlo::RecoverInterruptedRewrite(settings_, port_);
    if (old_length == recorded) {
      if (result != zemlo::RecoveryResult::kRecovered)
        Fail("the killed rewrite was not recovered", block);
      ExpectOld(block, BlockName(block).c_str());
      return;
    }
    if (result != zemlo::RecoveryResult::kRefused)
      Fail("a BLTEMP of another length was used", block);
    if (ReadFile(BlockName(block).c_str()) != block_before)
      Fail("a refused recovery changed the block", block);
    if (!ReadFile(zemlo::kTempBlockRecordName))
      Fail("a refused recovery removed the record", block);
    ExpectOld(block, zemlo::kTempBlockName);
    temp_refused_ = true;
  }

  // The offsets file now; zeros where it holds nothing.
  Bytes OffsetsNow() const {
    return ReadFile(settings_.FOFS.data()).value_or(Bytes(old_offsets_.size(), 0));
  }

  // `name` holds the block's old bytes (no file and an empty one hold the same: nothing) and
  // the offsets file the block's old records.
  void ExpectOld(int block, const char* name) const {
    const Bytes now = ReadFile(name).value_or(Bytes{});
    if (now != old_blocks_[static_cast<std::size_t>(block)].value_or(Bytes{})) {
      Fail("the old bytes of the block are lost", block);
    }
    const Bytes offsets = OffsetsNow();
    for (int n = FirstOf(block); n < EndOf(block); ++n) {
      const Record a = RecordIn(offsets, n);
      const Record b = RecordIn(old_offsets_, n);
      if (a.offset != b.offset || a.length != b.length) Fail("an old record changed", block);
    }
  }

  // The block file holds the expected entries back to back from 0 and nothing else, and the
  // offsets file says so.
  void ExpectNew(int block) const {
    const Bytes offsets = OffsetsNow();
    const auto file = ReadFile(BlockName(block).c_str());
    std::int64_t position = 0;
    for (int n = FirstOf(block); n < EndOf(block); ++n) {
      const Record r = RecordIn(offsets, n);
      const auto entry = expected_.find(n);
      if (entry == expected_.end()) {
        if (r.offset != 0 || r.length != 0) Fail("a record where no entry belongs", block);
        continue;
      }
      if (r.offset != position || r.length != static_cast<std::int64_t>(entry->second.size())) {
        Fail("the records do not lie back to back", block);
      }
      if (!file || static_cast<std::int64_t>(file->size()) < position + r.length ||
          !std::equal(entry->second.begin(), entry->second.end(), file->begin() + position)) {
        Fail("an entry's bytes differ", block);
      }
      position += r.length;
    }
    if ((file ? static_cast<std::int64_t>(file->size()) : 0) != position) {
      Fail("the block file is not what its records describe", block);
    }
    if (position == 0 && file) Fail("an empty block keeps its file", block);
  }

  // What the checksum file says of the block, as CheckFinishedBlock or CheckUnfinishedBlock.
  void ExpectSums(int block, bool finished) const {
    const auto sums =
        zemlo::fuzzing::SumsOfLibrary(settings_, kIcons, static_cast<std::size_t>(blocks_));
    if (!sums) Fail("the checksum file does not decode to this library", block);
    const Bytes file = ReadFile(BlockName(block).c_str()).value_or(Bytes{});
    const char* wrong =
        finished ? zemlo::fuzzing::CheckFinishedBlock(*sums, block, FirstOf(block), EndOf(block),
                                                      file, expected_)
                 : zemlo::fuzzing::CheckUnfinishedBlock(*sums, block, FirstOf(block), EndOf(block));
    if (wrong != nullptr) Fail(wrong, block);
  }

  zemlo::WorkingState& state_;
  zemlo::testing::RecordingPort& port_;
  zemlo::ProjectSettings settings_;
  int blkb_ = 1;
  int blocks_ = 0;
  std::uint8_t flags_ = 0;
  Bytes old_offsets_;
  std::vector<std::optional<Bytes>> old_blocks_;
  std::optional<Bytes> old_temp_;
  std::map<int, Bytes> expected_;  // the entry each icon must have in the new state
  std::vector<Outcome> outcome_;
  bool temp_refused_ = false;  // a killed block's BLTEMP stays: its length was not the records'
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static zemlo::fuzzing::LibraryFixture fixture("zgl-fuzz-store-");
  fixture.folder.Clear();
  // The table in memory must not carry records of the previous input into this one.
  std::fill_n(fixture.state.offsets.data(), fixture.state.offsets.size(), std::uint8_t{0});
  Input in(data, size);
  Harness(fixture.state, fixture.port).Run(in);
  fixture.port.Clear();
  return 0;
}
