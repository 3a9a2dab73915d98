// The About box (dialog 100), opened from the Main window's system menu.
#pragma once

#include "dlgkit/dlgkit.h"

class CAboutDlg : public dlgkit::CDialogBase {
 public:
  explicit CAboutDlg(HWND parent = nullptr);

 protected:
  void DoDataExchange() override;
};
