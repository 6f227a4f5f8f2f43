#include "files/win32_listings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "core/mutex.h"
#include "core/thread_annotations.h"
#include "files/file_names.h"
#include "files/win32_problems.h"

namespace zemlo::files {
namespace {

// Names found missing in a folder, with no change between them, before its listing is read:
// reading costs Wine a look at every entry, more than one missing name does, so a folder
// asked after once or twice is not read at all.
constexpr int kMissesBeforeListing = 4;
// Folders whose listings are kept at once; a run uses a handful (sources of three kinds, the
// output folders), and the one read longest ago makes room.
constexpr std::size_t kKeptFolders = 16;
// Folders of fewer entries than this are kept only once they have settled
// (kListingSettleSeconds): there a person or a test adds a file by hand right after a
// lookup, and such a folder is soon read again. A large one is read at most once a second.
constexpr std::size_t kSmallFolderEntries = 64;
// Folders whose changes are counted; past that, a change spoils every listing.
constexpr std::size_t kChangedFoldersKept = 256;

using Clock = std::chrono::steady_clock;

std::atomic<std::uint64_t> listings_read{0};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string LowerName(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = FoldCase(c);
  return lower;
}

// A device keeps its name in every folder and with any extension ("out\NUL.pcx").
bool IsDeviceName(std::string_view leaf) {
  const std::string stem = LowerName(leaf.substr(0, leaf.find('.')));
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
  return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
         stem[3] >= '0' && stem[3] <= '9';
}

// A last part of a name that only an entry of the same letters, ignoring case, can stand
// at. Anything else goes to the system: "~" may name an entry by its short name, a trailing
// dot or space is dropped by the system, and other characters (":" of a stream, wildcards,
// letters beyond ASCII, whose case the system folds by its own table) are not ours to match.
bool IsPlainLeaf(std::string_view leaf) {
  if (leaf.empty() || leaf.back() == '.' || IsDeviceName(leaf)) return false;
  return std::all_of(leaf.begin(), leaf.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
  });
}

// The folder part may name a drive ("C:\...") but no stream or wildcard, nor a short name:
// a folder is kept under one name, and changes to it are known by that name.
bool IsPlainFolder(std::string_view folder) {
  for (std::size_t i = 0; i < folder.size(); ++i) {
    const char c = folder[i];
    if (c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|' || c == '~') {
      return false;
    }
    if (c == ':' && !(i == 1 && folder.size() > 2 && IsSeparator(folder[2]))) return false;
  }
  return true;
}

struct FolderTimes {
  FILETIME created{};
  FILETIME written{};

  bool operator==(const FolderTimes& other) const {
    return CompareFileTime(&created, &other.created) == 0 &&
           CompareFileTime(&written, &other.written) == 0;
  }
};

std::uint64_t Ticks(const FILETIME& t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// The wall clock, as the file system stamps changes with it.
std::uint64_t Now() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

// The folder changed so lately before `read_at` (Now()) that another change within the same
// tick of the file system's clock would leave its times as they are.
bool Unsettled(const FolderTimes& times, std::uint64_t read_at) {
  const auto settle = static_cast<std::uint64_t>(kListingSettleSeconds * 1e7);  // 100 ns ticks
  return Ticks(times.written) + settle > read_at;
}

// This process's changes to entries, as far as a listing read before them is concerned: the
// changes in its folder, and those whose folder could not be told.
struct ChangeStamp {
  std::uint64_t unplaced = 0;
  std::uint64_t folder = 0;

  bool operator==(const ChangeStamp&) const = default;
};

struct Listing {
  FolderTimes times;
  ChangeStamp change;  // when it was read
  Clock::time_point read_at;
  std::unordered_set<std::string> names;  // long and short names, lower-cased
  // False when an entry's name goes beyond ASCII: the system's case folding may match it to
  // a plain name, so no name is answered missing from it.
  bool usable = true;
};

// Missing names in a folder since it last changed.
struct Misses {
  FolderTimes times;
  ChangeStamp change;
  int count = 0;
};

// Where a name's folder is, and its last part.
struct NameParts {
  std::string listing_pattern;  // the folder's entries: "folder\*"
  std::string folder;           // the folder itself, as GetFileAttributesEx takes it
  std::string leaf;
};

// Strings filled in place: GCC 12 warns of overlaps in the usual appends and assignments.
void Assign(std::string& to, std::string_view from) {
  to.assign(from.size(), ' ');
  std::copy(from.begin(), from.end(), to.begin());
}

// The part of `whole` up to and with its last separator.
std::string_view PrefixOf(std::string_view whole) {
  const std::size_t cut = whole.find_last_of("\\/");
  return cut == std::string_view::npos ? std::string_view() : whole.substr(0, cut + 1);
}

// "out\" as "out"; a root ("\", "C:\") keeps its separator; none is the current folder.
std::string_view FolderOfPrefix(std::string_view prefix) {
  std::string_view folder = prefix.empty() ? std::string_view(".") : prefix;
  if (folder.size() > 1 && !(folder.size() == 3 && folder[1] == ':')) folder.remove_suffix(1);
  return folder;
}

bool Split(const char* name, NameParts& parts) {
  const std::string_view whole(name);
  const std::string_view prefix = PrefixOf(whole);
  Assign(parts.leaf, whole.substr(prefix.size()));
  if (!IsPlainLeaf(parts.leaf) || !IsPlainFolder(prefix)) return false;
  parts.listing_pattern.assign(prefix.size() + 1, '*');
  std::copy(prefix.begin(), prefix.end(), parts.listing_pattern.begin());
  Assign(parts.folder, FolderOfPrefix(prefix));
  return true;
}

// The folder's own name, whatever the current folder: the key a listing is kept under.
std::string FullName(const std::string& folder) {
  char full[MAX_PATH * 2];
  const DWORD length = GetFullPathNameA(folder.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return {};
  return LowerName(std::string_view(full, length));
}

// What a lookup learned of a name's folder on its way to the system.
struct Look {
  NameParts parts;
  FolderTimes times;
  std::string key;  // empty: no listing of the folder may be kept
  ChangeStamp change;
};

// Names are read as the system keeps them (UTF-16): through the code page, a character it has
// none for comes out as "?" or as a look-alike ASCII letter, and the listing would hold a name
// that is not there, or lack one that is.
bool ReadListing(const std::string& pattern, Listing& listing) {
  const std::wstring wide_pattern = SystemName(pattern.c_str());
  if (wide_pattern.empty()) return false;
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileExW(wide_pattern.c_str(), FindExInfoStandard, &entry,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return false;
  listings_read.fetch_add(1, std::memory_order_relaxed);
  const auto add = [&listing](const wchar_t* text) {
    std::string name;
    for (; *text != L'\0'; ++text) {
      // Beyond ASCII the system folds case by its own table, which may match a plain name.
      if (*text >= 0x80) {
        listing.usable = false;
        return;
      }
      name.push_back(FoldCase(static_cast<char>(*text)));
    }
    if (!name.empty()) listing.names.insert(std::move(name));
  };
  do {
    add(entry.cFileName);
    add(entry.cAlternateFileName);
  } while (FindNextFileW(find, &entry));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(find);
  return complete;
}

class Listings {
 public:
  static Listings& Instance() {
    static Listings listings;
    return listings;
  }

  // The error the system would give for `name` when it is known to be missing: its folder
  // is missing, or a kept listing of it lacks the name. Otherwise none, and `look` tells
  // where to count the name should the system find it missing (empty where no listing may
  // be kept for it).
  std::optional<DWORD> KnownMissing(const char* name, Look& look) EXCLUDES(mutex_) {
    if (!Split(name, look.parts)) return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA folder{};
    if (!GetFileAttributesExA(look.parts.folder.c_str(), GetFileExInfoStandard, &folder)) {
      const DWORD error = GetLastError();
      // What the system says of a name in a missing folder, without looking for the folder
      // a second time.
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return ERROR_PATH_NOT_FOUND;
      }
      return std::nullopt;
    }
    // A linked folder's own times say nothing of its target's entries.
    if ((folder.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (folder.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return std::nullopt;
    }
    look.times = {folder.ftCreationTime, folder.ftLastWriteTime};
    look.key = FullName(look.parts.folder);
    if (look.key.empty()) return std::nullopt;
    MutexLock lock(mutex_);
    look.change = StampOf(look.key);
    if (const Listing* listing = Current(look.key, look.times, look.change);
        listing != nullptr && listing->names.count(LowerName(look.parts.leaf)) == 0) {
      return ERROR_FILE_NOT_FOUND;
    }
    return std::nullopt;
  }

  // The system found the name of `look` missing.
  void FoundMissing(const Look& look) EXCLUDES(mutex_) {
    if (!look.key.empty() && Missed(look.key, look.times, look.change)) {
      Read(look.key, look.parts.listing_pattern, look.times, look.change);
    }
  }

  void Changed(const char* name) EXCLUDES(mutex_) {
    std::string_view whole(name == nullptr ? "" : name);
    while (!whole.empty() && IsSeparator(whole.back())) whole.remove_suffix(1);
    const std::string_view prefix = PrefixOf(whole);
    std::string folder;
    Assign(folder, FolderOfPrefix(prefix));
    const std::string key =
        whole.empty() || !IsPlainFolder(prefix) ? std::string() : FullName(folder);
    MutexLock lock(mutex_);
    if (key.empty() || folder_changes_.size() >= kChangedFoldersKept) {
      // Every listing is spoiled rather than one missed.
      ++unplaced_changes_;
      folder_changes_.clear();
      kept_.clear();
      misses_.clear();
      if (key.empty()) return;
    }
    ++folder_changes_[key];
    kept_.erase(key);
    misses_.erase(key);
  }

 private:
  ChangeStamp StampOf(const std::string& key) REQUIRES(mutex_) {
    const auto it = folder_changes_.find(key);
    return {unplaced_changes_, it == folder_changes_.end() ? 0 : it->second};
  }

  // The kept listing of the folder, when it still describes it.
  const Listing* Current(const std::string& key, const FolderTimes& times,
                         const ChangeStamp& change) REQUIRES(mutex_) {
    const auto it = kept_.find(key);
    if (it == kept_.end()) return nullptr;
    const Listing& listing = it->second;
    if (listing.times != times || listing.change != change ||
        Clock::now() - listing.read_at > std::chrono::duration<double>(kListingTrustSeconds)) {
      kept_.erase(it);
      return nullptr;
    }
    // One that cannot be used is still kept: the folder is not read again while it lasts.
    return listing.usable ? &listing : nullptr;
  }

  // Counts a missing name; true once enough were missing for the listing to be worth reading.
  bool Missed(const std::string& key, const FolderTimes& times, const ChangeStamp& change)
      EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    if (kept_.count(key) != 0) return false;  // kept, only unusable
    Misses& misses = misses_[key];
    if (misses.times != times || misses.change != change) misses = {times, change, 0};
    if (++misses.count < kMissesBeforeListing) return false;
    misses_.erase(key);
    return true;
  }

  // Read outside the lock: other threads' lookups go on meanwhile. A change during the read
  // moves the folder's times or its change stamp on, so a listing it spoiled is never used.
  void Read(const std::string& key, const std::string& pattern, const FolderTimes& times,
            const ChangeStamp& change) EXCLUDES(mutex_) {
    Listing listing;
    listing.times = times;
    listing.change = change;
    listing.read_at = Clock::now();
    const std::uint64_t read_at = Now();
    if (!ReadListing(pattern, listing)) return;
    if (listing.names.size() < kSmallFolderEntries && Unsettled(times, read_at)) return;
    MutexLock lock(mutex_);
    if (kept_.size() >= kKeptFolders && kept_.count(key) == 0) {
      auto oldest = kept_.begin();
      for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        if (it->second.read_at < oldest->second.read_at) oldest = it;
      }
      kept_.erase(oldest);
    }
    kept_[key] = std::move(listing);
    if (misses_.size() > kKeptFolders) misses_.clear();
  }

  // Lookups come from the run's worker and its helpers alike.
  Mutex mutex_;
  std::map<std::string, Listing> kept_ GUARDED_BY(mutex_);
  std::map<std::string, Misses> misses_ GUARDED_BY(mutex_);
  // Changes made through the file layer, per folder, and those of no folder told.
  std::map<std::string, std::uint64_t> folder_changes_ GUARDED_BY(mutex_);
  std::uint64_t unplaced_changes_ GUARDED_BY(mutex_) = 0;
};

}  // namespace

DWORD AttributesOf(const char* name) {
  if (name == nullptr || name[0] == '\0') {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_FILE_ATTRIBUTES;
  }
  Listings& listings = Listings::Instance();
  Look look;
  if (const std::optional<DWORD> missing = listings.KnownMissing(name, look)) {
    SetLastError(*missing);
    return INVALID_FILE_ATTRIBUTES;
  }
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) listings.FoundMissing(look);
    SetLastError(error);
  }
  return attributes;
}

std::optional<DWORD> ListedMissing(const char* name) {
  if (name == nullptr || name[0] == '\0') return std::nullopt;
  Look look;
  return Listings::Instance().KnownMissing(name, look);
}

void FoundMissing(const char* name) {
  const DWORD error = GetLastError();
  Listings& listings = Listings::Instance();
  Look look;
  if (name != nullptr && name[0] != '\0' && !listings.KnownMissing(name, look)) {
    listings.FoundMissing(look);
  }
  SetLastError(error);
}

void EntriesChanged(const char* name) {
  const DWORD error = GetLastError();
  Listings::Instance().Changed(name);
  SetLastError(error);
}

std::uint64_t ListingsRead() { return listings_read.load(std::memory_order_relaxed); }

}  // namespace zemlo::files
