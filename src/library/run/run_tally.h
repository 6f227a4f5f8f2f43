// What a creation run or an integrity check did, counted by the run itself as it goes, so
// that a front end can sum a run up without reading it back from the titles (whose text is
// the window's and says nothing about how many icons were which).
#pragma once

#include <cstdint>

namespace zemlo {

struct RunTally {
  // The creation run, by what became of each icon's source.
  int converted = 0;
  int skipped = 0;
  int not_found = 0;
  // Bytes stored for the converted icons: each entry as it went into the library, packed
  // where the project packs it.
  std::int64_t stored_bytes = 0;

  // The integrity check, by what the offsets file and the block files say of each icon.
  int checked = 0;
  int intact = 0;       // an entry whose record and header raised no finding
  int damaged = 0;      // an entry with one or more findings
  int no_entry = 0;     // no record
  int long_blocks = 0;  // block files longer than their entries

  // The last icon the run finished (stored, or checked); -1 before the first.
  int last_icon = -1;
  // The library store failed and the run ended there (its warning was shown).
  bool store_failed = false;
};

}  // namespace zemlo
