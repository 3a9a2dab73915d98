// The Main window: start-up, message routing, system menu, painting, the Status log and message
// boxes, and the Device tree's set-up.
#include "kesticdlg.h"

#include "device/discovery.h"

#include <array>

#include "usermsg.h"
#include "winbase/text.h"

namespace {

// GUID_DEVCLASS_COMPUTER: the setup class whose icon the root item shows.
constexpr GUID kComputerClassGuid = {
    0x4D36E966, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

CKesticDlg& Self(dlgkit::CDialogBase& dialog) { return static_cast<CKesticDlg&>(dialog); }

template <void (CKesticDlg::*Handler)()>
dlgkit::Reply Command(dlgkit::CDialogBase& dialog, WPARAM, LPARAM) {
  (Self(dialog).*Handler)();
  return dlgkit::kHandled;
}

const dlgkit::MessageEntry kMessageMap[] = {
    {WM_SYSCOMMAND, 0, 0,
     [](dlgkit::CDialogBase& dialog, WPARAM wParam, LPARAM lParam) {
       return Self(dialog).OnSysCommand(static_cast<UINT>(wParam), lParam) ? dlgkit::kHandled
                                                                           : dlgkit::kDefault;
     }},
    {WM_PAINT, 0, 0,
     [](dlgkit::CDialogBase& dialog, WPARAM, LPARAM) {
       return Self(dialog).OnPaint() ? dlgkit::kHandled : dlgkit::kDefault;
     }},
    {WM_QUERYDRAGICON, 0, 0,
     [](dlgkit::CDialogBase& dialog, WPARAM, LPARAM) {
       return dlgkit::Reply{true, reinterpret_cast<LRESULT>(Self(dialog).OnQueryDragIcon())};
     }},
    {WM_DEVICECHANGE, 0, 0,
     [](dlgkit::CDialogBase& dialog, WPARAM wParam, LPARAM lParam) {
       const BOOL result =
           Self(dialog).OnDeviceChange(static_cast<UINT>(wParam), static_cast<DWORD_PTR>(lParam));
       return dlgkit::Reply{true, result};
     }},
    {WM_CONTEXTMENU, 0, 0,
     [](dlgkit::CDialogBase& dialog, WPARAM wParam, LPARAM lParam) {
       // Signed screen coordinates; the keyboard sends (-1, -1).
       const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
       Self(dialog).OnContextMenu(reinterpret_cast<HWND>(wParam), point);
       return dlgkit::kHandled;
     }},
    {WM_COMMAND, ID_POPUP_DISABLE, 0, &Command<&CKesticDlg::OnDisableDevice>},
    {WM_COMMAND, IDC_UPGRADE_FIRMWARE, BN_CLICKED, &Command<&CKesticDlg::OnUpgradeFirmware>},
    {WM_COMMAND, IDC_GET_DEVICE_INFO, BN_CLICKED, &Command<&CKesticDlg::OnGetDeviceInfo>},
    {WM_COMMAND, IDC_VERIFY_FIRMWARE, BN_CLICKED, &Command<&CKesticDlg::OnVerifyFirmware>},
    {WM_COMMAND, IDC_SET_RUN_MODE, BN_CLICKED, &Command<&CKesticDlg::OnSetRunMode>},
};

}  // namespace

CKesticDlg::CKesticDlg(HWND parent)
    : dlgkit::CDialogBase(IDD_KESTIC_DIALOG, parent),
      icon_(::LoadIconW(dlgkit::ModuleInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

dlgkit::MessageMap CKesticDlg::GetMessageMap() const { return kMessageMap; }

void CKesticDlg::DoDataExchange() {
  dlgkit::CDialogBase::DoDataExchange();
  treeDevices_.Attach(GetSafeHwnd(), IDC_DEVICE_TREE);
  editStatus_.Attach(GetSafeHwnd(), IDC_STATUS_LOG);
  btnRunMode_.Attach(GetSafeHwnd(), IDC_SET_RUN_MODE);
}

BOOL CKesticDlg::OnInitDialog() {
  dlgkit::CDialogBase::OnInitDialog();

  if (HMENU systemMenu = ::GetSystemMenu(GetSafeHwnd(), FALSE)) {
    const std::wstring about = dlgkit::LoadResourceString(IDS_ABOUTBOX);
    if (!about.empty()) {
      ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
  }

  ::SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(GetSafeHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  // Nothing is known about the headset's run mode until a device event refreshes the controls.
  EnableModeControls(false);

  menuResource_.reset(::LoadMenuW(dlgkit::ModuleInstance(), MAKEINTRESOURCEW(IDR_POPUP_MENU)));
  popupMenu_ = menuResource_.valid() ? ::GetSubMenu(menuResource_.get(), 0) : nullptr;
  menuTargetItem_ = nullptr;

  SetUpDeviceTree();
  if (!RegisterDeviceNotifications()) return FALSE;
  return TRUE;
}

void CKesticDlg::SetUpDeviceTree() {
  classImageList_ = SP_CLASSIMAGELIST_DATA{};
  classImageList_.cbSize = sizeof(classImageList_);
  // Some systems have no class icons to give; the tree then shows its items without images.
  if (!::SetupDiGetClassImageList(&classImageList_)) {
    DebugTrace("SetupDiGetClassImageList(): " + SystemErrorText(::GetLastError()));
  }
  treeDevices_.SetImageList(classImageList_.ImageList, TVSIL_NORMAL);

  const int rootImage = ClassImageIndex(kComputerClassGuid);

  std::array<wchar_t, obrint::kMaxPath> computerName{};
  DWORD size = static_cast<DWORD>(computerName.size());
  if (!::GetComputerNameW(computerName.data(), &size)) {
    DebugTrace("GetComputerName(): " + SystemErrorText(::GetLastError()));
    computerName[0] = L'\0';
  }
  rootItem_ = treeDevices_.InsertItem(obrint::winbase::Narrow(computerName.data()), rootImage,
                                      rootImage, TVI_ROOT, TVI_LAST);
}

bool CKesticDlg::OnSysCommand(UINT commandId, LPARAM) {
  if ((commandId & 0xFFF0) != IDM_ABOUTBOX) return false;
  // The About box only shows texts; OK, Enter and Esc close it through the dialog defaults.
  dlgkit::CDialogBase about(IDD_ABOUTBOX, nullptr);
  about.DoModal();
  return true;
}

bool CKesticDlg::OnPaint() {
  if (!::IsIconic(GetSafeHwnd())) return false;
  const dlgkit::CPaintDC dc(GetSafeHwnd());
  ::SendMessageW(GetSafeHwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  const int iconWidth = ::GetSystemMetrics(SM_CXICON);
  const int iconHeight = ::GetSystemMetrics(SM_CYICON);
  RECT client{};
  ::GetClientRect(GetSafeHwnd(), &client);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  ::DrawIcon(dc.GetSafeHdc(), x, y, icon_);
  return true;
}

void CKesticDlg::ShowStatus(std::string_view text) {
  ::SetWindowTextW(editStatus_.GetSafeHwnd(), obrint::winbase::Widen(text).c_str());
}

void CKesticDlg::AppendStatus(std::string_view line) {
  HWND log = editStatus_.GetSafeHwnd();
  const int length = ::GetWindowTextLengthW(log);
  std::wstring content(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
  const int copied = ::GetWindowTextW(log, content.data(), length + 1);
  content.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  content += obrint::winbase::Widen(line);
  ::SetWindowTextW(log, content.c_str());
}

int CKesticDlg::ShowWindowBox(std::string_view body, std::string_view caption, unsigned type) {
  return ::MessageBoxW(GetSafeHwnd(), obrint::winbase::Widen(body).c_str(),
                       obrint::winbase::Widen(caption).c_str(), type);
}

void CKesticDlg::SetCaption(std::string_view text) {
  ::SetWindowTextW(GetSafeHwnd(), obrint::winbase::Widen(text).c_str());
}

void CKesticDlg::EnableModeControls(bool enabled) {
  // The button goes off first and comes on last.
  if (!enabled) btnRunMode_.EnableWindow(false);
  ::EnableWindow(GetDlgItem(IDC_MODE_DK1), enabled ? TRUE : FALSE);
  ::EnableWindow(GetDlgItem(IDC_MODE_DK2), enabled ? TRUE : FALSE);
  if (enabled) btnRunMode_.EnableWindow(true);
}

void CKesticDlg::EnableRunModeButton(bool enabled) { btnRunMode_.EnableWindow(enabled); }

void CKesticDlg::SetModeChecks(bool dk1Checked, bool dk2Checked) {
  ::CheckDlgButton(GetSafeHwnd(), IDC_MODE_DK1, dk1Checked ? BST_CHECKED : BST_UNCHECKED);
  ::CheckDlgButton(GetSafeHwnd(), IDC_MODE_DK2, dk2Checked ? BST_CHECKED : BST_UNCHECKED);
}

bool CKesticDlg::IsDk1Checked() {
  return ::IsDlgButtonChecked(GetSafeHwnd(), IDC_MODE_DK1) == BST_CHECKED;
}

bool CKesticDlg::IsDk2Checked() {
  return ::IsDlgButtonChecked(GetSafeHwnd(), IDC_MODE_DK2) == BST_CHECKED;
}
