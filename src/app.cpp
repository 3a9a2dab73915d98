// The application object and the program's entry point.
#include <windows.h>
#include <commctrl.h>

#include "dlgkit/dlgkit.h"
#include "kesticdlg.h"

class CKesticApp : public dlgkit::CAppBase {
 public:
  bool InitInstance() override;
};

bool CKesticApp::InitInstance() {
  ::InitCommonControls();

  CKesticDlg dlg;
  SetMainWindow(&dlg);
  // The dialog's result does not matter: the program ends with it either way.
  dlg.DoModal();
  SetMainWindow(nullptr);
  return false;
}

CKesticApp theApp;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return dlgkit::RunApplication(); }
