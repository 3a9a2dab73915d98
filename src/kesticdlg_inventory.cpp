// Device events, the Device tree's updates and the Disable command of its context menu.
#include "kesticdlg.h"

#include <array>

#include "usermsg.h"
#include "win_text.h"

bool CKesticDlg::RegisterDeviceNotifications() { return true; }

BOOL CKesticDlg::OnDeviceChange(UINT, DWORD_PTR) { return FALSE; }

void CKesticDlg::AdoptHeadsetInterface(const DEV_BROADCAST_DEVICEINTERFACE_A*) {}

void CKesticDlg::ApplyDeviceChange(const DEV_BROADCAST_DEVICEINTERFACE_A*, UINT) {}

HTREEITEM CKesticDlg::FindOrAddClassItem(const GUID&, UINT) { return nullptr; }

bool CKesticDlg::LocateDeviceInfo(HDEVINFO, std::string_view, SP_DEVINFO_DATA*) { return false; }

std::string CKesticDlg::ClassDescription(const GUID& classGuid) {
  std::array<wchar_t, obrint::kMaxPath> description{};
  if (!::SetupDiGetClassDescriptionW(&classGuid, description.data(),
                                     static_cast<DWORD>(description.size()), nullptr)) {
    OBRINT_TRACE("Can't get class description: %s",
                 obrint::win::SystemErrorText(::GetLastError()).c_str());
    return {};
  }
  return obrint::win::Narrow(description.data());
}

int CKesticDlg::ClassImageIndex(const GUID& classGuid) {
  int index = -1;
  if (!::SetupDiGetClassImageIndex(&m_classImageList, &classGuid, &index)) {
    OBRINT_TRACE("Can't get class image index: %s",
                 obrint::win::SystemErrorText(::GetLastError()).c_str());
    return -1;
  }
  return index;
}

void CKesticDlg::OnContextMenu(HWND, POINT) {}

void CKesticDlg::OnDisableDevice() {}
