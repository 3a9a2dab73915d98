// The About box (dialog 100), opened from the Main window's system menu. It only shows texts; its
// OK button, Enter and Esc close it through the dialog defaults.
#pragma once

#include "dlgkit/dlgkit.h"

class CAboutDlg : public dlgkit::CDialogBase {
 public:
  explicit CAboutDlg(HWND parent = nullptr);
};
