// The firmware upgrade as data: restart into the boot firmware, stream the image in checksummed
// blocks through the transfer report, have the headset confirm the whole, reboot.
#include <algorithm>

#include "core/checksum.h"
#include "core/headset.h"

namespace obrint {
namespace {

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
constexpr unsigned kBootOpenWaitMs = 100;
constexpr unsigned kBeginWaitMs = 10;
constexpr unsigned kBlockWaitMs = 10;
constexpr unsigned kFinishWaitMs = 20;
constexpr unsigned kVerifyWaitMs = 100;

constexpr std::uint32_t RoundUpTo4(std::uint32_t n) { return (n + 3) & ~std::uint32_t{3}; }

}  // namespace

FirmwareUpgrade::FirmwareUpgrade(HidLink& link, Clock& clock, HeadsetLocation& location,
                                 ImageFile& image, const UpgradeOptions& options)
    : link_(link), clock_(clock), location_(location), image_(image), options_(options) {}

bool FirmwareUpgrade::Fail(UpgradeFailure why) {
  failure_ = why;
  return false;
}

bool FirmwareUpgrade::CheckImage() {
  imageSize_ = image_.Size();
  if (imageSize_ == kInvalidFileSize) return Fail(UpgradeFailure::kImageUnreadable);
  if (imageSize_ > kMaxImageSize) return Fail(UpgradeFailure::kImageTooLarge);
  return true;
}

bool FirmwareUpgrade::OpenHeadset() {
  device_ = link_.OpenHidDevice(location_.devicePath);
  if (!device_) return Fail(UpgradeFailure::kHeadsetNotOpened);
  binding_.emplace(link_);
  return true;
}

bool FirmwareUpgrade::EnterBootFirmware() {
  // A headset that does not answer the probe runs its boot firmware already.
  if (!GetReport58(*device_, aBuf_)) return true;

  const bool restarting = SetReport58(*device_, 1);
  device_.reset();
  if (!restarting) return Fail(UpgradeFailure::kRestartRefused);
  const std::optional<std::string> found =
      options_.findBootFirmware
          ? AwaitInterface(clock_, options_.bootSearchMs, options_.findBootFirmware)
          : AwaitBootFirmware(link_, clock_, options_.bootSearchMs);
  if (found) location_.devicePath = *found;
  device_ = link_.OpenHidDevice(location_.devicePath);
  if (!device_) return Fail(found ? UpgradeFailure::kBootNotOpened : UpgradeFailure::kBootNotFound);
  clock_.Sleep(kBootOpenWaitMs);
  return true;
}

std::optional<std::uint16_t> FirmwareUpgrade::ReadBootVersion() {
  if (!GetReport5F(*device_, aBuf_)) return std::nullopt;
  return ReadLe16(&aBuf_[3]);
}

bool FirmwareUpgrade::SendBlocks(bool beginSent, std::uint32_t& total) {
  std::uint32_t length = kTransferBlockSize;
  while (beginSent && sent_ < imageSize_) {
    if (sent_ + length > imageSize_) {
      length = imageSize_ - sent_;
      // Zero the block's last, partial word so that its padding is zero.
      if (length % 4 != 0) std::fill_n(&aBuf_[kDataArea + length / 4 * 4], 4, std::uint8_t{0});
    }
    // A block missing from the image must never end in success.
    if (!image_.Read(&aBuf_[kDataArea], length)) return Fail(UpgradeFailure::kImageUnreadable);

    const bool last = length == imageSize_ - sent_;
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
    sent_ += length;
    if (options_.onProgress) options_.onProgress(sent_, imageSize_);
  }
  return true;
}

bool FirmwareUpgrade::Verify(std::uint16_t total) {
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

bool FirmwareUpgrade::Reboot() {
  // The rest of aBuf still holds the headset's answer to Finish.
  aBuf_[0] = kTransferReport;
  aBuf_[kCommandByte] = kReboot;
  if (options_.confirmReboot && !options_.confirmReboot()) {
    return Fail(UpgradeFailure::kRebootDeclined);
  }
  if (!SetReport61(*device_, aBuf_)) return Fail(UpgradeFailure::kRebootRefused);
  return true;
}

bool FirmwareUpgrade::Transfer() {
  aBuf_[0] = kTransferReport;
  aBuf_[kCommandByte] = kBegin;
  WriteLe16(&aBuf_[kLengthField], static_cast<std::uint16_t>(imageSize_));
  const bool beginSent = SetReport61(*device_, aBuf_);
  clock_.Sleep(kBeginWaitMs);

  std::uint32_t total = 0;
  if (!SendBlocks(beginSent, total)) return false;
  // Only an image whose every block went out is finished.
  if (sent_ != imageSize_) return Fail(UpgradeFailure::kTransferRefused);
  return Verify(Fold(total)) && Reboot();
}

void FirmwareUpgrade::Release() {
  binding_.reset();
  device_.reset();
}

UpgradeResult WriteFirmware(HidLink& link, Clock& clock, HeadsetLocation& location,
                            ImageFile& image, const UpgradeOptions& options) {
  FirmwareUpgrade upgrade(link, clock, location, image, options);
  UpgradeResult result;
  if (upgrade.CheckImage() && upgrade.OpenHeadset() && upgrade.EnterBootFirmware()) {
    result.bootVersion = upgrade.ReadBootVersion();
    upgrade.Transfer();
  }
  upgrade.Release();
  result.failure = upgrade.failure();
  result.sent = upgrade.sent();
  return result;
}

}  // namespace obrint
