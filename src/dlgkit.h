// A small dialog layer over the Win32 API: the application object, modal dialogs with a message
// map, and thin wrappers for the controls the program uses.
//
// An application derives from CAppBase, defines one global instance, and lets its entry point
// call RunApplication(), which runs InitInstance(). A dialog derives from CDialogBase, names its
// template, binds member controls in DoDataExchange() and routes messages through a static table
// of MessageEntry records. Dialog windows are Unicode windows; the wrappers take and give UTF-8.
#pragma once

#include <windows.h>
#include <commctrl.h>

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

  // An icon resource of the program at the system's standard icon size.
  HICON LoadIcon(UINT id) const;

  // Records where per-user settings would go; the program itself stores nothing.
  void SetRegistryKey(std::wstring_view key) { m_registryKey = key; }

  // The dialog that acts as the main window while it runs, or null.
  CDialogBase* m_pMainWnd = nullptr;

 private:
  std::wstring m_registryKey;
};

// Runs the application object's InitInstance(); the process exit code.
int RunApplication();

HINSTANCE ModuleInstance();

// The executable's file name without its extension: the caption of application message boxes.
std::wstring ApplicationTitle();

// The main window's handle, or null when no main window exists.
HWND MainWindowHandle();

// The application message box: owned by the main window (its last active popup), captioned with
// the application title. A type that names no icon gets the usual one for its buttons.
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

// Common part of the control wrappers: the control's window, found by ID in its dialog.
class CControl {
 public:
  void Attach(HWND dialog, int id) { m_hWnd = ::GetDlgItem(dialog, id); }
  HWND GetSafeHwnd() const { return m_hWnd; }
  void EnableWindow(bool enabled) const { ::EnableWindow(m_hWnd, enabled ? TRUE : FALSE); }
  bool IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd) != FALSE; }
  void SetWindowText(std::string_view utf8) const;
  std::string GetWindowText() const;

 protected:
  HWND m_hWnd = nullptr;
};

class CEdit : public CControl {};

class CButton : public CControl {
 public:
  int GetCheck() const;  // BST_UNCHECKED, BST_CHECKED
  void SetCheck(int state) const;
};

class CTreeCtrl : public CControl {
 public:
  HIMAGELIST SetImageList(HIMAGELIST images, int which) const;
  HTREEITEM InsertItem(std::string_view utf8Text, int image, int selectedImage, HTREEITEM parent,
                       HTREEITEM after) const;
  bool DeleteItem(HTREEITEM item) const;
  HTREEITEM GetChildItem(HTREEITEM item) const;
  HTREEITEM GetNextSiblingItem(HTREEITEM item) const;
  HTREEITEM GetParentItem(HTREEITEM item) const;
  HTREEITEM GetRootItem() const;
  bool ItemHasChildren(HTREEITEM item) const;
  LPARAM GetItemData(HTREEITEM item) const;
  bool SetItemData(HTREEITEM item, LPARAM data) const;
  std::string GetItemText(HTREEITEM item) const;
  bool Expand(HTREEITEM item, UINT code) const;
  bool SelectItem(HTREEITEM item) const;
  // The item at a point in the tree's client coordinates, or null.
  HTREEITEM HitTest(POINT clientPoint, UINT* flags = nullptr) const;
};

// A menu loaded from the resources; destroys it on destruction.
class CMenu {
 public:
  CMenu() = default;
  ~CMenu();
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;

  bool LoadMenu(UINT id);
  HMENU GetSafeHmenu() const { return m_hMenu; }
  // A submenu, owned by this menu; null when there is none.
  HMENU GetSubMenu(int position) const;

 private:
  HMENU m_hMenu = nullptr;
};

// BeginPaint/EndPaint for the lifetime of the object.
class CPaintDC {
 public:
  explicit CPaintDC(HWND window);
  ~CPaintDC();
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  HDC GetSafeHdc() const { return m_hDC; }

 private:
  HWND m_hWnd;
  PAINTSTRUCT m_ps{};
  HDC m_hDC;
};

// A modal dialog from a template of the program's resources.
class CDialogBase {
 public:
  CDialogBase(UINT templateId, HWND parent);
  virtual ~CDialogBase() = default;
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;

  // Creates the dialog and runs it until it ends; the value passed to EndDialog, or -1 when the
  // window could not be created.
  INT_PTR DoModal();
  void EndDialog(INT_PTR result) const;

  HWND GetSafeHwnd() const { return m_hWnd; }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

 protected:
  // The routes of this dialog's messages; unrouted messages get the default dialog handling.
  virtual MessageMap GetMessageMap() const { return {}; }
  // Attaches member controls to the dialog's controls (BindControl).
  virtual void DoDataExchange() {}
  // Runs when the window and its controls exist, before it is shown. The base runs
  // DoDataExchange(). True gives the focus to the first control that takes it.
  virtual BOOL OnInitDialog();
  // The defaults for IDOK and IDCANCEL when the message map does not route them.
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

  void BindControl(int id, CControl& control) const { control.Attach(m_hWnd, id); }

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void CenterIfUnmoved(const RECT& before) const;

  UINT m_templateId;
  HWND m_hParent;
};

}  // namespace dlgkit
