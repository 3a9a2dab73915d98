#include "aboutdlg.h"

#include "resource.h"

CAboutDlg::CAboutDlg(HWND parent) : dlgkit::CDialogBase(IDD_ABOUTBOX, parent) {}

// The box only shows texts; its OK button, Enter and Esc close it through the defaults.
void CAboutDlg::DoDataExchange() { dlgkit::CDialogBase::DoDataExchange(); }
