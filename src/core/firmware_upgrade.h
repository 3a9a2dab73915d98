// The window's command behind "升级固件程序", on the data layer's FirmwareUpgrade (headset.h).
#pragma once

#include <cstdint>
#include <string>

#include "core/headset.h"
#include "core/ports.h"

namespace obrint {

enum class UpgradeOutcome : std::uint8_t {
  kNoHeadset,         // no Device path; "未发现设备或访问被拒绝！" shown
  kCancelled,         // no image chosen; nothing shown
  kImageTooLarge,     // refused before the headset was touched
  kBootAccessFailed,  // the boot firmware could not be reached; "引导访问失败。" shown
  kFailed,            // "Update Err!" and "升级失败。"
  kSucceeded,         // "Update OK!"
};

// `imagePath` is the image chosen last time, reused without asking while it still opens, and
// replaced when the user chooses another; `location` is the Device path, which the search after
// the restart updates. The reboot is asked with a "Reboot?" box.
UpgradeOutcome UpgradeFirmware(HidLink& link, Clock& clock, FileSystem& files, UserInterface& ui,
                               HeadsetLocation& location, std::string& imagePath);

}  // namespace obrint
