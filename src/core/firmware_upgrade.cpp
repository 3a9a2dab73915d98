#include "core/firmware_upgrade.h"

#include "core/text.h"

namespace obrint {
namespace {

constexpr char kBoxBody[] = "Update";

bool FindHeadset(HidLink& link, HeadsetLocation& location) {
  if (location.devicePath.empty()) {
    if (auto path = link.FindHidDevicePath(kHidClassGuidText, location.vid, location.pid)) {
      location.devicePath = *path;
    }
  }
  return !location.devicePath.empty();
}

// The image chosen last time while it still opens, else the user's choice (not yet opened).
std::unique_ptr<ImageFile> ChooseImage(FileSystem& files, UserInterface& ui,
                                       std::string& imagePath) {
  std::unique_ptr<ImageFile> image;
  if (!imagePath.empty()) image = files.OpenForReading(imagePath);
  if (!image) {
    imagePath.clear();
    imagePath = ui.ChooseImageFile();
  }
  return image;
}

UpgradeOutcome Succeeded(UserInterface& ui) {
  ui.SetCaption("Update OK!");
  return UpgradeOutcome::kSucceeded;
}

UpgradeOutcome Failed(UserInterface& ui) {
  ui.SetCaption("Update Err!");
  ui.ShowWindowBox(kBoxBody, "升级失败。", kBoxOk);
  return UpgradeOutcome::kFailed;
}

}  // namespace

UpgradeOutcome UpgradeFirmware(HidLink& link, Clock& clock, FileSystem& files, UserInterface& ui,
                               HeadsetLocation& location, std::string& imagePath) {
  if (!FindHeadset(link, location)) {
    ui.ShowWindowBox(kBoxBody, "未发现设备或访问被拒绝！", kBoxOk);
    return UpgradeOutcome::kNoHeadset;
  }
  std::unique_ptr<ImageFile> image = ChooseImage(files, ui, imagePath);
  if (imagePath.empty()) return UpgradeOutcome::kCancelled;
  if (!image) image = files.OpenForReading(imagePath);

  if (!image) return Failed(ui);

  UpgradeOptions options;
  options.confirmReboot = [&ui] {
    return ui.ShowWindowBox(kBoxBody, "Reboot?", kBoxYesNo) == kAnswerYes;
  };
  FirmwareUpgrade upgrade(link, clock, location, *image, options);
  // Every ending releases the library, then the headset, then the image, and only then speaks.
  const auto end = [&](bool succeeded) {
    upgrade.Release();
    image.reset();
    return succeeded ? Succeeded(ui) : Failed(ui);
  };
  if (!upgrade.CheckImage()) {
    if (upgrade.failure() != UpgradeFailure::kImageTooLarge) return end(false);
    // Refused before the headset is touched.
    image.reset();
    ui.SetCaption("Update Err!");
    ui.ShowWindowBox(kBoxBody, "固件文件过大！", kBoxOk);
    return UpgradeOutcome::kImageTooLarge;
  }
  if (!upgrade.OpenHeadset()) return end(false);
  if (!upgrade.EnterBootFirmware()) {
    ui.ShowWindowBox(kBoxBody, "引导访问失败。", kBoxOk);
    upgrade.Release();
    image.reset();
    return UpgradeOutcome::kBootAccessFailed;
  }
  if (const auto version = upgrade.ReadBootVersion()) {
    ui.ShowStatus("引导固件版本 " + FormatHex(*version, 4) + "\r\n");
  }
  return end(upgrade.Transfer());
}

}  // namespace obrint
