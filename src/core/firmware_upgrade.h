// Writing a firmware image into the headset: restart into the boot firmware, stream the image in
// checksummed blocks through the transfer report, have the headset confirm the whole, reboot.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
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

// Why a run did not succeed, finer than the outcome, for front ends that tell failures apart.
enum class UpgradeFailure : std::uint8_t {
  kNone,
  kNoHeadset,         // no Device path
  kCancelled,         // no image chosen
  kImageUnreadable,   // the image does not open, its size cannot be had, or a block cannot be read
  kImageTooLarge,     // the size does not fit the Begin packet
  kHeadsetNotOpened,  // the Device path does not open
  kRestartRefused,    // the headset refused the Restart report
  kBootNotFound,      // the boot firmware did not show up, or did not open, after the restart
  kTransferRefused,   // a Begin, Data or Finish packet, or the Finish answer, did not go through
  kBlockMismatch,     // the headset's sum of a block differs from the host's
  kTotalMismatch,     // the headset's image total differs from the host's
  kRebootDeclined,    // the user did not confirm the reboot
  kRebootRefused,     // the Reboot packet did not go through
};

// How a front end other than the window runs the same procedure. Default-constructed, the run is
// exactly the window's.
struct UpgradeOptions {
  // Finds the boot firmware's interface once the headset has accepted the restart, waiting on the
  // clock as it sees fit; nullopt when it did not show up. Empty: wait 2000 ms, then search once
  // under vendor 0x2833 and product 0x0001.
  std::function<std::optional<std::string>(HidLink&, Clock&)> findBootFirmware;
  // The boot firmware's version, when the headset gave it.
  std::function<void(std::uint16_t version)> onBootVersion;
  // After each Data block the headset has taken: bytes sent so far, and the image size.
  std::function<void(std::uint32_t sent, std::uint32_t size)> onProgress;
};

// The same procedure and packets, with the front end's options; `why` (optional) receives the
// reason of a run that did not succeed, kNone otherwise.
UpgradeOutcome UpgradeFirmware(HidLink& link, Clock& clock, FileSystem& files, UserInterface& ui,
                               HeadsetLocation& location, std::string& imagePath,
                               const UpgradeOptions& options, UpgradeFailure* why = nullptr);

}  // namespace obrint
