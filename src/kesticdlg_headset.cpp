// The headset commands behind the Main window's buttons, and the refresh of the Mode controls:
// each runs its presenter over hid.dll and the window. The presenters tell the user how they
// ended; their status is for their tests.
#include "kesticdlg.h"

#include "presenters/device_info.h"
#include "presenters/firmware_upgrade.h"
#include "presenters/image_stamp.h"
#include "presenters/run_mode.h"
#include "devpath/device_path.h"
#include "win/clock.h"
#include "win/file_dialog.h"
#include "win/files.h"
#include "win/hid_bus.h"

namespace {

namespace presenters = obrint::presenters;

// The firmware image chosen last; the next upgrade reuses it without asking while it still opens.
std::string& ImagePath() {
  static std::string imagePath;
  return imagePath;
}

}  // namespace

// Button 1004: the headset's firmware version and microcontroller ID into the Status log.
void CKesticDlg::OnGetDeviceInfo() {
  obrint::win::Win32HidBus bus;
  presenters::ReadDeviceInfo(bus, *this, obrint::devpath::TheHeadsetLocation());
}

// Button 1002: write a firmware image into the headset through its boot firmware.
void CKesticDlg::OnUpgradeFirmware() {
  obrint::win::Win32HidBus bus;
  obrint::win::Win32Clock clock;
  obrint::win::Win32FileSystem files;
  (void)presenters::UpgradeFirmware(bus, clock, files, *this, obrint::devpath::TheHeadsetLocation(),
                                    ImagePath());
}

// Button 1005: stamp a firmware image file with its checksum.
void CKesticDlg::OnVerifyFirmware() {
  obrint::win::Win32FileSystem files;
  (void)presenters::StampImageChecksum(files, *this);
}

// Button 1006: write the selected run mode into the headset and restart it.
void CKesticDlg::OnSetRunMode() {
  obrint::win::Win32HidBus bus;
  obrint::win::Win32Clock clock;
  (void)presenters::SetRunMode(bus, clock, *this, *this, obrint::devpath::TheHeadsetLocation());
}

// Sets the Mode controls from the headset's firmware version and current run mode.
void CKesticDlg::RefreshModeControls() {
  obrint::win::Win32HidBus bus;
  presenters::ShowRunMode(bus, *this, obrint::devpath::TheHeadsetLocation());
}

std::string CKesticDlg::ChooseImageFile() {
  return obrint::win::ChooseFirmwareImage(GetSafeHwnd());
}
