#include "presenters/firmware_upgrade.h"

#include <vector>

#include "device/image.h"
#include "device/text.h"
#include "device/upgrade.h"

namespace obrint::presenters {
namespace {

constexpr char kBoxBody[] = "Update";

bool FindHeadset(HidBus& bus, HeadsetLocation& location) {
  if (location.devicePath.empty()) {
    if (auto path = bus.Find(location.vid, location.pid)) location.devicePath = *path;
  }
  return !location.devicePath.empty();
}

// The image chosen last time while it still opens, else the user's choice (not yet opened).
std::unique_ptr<ImageFile> ChooseImage(FileSystem& files, UserInterface& ui,
                                       std::string& imagePath) {
  std::unique_ptr<ImageFile> image;
  if (!imagePath.empty()) image = files.OpenForReading(imagePath);
  if (!image) {
    imagePath = ui.ChooseImageFile();
  }
  return image;
}

Status Failed(UserInterface& ui, Failure failure) {
  ui.SetCaption("Update Err!");
  ui.ShowWindowBox(kBoxBody, "升级失败。", kBoxOk);
  return failure;
}

}  // namespace

Status UpgradeFirmware(HidBus& bus, Clock& clock, FileSystem& files, UserInterface& ui,
                       HeadsetLocation& location, std::string& imagePath) {
  if (!FindHeadset(bus, location)) {
    ui.ShowWindowBox(kBoxBody, "未发现设备或访问被拒绝！", kBoxOk);
    return Failure::kNoHeadset;
  }
  std::unique_ptr<ImageFile> file = ChooseImage(files, ui, imagePath);
  if (imagePath.empty()) return Failure::kCancelled;
  if (!file) file = files.OpenForReading(imagePath);
  if (!file) return Failed(ui, Failure::kFileNotOpened);
  // Read once, before the headset is touched; the file stays open, unshared, until the end.
  const std::optional<std::uint32_t> size = file->Size();
  if (size && *size > kMaxImageSize) {
    file.reset();
    ui.SetCaption("Update Err!");
    ui.ShowWindowBox(kBoxBody, "固件文件过大！", kBoxOk);
    return Failure::kImageTooLarge;
  }
  std::vector<std::uint8_t> image(size.value_or(0));
  if (!size || (*size > 0 && !file->Read(image.data(), *size))) {
    file.reset();
    return Failed(ui, Failure::kFileUnreadable);
  }

  UpgradeHooks hooks;
  // One search after the restart; where it finds nothing, the Device path as it was.
  hooks.findBootFirmware = [&]() -> std::optional<std::string> {
    if (auto path = bus.Find(kHeadsetVendorId, kBootProductId)) location.devicePath = *path;
    return location.devicePath;
  };
  hooks.onStep = [&ui](const UpgradeEvent& event) {
    if (event.step == UpgradeStep::kBootVersion) {
      ui.ShowStatus("引导固件版本 " + FormatHex(event.value, 4) + "\r\n");
    }
  };
  hooks.confirmReboot = [&ui] {
    return ui.ShowWindowBox(kBoxBody, "Reboot?", kBoxYesNo) == kAnswerYes;
  };
  FirmwareUpgrade upgrade(bus, clock, image, std::move(hooks));
  const Status status = upgrade.Run(location.devicePath);
  const bool bootUnreached = status == Failure::kRestartRefused ||
                             status == Failure::kBootNotFound || status == Failure::kBootNotOpened;
  // Told while the session is still held, as the boot firmware was never reached.
  if (bootUnreached) ui.ShowWindowBox(kBoxBody, "引导访问失败。", kBoxOk);
  upgrade.Release();
  if (bootUnreached) return status;
  // Every other ending lets the session and the headset go, then the image, and only then speaks.
  file.reset();
  if (!status) return Failed(ui, status.failure());
  ui.SetCaption("Update OK!");
  return {};
}

}  // namespace obrint::presenters
