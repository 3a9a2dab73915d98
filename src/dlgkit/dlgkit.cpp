#include "dlgkit/dlgkit.h"

#include <algorithm>
#include <array>

namespace dlgkit {

namespace {

CAppBase* gApp = nullptr;

// What the main window shows at the moment (itself or its last active popup), to own new boxes
// and dialogs; null when no main window exists.
HWND ActiveMainWindow() {
  const CAppBase* app = CAppBase::Current();
  if (app == nullptr || app->MainWindow() == nullptr) return nullptr;
  HWND main = app->MainWindow()->GetSafeHwnd();
  return main != nullptr ? ::GetLastActivePopup(main) : nullptr;
}

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
  constexpr UINT kDirect[] = {WM_INITDIALOG,   WM_QUERYDRAGICON,     WM_CTLCOLORMSGBOX,
                              WM_CTLCOLOREDIT, WM_CTLCOLORLISTBOX,   WM_CTLCOLORBTN,
                              WM_CTLCOLORDLG,  WM_CTLCOLORSCROLLBAR, WM_CTLCOLORSTATIC,
                              WM_COMPAREITEM,  WM_VKEYTOITEM,        WM_CHARTOITEM};
  return std::find(std::begin(kDirect), std::end(kDirect), message) != std::end(kDirect);
}

// The executable's file name without its extension: the caption of application message boxes.
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

}  // namespace

CAppBase::CAppBase() { gApp = this; }

CAppBase::~CAppBase() {
  if (gApp == this) gApp = nullptr;
}

CAppBase* CAppBase::Current() { return gApp; }

int RunApplication() {
  CAppBase* app = CAppBase::Current();
  if (app == nullptr) return 1;
  // Every program of this kind ends when InitInstance() returns false; a true result would ask
  // for a message loop, which no dialog-based program here needs.
  app->InitInstance();
  app->SetMainWindow(nullptr);
  return 0;
}

HINSTANCE ModuleInstance() { return ::GetModuleHandleW(nullptr); }

int AppMessageBox(std::wstring_view text, UINT type) {
  if ((type & MB_ICONMASK) == 0) {
    const UINT buttons = type & MB_TYPEMASK;
    type |= buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? MB_ICONQUESTION : MB_ICONEXCLAMATION;
  }
  const std::wstring body(text);
  return ::MessageBoxW(ActiveMainWindow(), body.c_str(), ApplicationTitle().c_str(), type);
}

std::wstring LoadResourceString(UINT id) {
  // With a zero buffer size LoadStringW hands out a pointer into the resource itself.
  const wchar_t* text = nullptr;
  const int length = ::LoadStringW(ModuleInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  return std::wstring(text, static_cast<std::size_t>(length));
}

CDialogBase::CDialogBase(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

INT_PTR CDialogBase::DoModal() {
  // Without a parent the dialog belongs to the main window (or what it shows at the moment).
  HWND owner = parent_ != nullptr ? parent_ : ActiveMainWindow();
  return ::DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL CDialogBase::OnInitDialog() {
  DoDataExchange();
  return TRUE;
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialogBase*>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = window;
    RECT before{};
    ::GetWindowRect(window, &before);
    const BOOL result = self->OnInitDialog();
    self->CenterIfUnmoved(before);
    return result;
  }
  auto* self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;  // messages before WM_INITDIALOG
  if (message == WM_NCDESTROY) {
    self->hwnd_ = nullptr;
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
    if (hwnd_ != nullptr) ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, reply.result);
    return TRUE;
  }
  const bool ends = LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL;
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED || !ends) return FALSE;
  EndDialog(LOWORD(wParam));
  return TRUE;
}

void CDialogBase::CenterIfUnmoved(const RECT& before) const {
  // A dialog that its initialisation neither showed nor moved opens centred over its owner, or
  // on its monitor's work area when it has none.
  if (hwnd_ == nullptr || ::IsWindowVisible(hwnd_)) return;
  RECT now{};
  ::GetWindowRect(hwnd_, &now);
  if (now.left != before.left || now.top != before.top) return;

  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT work = monitor.rcWork;
  RECT area = work;
  HWND owner = ::GetWindow(hwnd_, GW_OWNER);
  if (owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
    ::GetWindowRect(owner, &area);
  }
  const LONG width = now.right - now.left;
  const LONG height = now.bottom - now.top;
  // Keep the whole window on the work area where it fits.
  const LONG x = std::max(
      work.left, std::min(area.left + (area.right - area.left - width) / 2, work.right - width));
  const LONG y = std::max(
      work.top, std::min(area.top + (area.bottom - area.top - height) / 2, work.bottom - height));
  ::SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace dlgkit
