#include "app/win32/file_dialogs.h"

namespace zemlo::win32 {
namespace {

// Both buffers are larger; the dialogs are told 255 characters and the terminating zero.
constexpr DWORD kChosenTextLimit = 256;

}  // namespace

void FileDialogs::Prepare(const char* filter, DWORD flags) {
  record_ = OPENFILENAMEA{};
  record_.lStructSize = kDialogRecordSize;
  record_.hwndOwner = owner_;
  record_.hInstance = nullptr;
  record_.lpstrFilter = filter;
  record_.lpstrCustomFilter = nullptr;
  record_.nFilterIndex = 0;  // the first filter is preselected
  record_.lpstrFile = path_;
  record_.nMaxFile = kChosenTextLimit;
  record_.lpstrFileTitle = name_;
  record_.nMaxFileTitle = kChosenTextLimit;
  record_.lpstrInitialDir = nullptr;
  record_.lpstrTitle = nullptr;
  record_.Flags = flags;
  record_.nFileOffset = 0;
  record_.nFileExtension = 0;
  record_.lpstrDefExt = "dat";
}

bool FileDialogs::Open(const char* filter) {
  Prepare(filter, kOpenFlags);
  return GetOpenFileNameA(&record_) != FALSE;
}

bool FileDialogs::Save(const char* filter) {
  Prepare(filter, kSaveFlags);
  return GetSaveFileNameA(&record_) != FALSE;
}

}  // namespace zemlo::win32
