#include "device/upgrade.h"

#include <algorithm>

#include "device/bytes.h"
#include "device/checksum.h"
#include "device/image.h"

namespace obrint {
namespace {

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

FirmwareUpgrade::FirmwareUpgrade(HidBus& bus, Clock& clock, std::span<const std::uint8_t> image,
                                 UpgradeHooks hooks)
    : bus_(bus), clock_(clock), image_(image), hooks_(std::move(hooks)) {}

void FirmwareUpgrade::Tell(UpgradeStep step, std::string_view path, std::uint16_t value) {
  if (hooks_.onStep) hooks_.onStep({step, path, value});
}

Failure FirmwareUpgrade::SendFailure(Failure refused) {
  return bus_.Open(path_) ? refused : Failure::kUnplugged;
}

Status FirmwareUpgrade::Run(const std::string& path) {
  // The Begin packet carries the size in 16 bits: a larger image never reaches the headset.
  if (image_.size() > kMaxImageSize) return Failure::kImageTooLarge;
  path_ = path;
  device_ = bus_.Open(path_);
  if (!device_) return Failure::kNotOpened;
  session_ = bus_.OpenSession();
  if (const Status entered = EnterBootFirmware(path); !entered) return entered;
  if (const Result<std::uint16_t> version = ReadVersion(*device_, aBuf_)) {
    state_.bootVersion = *version;
    Tell(UpgradeStep::kBootVersion, {}, *version);
  }
  return Transfer();
}

Status FirmwareUpgrade::EnterBootFirmware(const std::string& path) {
  // A headset that does not answer the probe runs its boot firmware already.
  if (!GetReport58(*device_, aBuf_)) {
    state_.bootPath = path;
    return {};
  }
  const bool restarting = SetReport58(*device_, 1);
  // The headset goes, and with it the interface; the session stays for the boot firmware.
  device_.reset();
  if (!restarting) return Failure::kRestartRefused;
  state_.restarted = true;
  Tell(UpgradeStep::kRestarting);

  const std::optional<std::string> found =
      AwaitInterface(clock_, hooks_.bootSearchMs, hooks_.findBootFirmware);
  if (!found) return Failure::kBootNotFound;
  path_ = *found;
  device_ = bus_.Open(path_);
  if (!device_) return Failure::kBootNotOpened;
  if (hooks_.isOwnBootFirmware && !hooks_.isOwnBootFirmware(*device_)) {
    return Failure::kNotIdentified;
  }
  state_.bootPath = path_;
  Tell(UpgradeStep::kBootFound, path_);
  clock_.Sleep(kBootOpenWaitMs);
  return {};
}

Status FirmwareUpgrade::SendBlocks(bool beginSent, std::uint32_t& total) {
  const auto size = static_cast<std::uint32_t>(image_.size());
  std::uint32_t length = kTransferBlockSize;
  while (beginSent && state_.sent < size) {
    if (state_.sent + length > size) {
      length = size - state_.sent;
      // Zero the block's last, partial word so that its padding is zero.
      if (length % 4 != 0) std::fill_n(&aBuf_[kDataArea + length / 4 * 4], 4, std::uint8_t{0});
    }
    std::copy_n(&image_[state_.sent], length, &aBuf_[kDataArea]);

    const bool last = length == size - state_.sent;
    const std::uint32_t padded = RoundUpTo4(length);
    aBuf_[kCommandByte] = kData;
    WriteLe16(&aBuf_[kLengthField], static_cast<std::uint16_t>(last ? padded : length));
    const std::uint16_t sum = BlockSum(std::span(&aBuf_[kDataArea], padded));
    WriteLe16(&aBuf_[kSumField], sum);
    if (!SetReport61(*device_, aBuf_)) return SendFailure(Failure::kTransferRefused);

    clock_.Sleep(kBlockWaitMs);
    WriteLe16(&aBuf_[kSumField], 0);
    // An answer that cannot be read is not held against the block.
    if (GetReport61(*device_, aBuf_) && ReadLe16(&aBuf_[kSumField]) != sum) {
      return Failure::kBlockMismatch;
    }
    total += sum;
    state_.sent += length;
    if (hooks_.onProgress) hooks_.onProgress(state_.sent, size);
  }
  return {};
}

Status FirmwareUpgrade::Verify(std::uint16_t total) {
  aBuf_[0] = kTransferReport;
  aBuf_[kCommandByte] = kFinish;
  WriteLe16(&aBuf_[kSumField], total);
  Tell(UpgradeStep::kFinish);
  if (!SetReport61(*device_, aBuf_)) return SendFailure(Failure::kTransferRefused);
  clock_.Sleep(kFinishWaitMs);
  clock_.Sleep(kVerifyWaitMs);
  WriteLe16(&aBuf_[kSumField], 0);
  if (!GetReport61(*device_, aBuf_)) return SendFailure(Failure::kTransferRefused);
  const std::uint16_t answer = ReadLe16(&aBuf_[kSumField]);
  Tell(UpgradeStep::kTotal, {}, answer);
  if (answer != total) return Failure::kTotalMismatch;
  return {};
}

Status FirmwareUpgrade::Reboot() {
  // The rest of aBuf still holds the headset's answer to Finish.
  aBuf_[0] = kTransferReport;
  aBuf_[kCommandByte] = kReboot;
  if (hooks_.confirmReboot && !hooks_.confirmReboot()) return Failure::kRebootDeclined;
  if (!SetReport61(*device_, aBuf_)) return SendFailure(Failure::kRebootRefused);
  Tell(UpgradeStep::kRebooting);
  return {};
}

Status FirmwareUpgrade::Transfer() {
  const auto size = static_cast<std::uint32_t>(image_.size());
  aBuf_[0] = kTransferReport;
  aBuf_[kCommandByte] = kBegin;
  WriteLe16(&aBuf_[kLengthField], static_cast<std::uint16_t>(size));
  const bool beginSent = SetReport61(*device_, aBuf_);
  if (beginSent) Tell(UpgradeStep::kBegin);
  clock_.Sleep(kBeginWaitMs);

  std::uint32_t total = 0;
  if (const Status sent = SendBlocks(beginSent, total); !sent) return sent;
  // Only an image whose every block went out is finished.
  if (state_.sent != size) return SendFailure(Failure::kTransferRefused);
  if (const Status verified = Verify(Fold(total)); !verified) return verified;
  return Reboot();
}

void FirmwareUpgrade::Release() {
  session_.reset();
  device_.reset();
}

}  // namespace obrint
