#include "core/firmware_upgrade.h"

#include <algorithm>

#include "core/checksum.h"
#include "core/reports.h"
#include "core/text.h"

namespace obrint {
namespace {

constexpr char kBoxBody[] = "Update";
constexpr std::uint32_t kInvalidFileSize = 0xFFFFFFFF;

// Transfer commands in byte 3 of the transfer report.
constexpr std::uint8_t kBegin = 0x5A;
constexpr std::uint8_t kData = 0x02;
constexpr std::uint8_t kFinish = 0x10;
constexpr std::uint8_t kReboot = 0x11;

// Byte offsets in the transfer report.
constexpr std::size_t kCommandByte = 3;
constexpr std::size_t kSumField = 4;
constexpr std::size_t kLengthField = 6;
constexpr std::size_t kDataArea = 8;

// The headset is paced by fixed waits, not by its answers.
constexpr unsigned kRestartWaitMs = 2000;
constexpr unsigned kBootOpenWaitMs = 100;
constexpr unsigned kBeginWaitMs = 10;
constexpr unsigned kBlockWaitMs = 10;
constexpr unsigned kFinishWaitMs = 20;
constexpr unsigned kVerifyWaitMs = 100;

constexpr std::uint32_t RoundUpTo4(std::uint32_t n) { return (n + 3) & ~std::uint32_t{3}; }

// One run, holding what the run has acquired. Every byte of aBuf that a step does not name keeps
// what the previous exchange left there: the headset sees exactly that.
class UpgradeRun {
 public:
  UpgradeRun(HidLink& link, Clock& clock, FileSystem& files, UserInterface& ui,
             HeadsetLocation& location, std::string& imagePath, const UpgradeOptions& options)
      : link_(link),
        clock_(clock),
        files_(files),
        ui_(ui),
        location_(location),
        imagePath_(imagePath),
        options_(options) {}

  UpgradeOutcome Run();
  UpgradeFailure failure() const { return failure_; }

 private:
  bool FindHeadset();
  bool ChooseImage();
  // Restarts the headset into its boot firmware unless it runs it already; false when the boot
  // firmware cannot be reached.
  bool EnterBootFirmware();
  void ShowBootVersion();
  bool Transfer();
  bool SendBlocks(bool beginSent, std::uint32_t& sent, std::uint32_t& total);
  bool Verify(std::uint16_t total);
  bool Reboot();
  std::optional<std::string> FindBootFirmware();
  // Notes why the run fails; always false, so that a failing step can return it.
  bool Fail(UpgradeFailure why) {
    failure_ = why;
    return false;
  }
  UpgradeOutcome End(bool succeeded);

  HidLink& link_;
  Clock& clock_;
  FileSystem& files_;
  UserInterface& ui_;
  HeadsetLocation& location_;
  std::string& imagePath_;
  const UpgradeOptions& options_;
  UpgradeFailure failure_ = UpgradeFailure::kNone;

  std::unique_ptr<ImageFile> image_;
  std::uint32_t imageSize_ = 0;
  std::unique_ptr<HidDevice> device_;
  bool bound_ = false;
  ReportBuffer aBuf_{};
};

bool UpgradeRun::FindHeadset() {
  if (location_.devicePath.empty()) {
    if (auto path = link_.FindHidDevicePath(kHidClassGuidText, location_.vid, location_.pid)) {
      location_.devicePath = *path;
    }
  }
  return !location_.devicePath.empty();
}

bool UpgradeRun::ChooseImage() {
  if (!imagePath_.empty()) image_ = files_.OpenForReading(imagePath_);
  if (!image_) {
    imagePath_.clear();
    imagePath_ = ui_.ChooseImageFile();
  }
  return !imagePath_.empty();
}

bool UpgradeRun::EnterBootFirmware() {
  // A headset that does not answer the probe runs its boot firmware already.
  if (!GetReport58(*device_, aBuf_)) return true;

  const bool restarting = SetReport58(*device_, 1);
  device_.reset();
  if (!restarting) return Fail(UpgradeFailure::kRestartRefused);
  if (auto path = FindBootFirmware()) location_.devicePath = *path;
  device_ = link_.OpenHidDevice(location_.devicePath);
  if (!device_) return Fail(UpgradeFailure::kBootNotFound);
  clock_.Sleep(kBootOpenWaitMs);
  return true;
}

std::optional<std::string> UpgradeRun::FindBootFirmware() {
  if (options_.findBootFirmware) return options_.findBootFirmware(link_, clock_);
  clock_.Sleep(kRestartWaitMs);
  return link_.FindHidDevicePath(kHidClassGuidText, kHeadsetVendorId, kBootProductId);
}

void UpgradeRun::ShowBootVersion() {
  if (!GetReport5F(*device_, aBuf_)) return;
  const std::uint16_t version = ReadLe16(&aBuf_[3]);
  if (options_.onBootVersion) options_.onBootVersion(version);
  ui_.ShowStatus("引导固件版本 " + FormatHex(version, 4) + "\r\n");
}

bool UpgradeRun::SendBlocks(bool beginSent, std::uint32_t& sent, std::uint32_t& total) {
  std::uint32_t length = kTransferBlockSize;
  while (beginSent && sent < imageSize_) {
    if (sent + length > imageSize_) {
      length = imageSize_ - sent;
      // Zero the block's last, partial word so that its padding is zero.
      if (length % 4 != 0) std::fill_n(&aBuf_[kDataArea + length / 4 * 4], 4, std::uint8_t{0});
    }
    // A block missing from the image must never end in success.
    if (!image_->Read(&aBuf_[kDataArea], length)) return Fail(UpgradeFailure::kImageUnreadable);

    const bool last = length == imageSize_ - sent;
    const std::uint32_t padded = RoundUpTo4(length);
    aBuf_[kCommandByte] = kData;
    WriteLe16(&aBuf_[kLengthField], static_cast<std::uint16_t>(last ? padded : length));
    const std::uint16_t sum = BlockSum(std::span(&aBuf_[kDataArea], padded));
    WriteLe16(&aBuf_[kSumField], sum);
    if (!SetReport61(*device_, aBuf_)) return Fail(UpgradeFailure::kTransferRefused);

    clock_.Sleep(kBlockWaitMs);
    WriteLe16(&aBuf_[kSumField], 0);
    // An answer that cannot be read is not held against the block.
    if (GetReport61(*device_, aBuf_) && ReadLe16(&aBuf_[kSumField]) != sum) {
      return Fail(UpgradeFailure::kBlockMismatch);
    }
    total += sum;
    sent += length;
    if (options_.onProgress) options_.onProgress(sent, imageSize_);
  }
  return true;
}

bool UpgradeRun::Verify(std::uint16_t total) {
  aBuf_[0] = kTransferReport;
  aBuf_[kCommandByte] = kFinish;
  WriteLe16(&aBuf_[kSumField], total);
  if (!SetReport61(*device_, aBuf_)) return Fail(UpgradeFailure::kTransferRefused);
  clock_.Sleep(kFinishWaitMs);
  clock_.Sleep(kVerifyWaitMs);
  WriteLe16(&aBuf_[kSumField], 0);
  if (!GetReport61(*device_, aBuf_)) return Fail(UpgradeFailure::kTransferRefused);
  if (ReadLe16(&aBuf_[kSumField]) != total) return Fail(UpgradeFailure::kTotalMismatch);
  return true;
}

bool UpgradeRun::Reboot() {
  // The rest of aBuf still holds the headset's answer to Finish.
  aBuf_[0] = kTransferReport;
  aBuf_[kCommandByte] = kReboot;
  if (ui_.ShowWindowBox(kBoxBody, "Reboot?", kBoxYesNo) != kAnswerYes) {
    return Fail(UpgradeFailure::kRebootDeclined);
  }
  if (!SetReport61(*device_, aBuf_)) return Fail(UpgradeFailure::kRebootRefused);
  return true;
}

bool UpgradeRun::Transfer() {
  aBuf_[0] = kTransferReport;
  aBuf_[kCommandByte] = kBegin;
  WriteLe16(&aBuf_[kLengthField], static_cast<std::uint16_t>(imageSize_));
  const bool beginSent = SetReport61(*device_, aBuf_);
  clock_.Sleep(kBeginWaitMs);

  std::uint32_t sent = 0;
  std::uint32_t total = 0;
  if (!SendBlocks(beginSent, sent, total)) return false;
  // Only an image whose every block went out is finished.
  if (sent != imageSize_) return Fail(UpgradeFailure::kTransferRefused);
  return Verify(Fold(total)) && Reboot();
}

UpgradeOutcome UpgradeRun::End(bool succeeded) {
  if (bound_) link_.FreeHidLibrary();
  device_.reset();
  image_.reset();
  if (succeeded) {
    ui_.SetCaption("Update OK!");
    return UpgradeOutcome::kSucceeded;
  }
  ui_.SetCaption("Update Err!");
  ui_.ShowWindowBox(kBoxBody, "升级失败。", kBoxOk);
  return UpgradeOutcome::kFailed;
}

UpgradeOutcome UpgradeRun::Run() {
  if (!FindHeadset()) {
    Fail(UpgradeFailure::kNoHeadset);
    ui_.ShowWindowBox(kBoxBody, "未发现设备或访问被拒绝！", kBoxOk);
    return UpgradeOutcome::kNoHeadset;
  }
  if (!ChooseImage()) {
    Fail(UpgradeFailure::kCancelled);
    return UpgradeOutcome::kCancelled;
  }
  if (!image_) image_ = files_.OpenForReading(imagePath_);
  if (!image_) return End(Fail(UpgradeFailure::kImageUnreadable));

  // The Begin packet has 16 bits for the size: refuse what does not fit before the headset is
  // restarted.
  imageSize_ = image_->Size();
  if (imageSize_ == kInvalidFileSize) return End(Fail(UpgradeFailure::kImageUnreadable));
  if (imageSize_ > kMaxImageSize) {
    Fail(UpgradeFailure::kImageTooLarge);
    image_.reset();
    ui_.SetCaption("Update Err!");
    ui_.ShowWindowBox(kBoxBody, "固件文件过大！", kBoxOk);
    return UpgradeOutcome::kImageTooLarge;
  }

  device_ = link_.OpenHidDevice(location_.devicePath);
  if (!device_) return End(Fail(UpgradeFailure::kHeadsetNotOpened));
  link_.LoadHidLibrary();
  bound_ = true;

  if (!EnterBootFirmware()) {
    ui_.ShowWindowBox(kBoxBody, "引导访问失败。", kBoxOk);
    link_.FreeHidLibrary();
    image_.reset();
    return UpgradeOutcome::kBootAccessFailed;
  }
  ShowBootVersion();
  return End(Transfer());
}

}  // namespace

UpgradeOutcome UpgradeFirmware(HidLink& link, Clock& clock, FileSystem& files, UserInterface& ui,
                               HeadsetLocation& location, std::string& imagePath) {
  return UpgradeFirmware(link, clock, files, ui, location, imagePath, UpgradeOptions{});
}

UpgradeOutcome UpgradeFirmware(HidLink& link, Clock& clock, FileSystem& files, UserInterface& ui,
                               HeadsetLocation& location, std::string& imagePath,
                               const UpgradeOptions& options, UpgradeFailure* why) {
  UpgradeRun run(link, clock, files, ui, location, imagePath, options);
  const UpgradeOutcome outcome = run.Run();
  if (why) *why = run.failure();
  return outcome;
}

}  // namespace obrint
