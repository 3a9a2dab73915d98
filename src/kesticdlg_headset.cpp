// The headset commands behind the Main window's buttons, and the refresh of the Mode controls.
// Each runs the portable procedure over hid.dll, the Device path, and the window's own user
// interface and Mode controls.
#include "kesticdlg.h"

#include "core/device_info.h"
#include "core/firmware_upgrade.h"
#include "core/image_stamp.h"
#include "core/run_mode.h"
#include "devpath/device_path.h"
#include "win/hid_link.h"
#include "win/clock.h"
#include "win/file_dialog.h"
#include "win/files.h"

namespace {

// The firmware image chosen last; the next upgrade reuses it without asking while it still opens.
std::string& ImagePath() {
  static std::string imagePath;
  return imagePath;
}

}  // namespace

// Button 1004: the headset's firmware version and microcontroller ID into the Status log.
void CKesticDlg::OnGetDeviceInfo() {
  obrint::win::WinHidLink link;
  obrint::ReadDeviceInfo(link, *this, obrint::devpath::TheHeadsetLocation());
}

// Button 1002: write a firmware image into the headset through its boot firmware.
void CKesticDlg::OnUpgradeFirmware() {
  obrint::win::WinHidLink link;
  obrint::win::Win32Clock clock;
  obrint::win::Win32FileSystem files;
  obrint::UpgradeFirmware(link, clock, files, *this, obrint::devpath::TheHeadsetLocation(),
                          ImagePath());
}

// Button 1003 has no function.
void CKesticDlg::OnDownloadBootFirmware() {}

// Button 1005: stamp a firmware image file with its checksum.
void CKesticDlg::OnVerifyFirmware() {
  obrint::win::Win32FileSystem files;
  obrint::StampImageChecksum(files, *this);
}

// Button 1006: write the selected run mode into the headset and restart it.
void CKesticDlg::OnSetRunMode() {
  obrint::win::WinHidLink link;
  obrint::win::Win32Clock clock;
  obrint::SetRunMode(link, clock, *this, *this, obrint::devpath::TheHeadsetLocation());
}

// Sets the Mode controls from the headset's firmware version and current run mode.
void CKesticDlg::RefreshModeControls() {
  obrint::win::WinHidLink link;
  obrint::RefreshModeControls(link, *this, obrint::devpath::TheHeadsetLocation());
}

std::string CKesticDlg::ChooseImageFile() {
  return obrint::win::ChooseFirmwareImage(GetSafeHwnd());
}
