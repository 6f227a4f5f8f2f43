#include "library/store/library_lock.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
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

// Why the lock file cannot be locked, as the refusal says it.
std::string RefusalText(const files::FileLock& lock) {
  switch (lock.refusal()) {
    case files::FileLock::Refusal::kSymbolicLink:
      return kLockIsLinkReason;
    case files::FileLock::Refusal::kNotRegularFile:
      return kLockNotRegularReason;
    case files::FileLock::Refusal::kCannotLock:
    case files::FileLock::Refusal::kCannotOpen:
    case files::FileLock::Refusal::kNone:
      break;
  }
  std::string text = lock.refusal() == files::FileLock::Refusal::kCannotLock
                         ? kLockCannotLockReason
                         : kLockCannotOpenReason;
  if (!lock.system_reason().empty()) text += " (" + lock.system_reason() + ")";
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
  const bool named = offsets_name != nullptr && offsets_name[0] != '\0';
  const char* shown = named ? offsets_name : name.c_str();
  switch (lock_.Lock(name.c_str())) {
    case files::FileLock::Result::kLocked:
      // The lock is held whatever the file says: the id only helps a user find the holder.
      (void)lock_.WriteContent(std::to_string(files::ProcessId()) + "\n");
      return Outcome::kHeld;
    case files::FileLock::Result::kBusy:
      if (port != nullptr) {
        char text[kTextBufferSize];
        std::snprintf(text, sizeof text, kLibraryBusyFormat, shown, HolderText(name).c_str());
        ShowWarning(*port, Owner::kMain, "%s", text);
      }
      return Outcome::kBusy;
    case files::FileLock::Result::kUnavailable:
      break;
  }
  if (port != nullptr) {
    // Two names of up to 259 characters and the system's words: more than a warning's buffer.
    const std::string reason = RefusalText(lock_);
    std::string text(
        std::strlen(kLibraryUnlockableFormat) + std::strlen(shown) + name.size() + reason.size(),
        '\0');
    text.resize(static_cast<std::size_t>(std::snprintf(text.data(), text.size() + 1,
                                                       kLibraryUnlockableFormat, shown,
                                                       name.c_str(), reason.c_str())));
    port->ShowMessage(Owner::kMain, kClassName, text, MessageIcon::kWarning);
  }
  return Outcome::kUnlockable;
}

void LibraryLock::Release() {
  if (!lock_.locked()) return;
  // Emptied while still held, so a finished run leaves the same file whoever ran it.
  (void)lock_.WriteContent({});  // as when taken: the content never decides the lock
  lock_.Unlock();
}

}  // namespace zemlo
