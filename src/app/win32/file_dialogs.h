// The shared open and save dialogs. One dialog record and one pair of buffers serve every
// command; the buffers are never cleared, so each dialog opens with the file chosen last.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <cstddef>

namespace zemlo::win32 {

// Filter lists: (description, pattern) pairs, each zero-terminated, closed by an empty entry.
inline constexpr char kLibraryFilter[] =
    "ZEMLO Graphics Library (*.ZGL)\0*.zgl\0All Files (*.*)\0*.*\0";
inline constexpr char kPcxFilter[] = "PC Paintbrush (*.PCX)\0*.pcx\0";
inline constexpr char kFontFilter[] = "ZEMLO Font (*.FNT)\0*.fnt\0";

// The record size of the older dialog layout, which every Windows version accepts: the record
// up to and with the template name (OPENFILENAME_SIZE_VERSION_400A), 76 bytes in a 32-bit build.
inline constexpr DWORD kDialogRecordSize =
    offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(OPENFILENAMEA::lpTemplateName);
static_assert(sizeof(void*) != 4 || kDialogRecordSize == 76);

inline constexpr DWORD kOpenFlags = OFN_CREATEPROMPT | OFN_HIDEREADONLY;
inline constexpr DWORD kSaveFlags = OFN_OVERWRITEPROMPT;

class FileDialogs {
 public:
  explicit FileDialogs(HWND owner) : owner_(owner) {}

  // Fills the record afresh for `filter` and shows the dialog; true when a file was chosen.
  // The dialogs may change the current directory (no OFN_NOCHANGEDIR); the window enters a
  // project's folder itself after choosing it.
  bool Open(const char* filter);
  bool Save(const char* filter);

  // The chosen path (what files are opened with) and the chosen name (what messages show).
  const char* path() const { return path_; }
  const char* name() const { return name_; }
  const OPENFILENAMEA& record() const { return record_; }

  // Fills the record afresh for a dialog with `filter` and `flags`; Open and Save call it.
  void Prepare(const char* filter, DWORD flags);

 private:
  HWND owner_;
  OPENFILENAMEA record_{};
  char path_[260] = {};
  char name_[512] = {};
};

}  // namespace zemlo::win32
