// The Main window: start-up, message routing, system menu, painting, the Status log and message
// boxes, and the Device tree's set-up.
#include "kesticdlg.h"

#include <array>

#include "aboutdlg.h"
#include "usermsg.h"
#include "win_text.h"

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
    {WM_COMMAND, IDC_DOWNLOAD_BOOT_FIRMWARE, BN_CLICKED,
     &Command<&CKesticDlg::OnDownloadBootFirmware>},
    {WM_COMMAND, IDC_GET_DEVICE_INFO, BN_CLICKED, &Command<&CKesticDlg::OnGetDeviceInfo>},
    {WM_COMMAND, IDC_VERIFY_FIRMWARE, BN_CLICKED, &Command<&CKesticDlg::OnVerifyFirmware>},
    {WM_COMMAND, IDC_SET_RUN_MODE, BN_CLICKED, &Command<&CKesticDlg::OnSetRunMode>},
};

}  // namespace

CKesticDlg::CKesticDlg(HWND parent) : dlgkit::CDialogBase(IDD_KESTIC_DIALOG, parent) {
  if (const dlgkit::CAppBase* app = dlgkit::CAppBase::Current()) {
    m_hIcon = app->LoadIcon(IDR_MAINFRAME);
  } else {
    m_hIcon = ::LoadIconW(dlgkit::ModuleInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
  }
}

dlgkit::MessageMap CKesticDlg::GetMessageMap() const { return kMessageMap; }

void CKesticDlg::DoDataExchange() {
  dlgkit::CDialogBase::DoDataExchange();
  BindControl(IDC_DEVICE_TREE, m_treeDevices);
  BindControl(IDC_STATUS_LOG, m_editStatus);
  BindControl(IDC_UPGRADE_FIRMWARE, m_btnUpgrade);
  BindControl(IDC_DOWNLOAD_BOOT_FIRMWARE, m_btnBootFirmware);
  BindControl(IDC_VERIFY_FIRMWARE, m_btnVerify);
  BindControl(IDC_SET_RUN_MODE, m_btnRunMode);
}

BOOL CKesticDlg::OnInitDialog() {
  dlgkit::CDialogBase::OnInitDialog();

  if (HMENU systemMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
    const std::wstring about = dlgkit::LoadResourceString(IDS_ABOUTBOX);
    if (!about.empty()) {
      ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
  }

  ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  // Nothing is known about the headset's run mode until a device event refreshes the controls.
  m_btnRunMode.EnableWindow(false);
  ::EnableWindow(GetDlgItem(IDC_MODE_DK1), FALSE);
  ::EnableWindow(GetDlgItem(IDC_MODE_DK2), FALSE);

  m_menuResource.LoadMenu(IDR_POPUP_MENU);
  m_hPopupMenu = m_menuResource.GetSubMenu(0);
  m_hMenuTargetItem = nullptr;

  SetUpDeviceTree();
  if (!RegisterDeviceNotifications()) return FALSE;
  return TRUE;
}

void CKesticDlg::SetUpDeviceTree() {
  m_classImageList = SP_CLASSIMAGELIST_DATA{};
  m_classImageList.cbSize = sizeof(m_classImageList);
  // Some systems have no class icons to give; the tree then shows its items without images.
  if (!::SetupDiGetClassImageList(&m_classImageList)) {
    obrint::win::DebugTrace("SetupDiGetClassImageList(): " +
                            obrint::win::SystemErrorText(::GetLastError()));
  }
  m_treeDevices.SetImageList(m_classImageList.ImageList, TVSIL_NORMAL);

  const int rootImage = ClassImageIndex(kComputerClassGuid);

  std::array<wchar_t, obrint::kMaxPath> computerName{};
  DWORD size = static_cast<DWORD>(computerName.size());
  if (!::GetComputerNameW(computerName.data(), &size)) {
    obrint::win::DebugTrace("GetComputerName(): " + obrint::win::SystemErrorText(::GetLastError()));
    computerName[0] = L'\0';
  }
  m_hRootItem = m_treeDevices.InsertItem(obrint::win::Narrow(computerName.data()), rootImage,
                                         rootImage, TVI_ROOT, TVI_LAST);
}

bool CKesticDlg::OnSysCommand(UINT commandId, LPARAM) {
  if ((commandId & 0xFFF0) != IDM_ABOUTBOX) return false;
  CAboutDlg about;
  about.DoModal();
  return true;
}

bool CKesticDlg::OnPaint() {
  if (!::IsIconic(m_hWnd)) return false;
  const dlgkit::CPaintDC dc(m_hWnd);
  ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  const int iconWidth = ::GetSystemMetrics(SM_CXICON);
  const int iconHeight = ::GetSystemMetrics(SM_CYICON);
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  ::DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
  return true;
}

void CKesticDlg::ShowStatus(std::string_view text) {
  obrint::win::ShowStatus(m_editStatus.GetSafeHwnd(), text);
}

void CKesticDlg::AppendStatus(std::string_view line) {
  obrint::win::AppendStatus(m_editStatus.GetSafeHwnd(), line);
}

int CKesticDlg::ShowWindowBox(std::string_view body, std::string_view caption, unsigned type) {
  return obrint::win::ShowWindowBox(m_hWnd, body, caption, type);
}

void CKesticDlg::SetCaption(std::string_view text) {
  ::SetWindowTextW(m_hWnd, obrint::win::Widen(text).c_str());
}

void CKesticDlg::EnableModeControls(bool enabled) {
  const BOOL state = enabled ? TRUE : FALSE;
  if (enabled) {
    ::EnableWindow(GetDlgItem(IDC_MODE_DK1), state);
    ::EnableWindow(GetDlgItem(IDC_MODE_DK2), state);
    m_btnRunMode.EnableWindow(true);
  } else {
    m_btnRunMode.EnableWindow(false);
    ::EnableWindow(GetDlgItem(IDC_MODE_DK1), state);
    ::EnableWindow(GetDlgItem(IDC_MODE_DK2), state);
  }
}

void CKesticDlg::EnableRunModeButton(bool enabled) { m_btnRunMode.EnableWindow(enabled); }

void CKesticDlg::SetModeChecks(bool dk1Checked, bool dk2Checked) {
  ::CheckDlgButton(m_hWnd, IDC_MODE_DK1, dk1Checked ? BST_CHECKED : BST_UNCHECKED);
  ::CheckDlgButton(m_hWnd, IDC_MODE_DK2, dk2Checked ? BST_CHECKED : BST_UNCHECKED);
}

bool CKesticDlg::IsDk1Checked() {
  return ::IsDlgButtonChecked(m_hWnd, IDC_MODE_DK1) == BST_CHECKED;
}

bool CKesticDlg::IsDk2Checked() {
  return ::IsDlgButtonChecked(m_hWnd, IDC_MODE_DK2) == BST_CHECKED;
}
