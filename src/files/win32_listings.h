// What stands at a name on Windows, without asking the system again and again for names that
// are missing. Windows (and Wine) matches names ignoring case: Wine reads the whole folder for
// every name missing as written, and a run asks after several missing names per icon (its
// sources, stale entry files) in folders of hundreds of entries. Reading those folders took
// longer than converting the icons.
//
// After a few names found missing in a folder, its listing is read and kept. A name is then
// answered missing from the listing, while the folder keeps the times it had when read (any
// entry added, removed or renamed moves its last write time on), for kTrustSeconds at most,
// and until this process changes any entry through the file layer. A name the listing holds,
// and every name the listing cannot decide (a short name, a device, anything but plain
// letters, digits, '_', '-' and '.'), is asked of the system as before. So a kept listing can
// only be wrong about a file another program added within the same tick of the folder's clock
// as a change before the read, and only for kTrustSeconds; a folder that changed just before
// its read is not kept, so that such a tick has passed. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zemlo::files {

inline constexpr double kListingTrustSeconds = 1.0;
// Longer than a tick of the clock that stamps changes on the usual file systems.
inline constexpr double kListingSettleSeconds = 0.05;

// GetFileAttributesA, but a name missing from a kept listing of its folder gives
// INVALID_FILE_ATTRIBUTES with ERROR_FILE_NOT_FOUND as the last error without asking.
// Thread-safe.
DWORD AttributesOf(const char* name);

// Called after every change this process makes to a folder's entries, with the entry's name
// (a file or folder made or removed, both names of a rename; whether or not the call
// succeeded): no listing of its folder read before is used again. Keeps the last error.
void EntriesChanged(const char* name);

// Folder listings read so far by this process: how a test tells a kept listing from none.
std::uint64_t ListingsRead();

}  // namespace zemlo::files
