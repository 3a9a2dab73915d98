#include "aboutdlg.h"

#include "resource.h"

CAboutDlg::CAboutDlg(HWND parent) : dlgkit::CDialogBase(IDD_ABOUTBOX, parent) {}
