// What stands at a name on Windows, without asking the system again and again for names that
// are missing. Windows (and Wine) matches names ignoring case: Wine reads the whole folder for
// every name missing as written, and a run asks after several missing names per icon (its
// sources, stale entry files) in folders of hundreds of entries. Reading those folders took
// longer than converting the icons.
//
// After a few names found missing in a folder (looked up or opened), its listing is read and
// kept. A name is then answered missing from the listing while the folder keeps the times it
// had when read (any entry added, removed or renamed moves its last write time on), for
// kListingTrustSeconds at most, and until this process changes an entry of that folder
// through the file layer. A name the listing holds, and every name the listing cannot decide
// (a short name, a device, anything but plain letters, digits, '_', '-' and '.'), is asked of
// the system as before. So a kept listing can only be wrong about a file another program
// added within the same tick of the folder's clock as a change before the read, and only for
// kListingTrustSeconds; a small folder that changed just before its read is not kept, as that
// is where a person adds a file by hand right after a lookup. A name in a missing folder is
// answered as the system does without looking the folder up a second time. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

namespace zemlo::files {

inline constexpr double kListingTrustSeconds = 1.0;
// Longer than a tick of the clock that stamps changes on the usual file systems.
inline constexpr double kListingSettleSeconds = 0.05;

// GetFileAttributesA, but a name missing from a kept listing of its folder gives
// INVALID_FILE_ATTRIBUTES with ERROR_FILE_NOT_FOUND as the last error without asking, and one
// in a missing folder ERROR_PATH_NOT_FOUND. Thread-safe.
DWORD AttributesOf(const char* name);

// For a file about to be opened as it is: the error the system would give (ERROR_FILE_NOT_FOUND
// or ERROR_PATH_NOT_FOUND) when a kept listing of its folder lacks the name or the folder
// is missing; none when the system is to be asked. Thread-safe.
std::optional<DWORD> ListedMissing(const char* name);

// The system just found `name` missing (an open that failed): counted like a missing name
// AttributesOf found, toward keeping its folder's listing. Keeps the last error.
void FoundMissing(const char* name);

// Called after every change this process makes to a folder's entries, with the entry's name
// (a file or folder made or removed, both names of a rename; whether or not the call
// succeeded): no listing of its folder read before is used again. Keeps the last error.
void EntriesChanged(const char* name);

// Folder listings read so far by this process: how a test tells a kept listing from none.
std::uint64_t ListingsRead();

}  // namespace zemlo::files
