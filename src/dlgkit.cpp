#include "dlgkit.h"

#include <array>

#include "win_text.h"

namespace dlgkit {

namespace {

CAppBase* g_app = nullptr;

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
  switch (message) {
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
      return true;
    default:
      return false;
  }
}

}  // namespace

CAppBase::CAppBase() { g_app = this; }

CAppBase::~CAppBase() {
  if (g_app == this) g_app = nullptr;
}

CAppBase* CAppBase::Current() { return g_app; }

HICON CAppBase::LoadIcon(UINT id) const {
  return ::LoadIconW(ModuleInstance(), MAKEINTRESOURCEW(id));
}

int RunApplication() {
  CAppBase* app = CAppBase::Current();
  if (app == nullptr) return 1;
  // Every program of this kind ends when InitInstance() returns false; a true result would ask
  // for a message loop, which no dialog-based program here needs.
  app->InitInstance();
  app->m_pMainWnd = nullptr;
  return 0;
}

HINSTANCE ModuleInstance() { return ::GetModuleHandleW(nullptr); }

std::wstring ApplicationTitle() {
  std::array<wchar_t, MAX_PATH + 1> path{};
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
  std::wstring name(path.data(), length < MAX_PATH ? length : MAX_PATH);
  const std::size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return name;
}

HWND MainWindowHandle() {
  const CAppBase* app = CAppBase::Current();
  if (app == nullptr || app->m_pMainWnd == nullptr) return nullptr;
  return app->m_pMainWnd->GetSafeHwnd();
}

int AppMessageBox(std::wstring_view text, UINT type) {
  if ((type & MB_ICONMASK) == 0) {
    switch (type & MB_TYPEMASK) {
      case MB_OK:
      case MB_OKCANCEL:
        type |= MB_ICONEXCLAMATION;
        break;
      case MB_YESNO:
      case MB_YESNOCANCEL:
        type |= MB_ICONQUESTION;
        break;
      default:
        break;
    }
  }
  HWND owner = MainWindowHandle();
  if (owner != nullptr) owner = ::GetLastActivePopup(owner);
  const std::wstring body(text);
  const std::wstring caption = ApplicationTitle();
  return ::MessageBoxW(owner, body.c_str(), caption.c_str(), type);
}

std::wstring LoadResourceString(UINT id) {
  // With a zero buffer size LoadStringW hands out a pointer into the resource itself.
  const wchar_t* text = nullptr;
  const int length = ::LoadStringW(ModuleInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  return std::wstring(text, static_cast<std::size_t>(length));
}

void CControl::SetWindowText(std::string_view utf8) const {
  ::SetWindowTextW(m_hWnd, obrint::win::Widen(utf8).c_str());
}

std::string CControl::GetWindowText() const {
  const int length = ::GetWindowTextLengthW(m_hWnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(m_hWnd, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return obrint::win::Narrow(text);
}

int CButton::GetCheck() const {
  return static_cast<int>(::SendMessageW(m_hWnd, BM_GETCHECK, 0, 0));
}

void CButton::SetCheck(int state) const {
  ::SendMessageW(m_hWnd, BM_SETCHECK, static_cast<WPARAM>(state), 0);
}

HIMAGELIST CTreeCtrl::SetImageList(HIMAGELIST images, int which) const {
  return reinterpret_cast<HIMAGELIST>(::SendMessageW(
      m_hWnd, TVM_SETIMAGELIST, static_cast<WPARAM>(which), reinterpret_cast<LPARAM>(images)));
}

HTREEITEM CTreeCtrl::InsertItem(std::string_view utf8Text, int image, int selectedImage,
                                HTREEITEM parent, HTREEITEM after) const {
  std::wstring text = obrint::win::Widen(utf8Text);
  TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = after;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = text.data();
  insert.item.iImage = image;
  insert.item.iSelectedImage = selectedImage;
  return reinterpret_cast<HTREEITEM>(
      ::SendMessageW(m_hWnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

bool CTreeCtrl::DeleteItem(HTREEITEM item) const {
  return ::SendMessageW(m_hWnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item)) != 0;
}

HTREEITEM CTreeCtrl::GetChildItem(HTREEITEM item) const {
  return reinterpret_cast<HTREEITEM>(
      ::SendMessageW(m_hWnd, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM CTreeCtrl::GetNextSiblingItem(HTREEITEM item) const {
  return reinterpret_cast<HTREEITEM>(
      ::SendMessageW(m_hWnd, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM CTreeCtrl::GetParentItem(HTREEITEM item) const {
  return reinterpret_cast<HTREEITEM>(
      ::SendMessageW(m_hWnd, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM CTreeCtrl::GetRootItem() const {
  return reinterpret_cast<HTREEITEM>(::SendMessageW(m_hWnd, TVM_GETNEXTITEM, TVGN_ROOT, 0));
}

bool CTreeCtrl::ItemHasChildren(HTREEITEM item) const { return GetChildItem(item) != nullptr; }

LPARAM CTreeCtrl::GetItemData(HTREEITEM item) const {
  TVITEMW query{};
  query.mask = TVIF_PARAM | TVIF_HANDLE;
  query.hItem = item;
  if (::SendMessageW(m_hWnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query)) == 0) return 0;
  return query.lParam;
}

bool CTreeCtrl::SetItemData(HTREEITEM item, LPARAM data) const {
  TVITEMW change{};
  change.mask = TVIF_PARAM | TVIF_HANDLE;
  change.hItem = item;
  change.lParam = data;
  return ::SendMessageW(m_hWnd, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&change)) != 0;
}

std::string CTreeCtrl::GetItemText(HTREEITEM item) const {
  std::array<wchar_t, 1024> text{};
  TVITEMW query{};
  query.mask = TVIF_TEXT | TVIF_HANDLE;
  query.hItem = item;
  query.pszText = text.data();
  query.cchTextMax = static_cast<int>(text.size());
  if (::SendMessageW(m_hWnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&query)) == 0) return {};
  return obrint::win::Narrow(query.pszText);
}

bool CTreeCtrl::Expand(HTREEITEM item, UINT code) const {
  return ::SendMessageW(m_hWnd, TVM_EXPAND, code, reinterpret_cast<LPARAM>(item)) != 0;
}

bool CTreeCtrl::SelectItem(HTREEITEM item) const {
  return ::SendMessageW(m_hWnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0;
}

HTREEITEM CTreeCtrl::HitTest(POINT clientPoint, UINT* flags) const {
  TVHITTESTINFO hit{};
  hit.pt = clientPoint;
  auto* item = reinterpret_cast<HTREEITEM>(
      ::SendMessageW(m_hWnd, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (flags != nullptr) *flags = hit.flags;
  return item;
}

CMenu::~CMenu() {
  if (m_hMenu != nullptr) ::DestroyMenu(m_hMenu);
}

bool CMenu::LoadMenu(UINT id) {
  HMENU loaded = ::LoadMenuW(ModuleInstance(), MAKEINTRESOURCEW(id));
  if (loaded == nullptr) return false;
  if (m_hMenu != nullptr) ::DestroyMenu(m_hMenu);
  m_hMenu = loaded;
  return true;
}

HMENU CMenu::GetSubMenu(int position) const {
  return m_hMenu != nullptr ? ::GetSubMenu(m_hMenu, position) : nullptr;
}

CPaintDC::CPaintDC(HWND window) : m_hWnd(window), m_hDC(::BeginPaint(window, &m_ps)) {}

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }

CDialogBase::CDialogBase(UINT templateId, HWND parent)
    : m_templateId(templateId), m_hParent(parent) {}

INT_PTR CDialogBase::DoModal() {
  // Without a parent the dialog belongs to the main window (or what it shows at the moment).
  HWND owner = m_hParent;
  if (owner == nullptr) {
    HWND main = MainWindowHandle();
    if (main != nullptr) owner = ::GetLastActivePopup(main);
  }
  return ::DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(m_templateId), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CDialogBase::EndDialog(INT_PTR result) const { ::EndDialog(m_hWnd, result); }

BOOL CDialogBase::OnInitDialog() {
  DoDataExchange();
  return TRUE;
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialogBase*>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->m_hWnd = window;
    RECT before{};
    ::GetWindowRect(window, &before);
    const BOOL result = self->OnInitDialog();
    self->CenterIfUnmoved(before);
    return result;
  }
  auto* self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;  // messages before WM_INITDIALOG
  if (message == WM_NCDESTROY) {
    self->m_hWnd = nullptr;
    return FALSE;
  }
  return self->Dispatch(message, wParam, lParam);
}

INT_PTR CDialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  for (const MessageEntry& entry : GetMessageMap()) {
    if (entry.message != message) continue;
    if (message == WM_COMMAND &&
        (entry.commandId != LOWORD(wParam) || entry.notifyCode != HIWORD(wParam))) {
      continue;
    }
    const Reply reply = entry.handler(*this, wParam, lParam);
    if (!reply.handled) return FALSE;
    if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(reply.result);
    if (m_hWnd != nullptr) ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, reply.result);
    return TRUE;
  }
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == IDOK) {
      OnOK();
      return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
      OnCancel();
      return TRUE;
    }
  }
  return FALSE;
}

void CDialogBase::CenterIfUnmoved(const RECT& before) const {
  // A dialog that its initialisation neither showed nor moved opens centred over its owner, or
  // on its monitor's work area when it has none.
  if (m_hWnd == nullptr || ::IsWindowVisible(m_hWnd)) return;
  RECT now{};
  ::GetWindowRect(m_hWnd, &now);
  if (now.left != before.left || now.top != before.top) return;

  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT work = monitor.rcWork;
  RECT area = work;
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  if (owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
    ::GetWindowRect(owner, &area);
  }
  const LONG width = now.right - now.left;
  const LONG height = now.bottom - now.top;
  LONG x = area.left + (area.right - area.left - width) / 2;
  LONG y = area.top + (area.bottom - area.top - height) / 2;
  // Keep the whole window on the work area where it fits.
  if (x + width > work.right) x = work.right - width;
  if (y + height > work.bottom) y = work.bottom - height;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace dlgkit
