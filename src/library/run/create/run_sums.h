// The checksum file as a creation run keeps it: read when the run starts, each block's sums
// brought up to date from the files when the block commits, and written with the coordinates
// file, while the block's rewrite record still stands (see BlockTransaction).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "core/content_hash.h"
#include "core/result.h"
#include "library/store/block_store.h"
#include "library/store/checksum_file.h"

namespace zemlo {

class RunSums {
 public:
  explicit RunSums(StoreContext& store);

  // A source converted into `icon`: its entry of `length` stored bytes hashes to `hash`, and
  // its single entry file holds it when `in_single_file`. `source_size` is the source's length
  // as its load read it; where that is not known, the file is asked when the block commits.
  void Converted(int icon, const std::string& source, std::optional<std::uint64_t> source_size,
                 std::uint32_t length, ContentHash hash, bool in_single_file);
  // The run found no source for `icon`: its entry is gone.
  void Dropped(int icon);
  // The icons first to last (a block, or what the layout commits together) as the files hold
  // them now. Entries the run carried over keep their sums; those without one (a library
  // that had no checksum file) are hashed as they are and counted as adopted. False when the
  // files could not be read back or do not hold what the run stored: the sums of the icons
  // the run converted are then still right, but their sources must be converted again.
  [[nodiscard]] bool Update(int first, int last);
  [[nodiscard]] Status Write();

  // Why the checksum file found at the start could not be used (it was damaged, and the run
  // writes it anew); nullopt when it could, or when there was none.
  const std::optional<Reason>& refused() const { return refused_; }
  // The file is there but could not be read at all: the run must not start, or it would
  // write the file anew from nothing.
  bool unreadable() const { return unreadable_; }
  // The offsets file's name leaves no room for ".sum": there is no checksum file to keep.
  bool nameless() const { return nameless_; }
  int adopted() const { return adopted_; }

 private:
  struct Conversion {
    std::string source;
    std::optional<std::uint64_t> source_size;
    std::uint32_t length;
    ContentHash hash;
    bool in_single_file;
  };
  bool UpdateBlockLayout(int first, int last);
  void UpdateSingleLayout(int first, int last);
  IconSum Carried(int icon, std::uint32_t length_now, std::optional<ContentHash> found);
  IconSum Fresh(int icon, const Conversion& conversion, ContentHash hash);

  StoreContext& store_;
  ChecksumFile sums_;
  std::unordered_map<int, Conversion> converted_;
  std::unordered_set<int> dropped_;
  std::optional<Reason> refused_;
  bool unreadable_ = false;
  bool nameless_ = false;
  bool incomplete_ = false;  // a sum of the icons in hand could not be made whole
  int adopted_ = 0;
};

}  // namespace zemlo
