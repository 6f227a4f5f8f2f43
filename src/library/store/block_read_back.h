// A block file read back entry by entry while the store writes it, by the run's thread in the
// moments it would otherwise wait for the helpers, so that the block's commit finds most of it
// read and hashed instead of reading the whole file once more (which every helper then waits
// for). What Finish gives is what HashBlockFile gives for the finished file: the same bytes,
// read back from the file through a stream of its own, the same checks. Where the entries read
// do not lie as the records say, it asks HashBlockFile itself. (Bytes the run wrote are read
// moments later; should something change them in place after that, it is not seen here, as
// HashBlockFile would not see a change after the commit: verify finds either.)
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/content_hash.h"
#include "files/file_stream.h"
#include "library/store/entry_sums.h"

namespace zemlo {

class BlockReadBack {
 public:
  // The store created `name` anew for a block's entries and writes it unbuffered, so that
  // every byte it wrote is in the file: whatever was read of an earlier file is dropped.
  void Begin(const char* name);
  // Bytes [from, to) of the file hold one entry, written in full. Entries come in the order
  // they lie in the file.
  void Wrote(std::int64_t from, std::int64_t to);
  // Reads the next entry written and not yet read. False when there is none (or a read
  // failed, which leaves the rest to HashBlockFile).
  bool ReadAhead();
  // Lets the file go (closes the stream that reads it) and drops what was read, before the
  // store removes or moves the file: Windows would refuse that while the stream is open.
  void LetGo();
  // The file is written and closed: HashBlockFile(name, records), from what was read back
  // here where it lies as the records say, else from HashBlockFile. The file is let go.
  [[nodiscard]] std::optional<HashedBlock> Finish(const char* name,
                                                  std::span<const std::uint8_t> records);

 private:
  struct Segment {
    std::int64_t from = 0;
    std::int64_t to = 0;
  };

  std::string name_;  // empty: no file
  std::vector<Segment> written_;
  std::vector<HashedEntry> read_;  // one per entry of written_ read so far
  bool failed_ = false;
  FileStream file_;
  std::int64_t position_ = 0;  // bytes read and hashed into block_
  ContentHasher block_;
  ContentHasher entry_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace zemlo
