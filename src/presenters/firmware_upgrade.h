// The window's command behind "升级固件程序": the firmware upgrade with the window's boxes, its
// caption and the boot firmware's version in the Status log.
#pragma once

#include <string>

#include "device/clock.h"
#include "device/failure.h"
#include "device/hid_bus.h"
#include "presenters/window.h"

namespace obrint::presenters {

// `imagePath` is the image chosen last time, reused without asking while it still opens, and
// replaced when the user chooses another; `location` is the Device path, which the search after
// the restart updates. The reboot is asked with a "Reboot?" box. Failures:
// - kNoHeadset: no Device path; "未发现设备或访问被拒绝！" shown;
// - kCancelled: no image chosen; nothing shown;
// - kImageTooLarge: refused before the headset was touched;
// - kRestartRefused, kBootNotFound, kBootNotOpened: "引导访问失败。" shown, the caption left;
// - any other: "Update Err!" and "升级失败。".
Status UpgradeFirmware(HidBus& bus, Clock& clock, FileSystem& files, UserInterface& ui,
                       HeadsetLocation& location, std::string& imagePath);

}  // namespace obrint::presenters
