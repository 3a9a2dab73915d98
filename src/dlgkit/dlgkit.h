// A small dialog framework over the Win32 API: the application object and modal dialogs with a
// message map (a static table of MessageEntry records). It only routes messages and owns windows;
// everything else is the application's. Dialog windows are Unicode windows.
#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <string_view>

namespace dlgkit {

class CDialogBase;

// The application object. Exactly one may exist at a time; it registers itself on construction.
class CAppBase {
 public:
  CAppBase();
  virtual ~CAppBase();
  CAppBase(const CAppBase&) = delete;
  CAppBase& operator=(const CAppBase&) = delete;

  // The one application object, or null when there is none (as in the tests).
  static CAppBase* Current();
  // Called once by RunApplication(). Returning false ends the program without a message loop.
  virtual bool InitInstance() = 0;
  // The dialog that acts as the main window while it runs; null when none does.
  void SetMainWindow(CDialogBase* dialog) { mainWindow_ = dialog; }
  CDialogBase* MainWindow() const { return mainWindow_; }

 private:
  CDialogBase* mainWindow_ = nullptr;
};

// Runs the application object's InitInstance(); the process exit code.
int RunApplication();

HINSTANCE ModuleInstance();

// The application message box: owned by the main window (its last active popup), captioned with
// the executable's file name without its extension. A type that names no icon gets the question
// mark for Yes/No buttons, else the exclamation mark.
int AppMessageBox(std::wstring_view text, UINT type);

// A string resource of the program; empty when it is missing.
std::wstring LoadResourceString(UINT id);

// What a message handler tells the dialog procedure: handled with a result, or not handled, in
// which case the default dialog handling runs.
struct Reply {
  bool handled = true;
  LRESULT result = 0;
};
inline constexpr Reply kDefault{false, 0};
inline constexpr Reply kHandled{true, 0};

// One route of a message map. For WM_COMMAND the entry also names the command ID and the
// notification code (0 for menu items and BN_CLICKED); for other messages both are ignored.
struct MessageEntry {
  UINT message;
  UINT commandId;
  UINT notifyCode;
  Reply (*handler)(CDialogBase& dialog, WPARAM wParam, LPARAM lParam);
};
using MessageMap = std::span<const MessageEntry>;

// A modal dialog from a template of the program's resources. IDOK and IDCANCEL end it unless its
// message map routes them.
class CDialogBase {
 public:
  CDialogBase(UINT templateId, HWND parent);
  virtual ~CDialogBase() = default;
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;

  // Creates the dialog and runs it until it ends; the value passed to EndDialog, or -1 when the
  // window could not be created.
  INT_PTR DoModal();
  void EndDialog(INT_PTR result) const { ::EndDialog(hwnd_, result); }

  // The dialog's window while it exists, else null.
  HWND GetSafeHwnd() const { return hwnd_; }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(hwnd_, id); }

 protected:
  // The routes of this dialog's messages; unrouted messages get the default dialog handling.
  virtual MessageMap GetMessageMap() const { return {}; }
  // Attaches member controls to the dialog's controls (CControl::Attach).
  virtual void DoDataExchange() {}
  // Runs when the window and its controls exist, before it is shown. The base runs
  // DoDataExchange(). True gives the focus to the first control that takes it.
  virtual BOOL OnInitDialog();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void CenterIfUnmoved(const RECT& before) const;

  HWND hwnd_ = nullptr;
  UINT templateId_;
  HWND parent_;
};

}  // namespace dlgkit
