#include "library/store/library_lock.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <string>

#include "core/status.h"
#include "files/file_helpers.h"

namespace zemlo {
namespace {

// The holder writes its process id in decimal; a reader may catch the file empty or being
// written, and then names no process.
constexpr std::size_t kProcessIdDigits = 24;

std::string HolderText(const std::string& lock_name) {
  std::array<std::uint8_t, kProcessIdDigits + 1> buffer{};
  const auto read = ReadWholeFile(lock_name.c_str(), buffer, kProcessIdDigits);
  if (!read || *read == 0) return {};
  unsigned long long process = 0;
  const char* begin = reinterpret_cast<const char*>(buffer.data());
  const auto [end, error] = std::from_chars(begin, begin + *read, process);
  if (error != std::errc() || end == begin || process == 0) return {};
  char text[48];
  std::snprintf(text, sizeof text, kLibraryBusyProcessFormat, process);
  return text;
}

}  // namespace

std::string LockFileNameOf(const char* offsets_name) {
  if (offsets_name == nullptr || offsets_name[0] == '\0') return kDefaultLockFileName;
  return std::string(offsets_name) + kLockFileSuffix;
}

LibraryLock::Outcome LibraryLock::Acquire(const char* offsets_name, StatusPort* port) {
  Release();
  const std::string name = LockFileNameOf(offsets_name);
  switch (lock_.Lock(name.c_str())) {
    case files::FileLock::Result::kLocked:
      lock_.WriteContent(std::to_string(files::ProcessId()) + "\n");
      return Outcome::kHeld;
    case files::FileLock::Result::kBusy:
      if (port != nullptr) {
        char text[kTextBufferSize];
        const bool named = offsets_name != nullptr && offsets_name[0] != '\0';
        std::snprintf(text, sizeof text, kLibraryBusyFormat,
                      named ? offsets_name : name.c_str(), HolderText(name).c_str());
        ShowWarning(*port, Owner::kMain, "%s", text);
      }
      return Outcome::kBusy;
    case files::FileLock::Result::kUnavailable:
      break;
  }
  return Outcome::kUnlockable;
}

void LibraryLock::Release() {
  if (!lock_.locked()) return;
  // Emptied while still held, so a finished run leaves the same file whoever ran it.
  lock_.WriteContent({});
  lock_.Unlock();
}

}  // namespace zemlo
