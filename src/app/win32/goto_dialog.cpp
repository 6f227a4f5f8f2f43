#include "app/win32/goto_dialog.h"

#include <commctrl.h>

#include "app/win32/resource.h"

namespace zemlo::win32 {
namespace {

struct GotoRequest {
  int start;
  int chosen;
};

INT_PTR CALLBACK GotoProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lparam);
      const auto* request = reinterpret_cast<const GotoRequest*>(lparam);
      SendDlgItemMessageA(dialog, IDC_GOTO_SPIN, UDM_SETRANGE32, kGotoMinimum, kGotoMaximum);
      SendDlgItemMessageA(dialog, IDC_GOTO_SPIN, UDM_SETPOS32, 0,
                          static_cast<LPARAM>(request->start));
      return TRUE;  // the platform gives the default focus
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        auto* request = reinterpret_cast<GotoRequest*>(GetWindowLongPtrA(dialog, DWLP_USER));
        // The up-down control reads its buddy field first, so a typed number counts. A typed
        // number it refuses (beyond the range) is taken from the field and held to the range
        // rather than silently replaced by the old position.
        BOOL failed = FALSE;
        LRESULT position = SendDlgItemMessageA(dialog, IDC_GOTO_SPIN, UDM_GETPOS32, 0,
                                               reinterpret_cast<LPARAM>(&failed));
        if (failed) {
          BOOL read = FALSE;
          const UINT typed = GetDlgItemInt(dialog, IDC_GOTO_NUMBER, &read, FALSE);
          if (read) position = typed > static_cast<UINT>(kGotoMaximum) ? kGotoMaximum : typed;
        }
        request->chosen = static_cast<int>(position);
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

int ShowGotoDialog(HINSTANCE instance, HWND owner, int start) {
  GotoRequest request{start, start};
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_GOTO_ICON), owner, GotoProc,
                  reinterpret_cast<LPARAM>(&request));
  return request.chosen;
}

}  // namespace zemlo::win32
