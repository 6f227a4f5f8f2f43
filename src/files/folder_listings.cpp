#include "files/folder_listings.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "core/mutex.h"
#include "core/thread_annotations.h"
#include "files/file_names.h"

namespace zemlo::files {
namespace {

// Folders whose listings are kept at once; a run uses a handful (sources of three kinds, the
// output folders), and the one read longest ago makes room.
constexpr std::size_t kKeptFolders = 32;
// Folders of fewer entries than this are kept only once they have settled (kSettleSeconds).
constexpr std::size_t kSmallFolderEntries = 64;

using Clock = std::chrono::steady_clock;

std::atomic<std::uint64_t> listings_read{0};

struct FolderTimes {
  dev_t device = 0;
  ino_t inode = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;

  bool operator==(const FolderTimes&) const = default;
  std::pair<dev_t, ino_t> Key() const { return {device, inode}; }
};

std::int64_t Nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool TimesOf(const struct stat& st, FolderTimes& times) {
  if (!S_ISDIR(st.st_mode)) return false;
  times = {st.st_dev, st.st_ino, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
  return true;
}

bool TimesOf(const std::string& folder, FolderTimes& times) {
  struct stat st;
  return ::stat(folder.empty() ? "." : folder.c_str(), &st) == 0 && TimesOf(st, times);
}

// The wall clock, as the file system stamps changes with it.
std::int64_t WallNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return Nanoseconds(now);
}

// The folder changed so lately before `read_ns` that another change within the same tick of
// the file system's clock would leave its times as they are.
bool Unsettled(const FolderTimes& times, std::int64_t read_ns) {
  const auto settle = static_cast<std::int64_t>(kSettleSeconds * 1e9);
  return std::max(times.modified_ns, times.changed_ns) > read_ns - settle;
}

std::string Lower(const std::string& name) {
  std::string lower(name);
  for (char& c : lower) c = FoldCase(c);
  return lower;
}

struct Listing {
  FolderTimes times;
  Clock::time_point read_at;
  // Lower-cased name -> the entries that match it (never none); the first is the one chosen.
  std::map<std::string, std::set<std::string>> names;
  std::size_t entries = 0;

  NameMatch Match(const std::string& name) const {
    NameMatch match;
    const auto it = names.find(Lower(name));
    if (it == names.end()) return match;
    match.exact = it->second.count(name) != 0;
    match.smallest = *it->second.begin();
    return match;
  }
};

// The file system's state, cached: a process-wide cache like the system's own name cache, so
// no caller holds it, and every thread that resolves names shares it.
class Listings {
 public:
  static Listings& Instance() {
    static Listings listings;
    return listings;
  }

  NameMatch Match(const std::string& folder, const FolderTimes& times, const std::string& name) {
    {
      MutexLock lock(mutex_);
      if (const Listing* listing = Current(times)) return listing->Match(name);
    }
    // Read outside the lock: other threads' lookups in other folders go on meanwhile. A
    // change during the read moves the folder's times on, so a listing it spoiled is never
    // matched again.
    Listing listing;
    listing.times = times;
    listing.read_at = Clock::now();
    const std::int64_t read_ns = WallNanoseconds();
    if (!Read(folder, listing)) return {};
    NameMatch match = listing.Match(name);
    if (listing.entries >= kSmallFolderEntries || !Unsettled(times, read_ns)) {
      MutexLock lock(mutex_);
      Keep(std::move(listing));
    }
    return match;
  }

  bool Change(std::initializer_list<ChangedEntry> entries, const std::function<bool()>& change) {
    // The folders concerned whose kept listings still describe them, with their times before
    // the change. The change itself runs outside the lock: lookups go on meanwhile.
    std::vector<std::pair<std::string, FolderTimes>> before;
    {
      MutexLock lock(mutex_);
      std::vector<std::string> looked;  // a rename within one folder names it twice
      for (const ChangedEntry& entry : entries) {
        std::string folder = FolderOf(*entry.path);
        if (std::find(looked.begin(), looked.end(), folder) != looked.end()) continue;
        looked.push_back(folder);
        FolderTimes times;
        if (!FolderTimesBefore(entries, folder, times)) continue;
        if (Current(times) == nullptr) {
          kept_.erase(times.Key());
        } else {
          before.emplace_back(std::move(folder), times);
        }
      }
    }
    const bool result = change();
    MutexLock lock(mutex_);
    for (const auto& [folder, was] : before) {
      const auto it = kept_.find(was.Key());
      if (it == kept_.end()) continue;
      FolderTimes now;
      // A listing another change moved on in the meantime is not known to hold ours.
      if (it->second.times != was || !TimesOf(folder, now) || now.Key() != was.Key()) {
        kept_.erase(it);
        continue;
      }
      for (const ChangedEntry& changed : entries) {
        if (FolderOf(*changed.path) != folder) continue;
        const std::string entry = NameOf(*changed.path);
        const std::string lower = Lower(entry);
        if (There(changed, result)) {
          it->second.names[lower].insert(entry);
        } else if (const auto match = it->second.names.find(lower);
                   match != it->second.names.end()) {
          match->second.erase(entry);
          if (match->second.empty()) it->second.names.erase(match);
        }
      }
      it->second.times = now;
    }
    return result;
  }

 private:
  // The times of `folder` before a change of `entries`: as a caller saw them a moment ago,
  // else as they are.
  static bool FolderTimesBefore(std::initializer_list<ChangedEntry> entries,
                                const std::string& folder, FolderTimes& times) {
    for (const ChangedEntry& entry : entries) {
      if (entry.folder != nullptr && FolderOf(*entry.path) == folder) {
        return TimesOf(*entry.folder, times);
      }
    }
    return TimesOf(folder, times);
  }

  // Something stands at the entry's name after the change that gave `result`.
  static bool There(const ChangedEntry& entry, bool result) {
    if (result && entry.after != ChangedEntry::After::kLook) {
      return entry.after == ChangedEntry::After::kThere;
    }
    struct stat st;
    return ::lstat(entry.path->c_str(), &st) == 0;
  }

  // The kept listing that still describes a folder of these times.
  Listing* Current(const FolderTimes& times) REQUIRES(mutex_) {
    const auto it = kept_.find(times.Key());
    if (it == kept_.end()) return nullptr;
    Listing& listing = it->second;
    if (listing.times != times ||
        Clock::now() - listing.read_at > std::chrono::duration<double>(kTrustSeconds)) {
      kept_.erase(it);
      return nullptr;
    }
    return &listing;
  }

  void Keep(Listing&& listing) REQUIRES(mutex_) {
    if (kept_.size() >= kKeptFolders && kept_.count(listing.times.Key()) == 0) {
      auto oldest = kept_.begin();
      for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        if (it->second.read_at < oldest->second.read_at) oldest = it;
      }
      kept_.erase(oldest);
    }
    kept_[listing.times.Key()] = std::move(listing);
  }

  static bool Read(const std::string& folder, Listing& listing) {
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (d == nullptr) return false;
    listings_read.fetch_add(1, std::memory_order_relaxed);
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      listing.names[Lower(name)].insert(name);
      ++listing.entries;
    }
    ::closedir(d);
    return true;
  }

  static std::string FolderOf(const std::string& path) {
    const auto cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  }
  static std::string NameOf(const std::string& path) {
    const auto cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
  }

  // Lookups and changes come from the run's worker and its helpers alike.
  Mutex mutex_;
  std::map<std::pair<dev_t, ino_t>, Listing> kept_ GUARDED_BY(mutex_);
};

}  // namespace

std::uint64_t FolderListingsRead() { return listings_read.load(std::memory_order_relaxed); }

NameMatch MatchName(const std::string& folder, const struct stat& folder_st,
                    const std::string& name) {
  FolderTimes times;
  if (!TimesOf(folder_st, times)) return {};
  return Listings::Instance().Match(folder, times, name);
}

bool ChangeEntries(std::initializer_list<ChangedEntry> entries,
                   const std::function<bool()>& change) {
  return Listings::Instance().Change(entries, change);
}

}  // namespace zemlo::files
