// Faults and power cuts for the file layer, through its seam: fail the k-th call of one kind
// (a write, a read, a rename, ...), or cut the power at the k-th call that can change the
// disk and then "reboot", leaving of every file only what was flushed.
//
// The model of what survives a power cut, for the files under one folder:
// - a file's bytes are those it had at its last flush (FlushToDisk, FlushFilesToDisk); a file
//   created, or truncated and rewritten, since and never flushed is empty;
// - a folder's entries (creates, renames, removals) are those it had at its last folder flush,
//   plus some of the changes made since: with kInOrder all of them (a journal that keeps
//   metadata in order, as ext4 does), with kAnySubset a chosen subset of them (a file system
//   that does not: XFS without a folder flush, FAT media);
// - archive attributes, once cleared, stay cleared (the worst case: they are the commit).
// Only regular files are modelled; folders stay. Lock files (".lock") are left alone.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "files/file_seam.h"
#include "support/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zemlo::testing {

enum class Metadata { kInOrder, kAnySubset };

class PowerCut final : public files::FileObserver {
 public:
  // Takes every file under `root` as it is now as flushed, and starts observing.
  explicit PowerCut(std::filesystem::path root) : root_(std::move(root)) {
    Snapshot();
    files::SetFileObserver(this);
  }
  ~PowerCut() override { files::SetFileObserver(nullptr); }
  PowerCut(const PowerCut&) = delete;
  PowerCut& operator=(const PowerCut&) = delete;

  // The k-th call (from 1) of `op` fails, once.
  void FailAt(files::FileOp op, int k) {
    std::lock_guard lock(mutex_);
    fail_op_ = op;
    fail_at_ = k;
  }
  // The power goes at the k-th call (from 1) that can change the disk: that call and every
  // later one fails, as if the process had died there.
  void CutAt(int k) {
    std::lock_guard lock(mutex_);
    cut_at_ = k;
  }

  int Count(files::FileOp op) const {
    std::lock_guard lock(mutex_);
    const auto found = counts_.find(op);
    return found == counts_.end() ? 0 : found->second;
  }
  // Calls so far that can change the disk: the places where the power can go.
  int ChangingCalls() const {
    std::lock_guard lock(mutex_);
    return changing_;
  }
  bool cut() const {
    std::lock_guard lock(mutex_);
    return dead_;
  }

  // Makes the folder what the disk would hold after the power came back: unflushed bytes
  // gone, folder changes since the last folder flush kept as `metadata` says (`keep` tells,
  // for kAnySubset, whether the i-th of them survives). Observing stops.
  void Reboot(Metadata metadata, const std::function<bool(int)>& keep = {}) {
    files::SetFileObserver(nullptr);
    std::lock_guard lock(mutex_);
    std::map<std::string, int> names = durable_names_;
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      if (metadata == Metadata::kAnySubset && !(keep && keep(static_cast<int>(i)))) continue;
      const FolderChange& change = pending_[i];
      if (change.id) {
        names[change.name] = *change.id;
      } else {
        names.erase(change.name);
      }
    }
    // Files that should not be there go; the others get their flushed bytes.
    for (const auto& [key, path] : FilesNow()) {
      if (!names.count(key)) std::filesystem::remove(path);
    }
    for (const auto& [key, id] : names) {
      const std::filesystem::path path = paths_.at(key);
      const auto& bytes = durable_[id];
      std::error_code error;
      if (std::filesystem::exists(path, error) && ReadFileBytes(path) == bytes) continue;
      WriteFileBytes(path, bytes);
    }
  }

  // Folder changes made since the last folder flush: how many a subset can choose from.
  int PendingFolderChanges() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(pending_.size());
  }

  // The calls so far that could change the disk, for a failure's message.
  std::string Trace() const {
    std::lock_guard lock(mutex_);
    std::string out;
    for (const auto& line : trace_) out += "\n  " + line;
    return out;
  }

  bool Allow(files::FileOp op, const std::string& path, std::FILE*) override {
    std::lock_guard lock(mutex_);
    const int n = ++counts_[op];
    if (dead_) return false;
    if (Changes(op)) {
      trace_.push_back(std::to_string(changing_ + 1) + " " + kOpNames[static_cast<int>(op)] + " " +
                       path);
    }
    if (Changes(op) && ++changing_ == cut_at_) {
      dead_ = true;
      trace_.back() += " <- the power goes";
      return false;
    }
    if (op == fail_op_ && n == fail_at_) return false;
    return true;
  }

  void Done(files::FileOp op, const std::string& path, const std::string& to,
            std::FILE* stream) override {
    using files::FileOp;
    std::lock_guard lock(mutex_);
    switch (op) {
      case FileOp::kOpen:
        if (to.find_first_of("wa+") != std::string::npos) {
          mode_truncates_ = to[0] == 'w';
          Opened(Key(path), stream);
        }
        break;
      case FileOp::kFlush:
        if (const auto found = streams_.find(stream); found != streams_.end()) {
          Flushed(found->second);
        }
        break;
      case FileOp::kFlushFile:
        if (const auto found = names_.find(Key(path)); found != names_.end()) {
          Flushed(found->second);
        }
        break;
      case FileOp::kClose:
        streams_.erase(stream);
        break;
      case FileOp::kRename:
      case FileOp::kReplace:
        Moved(Key(path), Key(to));
        break;
      case FileOp::kRemove:
        Bind(Key(path), std::nullopt);
        break;
      case FileOp::kFolderFlush:
        FolderFlushed(Parent(Key(path)));
        break;
      default:
        break;
    }
  }

 private:
  // One entry of a folder changed: the name now stands for the file `id`, or for nothing. A
  // move is two changes, one in each folder, which a file system may keep one without the
  // other unless both folders were flushed.
  struct FolderChange {
    std::string name;
    std::optional<int> id;
  };

  static constexpr const char* kOpNames[] = {
      "open",   "read",    "write",  "flush",        "flush file",  "close",
      "rename", "replace", "remove", "folder flush", "make folder", "clear archive"};

  static bool Changes(files::FileOp op) {
    return op != files::FileOp::kRead && op != files::FileOp::kClose;
  }

  std::string Key(const std::string& name) const {
    std::filesystem::path path(name);
    if (path.is_relative()) path = std::filesystem::current_path() / path;
    std::string key = path.lexically_normal().generic_string();
#ifdef _WIN32
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#endif
    if (!paths_.count(key)) paths_[key] = path.lexically_normal();
    return key;
  }
  static std::string Parent(const std::string& key) {
    const auto cut = key.find_last_of('/');
    return cut == std::string::npos ? std::string() : key.substr(0, cut);
  }
  bool Inside(const std::string& key) const {
    const std::string root = Root();
    return key.size() > root.size() && key.compare(0, root.size(), root) == 0 &&
           key[root.size()] == '/' && !key.ends_with(".lock");
  }
  std::string Root() const {
    std::string key = root_.lexically_normal().generic_string();
#ifdef _WIN32
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#endif
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    return key;
  }

  std::map<std::string, std::filesystem::path> FilesNow() {
    std::map<std::string, std::filesystem::path> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
      if (!entry.is_regular_file() || entry.is_symlink()) continue;
      const std::string key = Key(entry.path().string());
      if (Inside(key)) found[key] = entry.path();
    }
    return found;
  }

  void Snapshot() {
    for (const auto& [key, path] : FilesNow()) {
      const int id = next_id_++;
      names_[key] = id;
      durable_[id] = ReadFileBytes(path);
    }
    durable_names_ = names_;
  }

  void Opened(const std::string& key, std::FILE* stream) {
    if (!Inside(key)) return;
    auto found = names_.find(key);
    if (found == names_.end()) {
      const int id = next_id_++;
      durable_[id] = {};  // nothing of a new file is on the disk before its flush
      Bind(key, id);
      found = names_.find(key);
    } else if (mode_truncates_) {
      // The worst a journal does to a file truncated and rewritten without a flush.
      durable_[found->second] = {};
    }
    streams_[stream] = found->second;
  }

  // The bytes of a file the run may hold open. On Windows a replacement is held with the right
  // to move it, which an open must share to be let in (the C library's opens do not).
  static std::vector<std::uint8_t> ReadHeldFile(const std::filesystem::path& path) {
#if defined(_WIN32)
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[1 << 16];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      bytes.insert(bytes.end(), buffer, buffer + got);
    }
    CloseHandle(file);
    return bytes;
#else
    return ReadFileBytes(path);
#endif
  }

  void Flushed(int id) {
    for (const auto& [key, file] : names_) {
      if (file == id) {
        durable_[id] = ReadHeldFile(paths_.at(key));
        return;
      }
    }
  }

  void Bind(const std::string& key, std::optional<int> id) {
    if (!Inside(key)) return;
    if (id) {
      names_[key] = *id;
    } else {
      names_.erase(key);
    }
    pending_.push_back({key, id});
  }

  void Moved(const std::string& from, const std::string& to) {
    const auto found = names_.find(from);
    if (found == names_.end()) return;  // not one of the folder's files
    const int id = found->second;
    Bind(from, std::nullopt);
    Bind(to, id);
  }

  void FolderFlushed(const std::string& folder) {
    for (auto it = durable_names_.begin(); it != durable_names_.end();) {
      it = Parent(it->first) == folder ? durable_names_.erase(it) : std::next(it);
    }
    for (const auto& [key, id] : names_) {
      if (Parent(key) == folder) durable_names_[key] = id;
    }
    std::erase_if(pending_, [&](const FolderChange& c) { return Parent(c.name) == folder; });
  }

  const std::filesystem::path root_;
  mutable std::mutex mutex_;
  std::map<files::FileOp, int> counts_;
  int changing_ = 0;
  std::optional<files::FileOp> fail_op_;
  int fail_at_ = 0;
  int cut_at_ = 0;
  bool dead_ = false;
  bool mode_truncates_ = false;
  int next_id_ = 1;
  std::map<std::string, int> names_;                  // the folder now: file -> its bytes' id
  std::map<std::string, int> durable_names_;          // as the last folder flushes left it
  std::vector<FolderChange> pending_;                 // folder changes since those flushes
  std::map<int, std::vector<std::uint8_t>> durable_;  // each file's flushed bytes
  std::map<std::FILE*, int> streams_;
  mutable std::map<std::string, std::filesystem::path> paths_;
  std::vector<std::string> trace_;
};

}  // namespace zemlo::testing
