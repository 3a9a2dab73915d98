// Writing a firmware image into the headset: restart into the boot firmware, stream the image in
// checksummed blocks through the transfer report, have the headset confirm the whole, reboot.
#pragma once

#include <cstdint>
#include <string>

#include "core/ports.h"

namespace obrint {

// Images this large or larger do not fit the 16-bit length of the Begin packet.
inline constexpr std::uint32_t kMaxImageSize = 65535;

enum class UpgradeOutcome : std::uint8_t {
  kNoHeadset,         // no Device path; "未发现设备或访问被拒绝！" shown
  kCancelled,         // no image chosen; nothing shown
  kImageTooLarge,     // refused before the headset was touched
  kBootAccessFailed,  // the boot firmware could not be reached; "引导访问失败。" shown
  kFailed,            // "Update Err!" and "升级失败。"
  kSucceeded,         // "Update OK!"
};

// The command behind "升级固件程序". `imagePath` is the image chosen last time, reused without
// asking while it still opens, and replaced when the user chooses another; `location` is the
// Device path, which the search after the restart updates.
UpgradeOutcome UpgradeFirmware(HidLink& link, Clock& clock, FileSystem& files, UserInterface& ui,
                               HeadsetLocation& location, std::string& imagePath);

}  // namespace obrint
