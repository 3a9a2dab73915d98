#include "core/headset.h"

#include <algorithm>

#include "core/text.h"

namespace obrint {
namespace {

// Time the headset needs to restart into the mode just written.
constexpr unsigned kModeRestartWaitMs = 3000;
// After a restart into the boot firmware: the first search, then the pace of the others.
constexpr unsigned kFirstBootSearchMs = 2000;
constexpr unsigned kBootPollMs = 100;

// The interface at `path`, open, with the HID library bound while it is; empty when it does not
// open.
class OpenInterface {
 public:
  OpenInterface(HidLink& link, const std::string& path) : device_(link.OpenHidDevice(path)) {
    if (device_) binding_.emplace(link);
  }
  explicit operator bool() const { return device_ != nullptr; }
  HidDevice& device() { return *device_; }

 private:
  // In this order: the library is freed before the device closes.
  std::unique_ptr<HidDevice> device_;
  std::optional<HidLibraryBinding> binding_;
};

}  // namespace

std::string FormatMcuId(const McuId& id) {
  return FormatHex(ReadLe32(&id[0]), 8) + FormatHex(ReadLe32(&id[4]), 8) +
         FormatHex(ReadLe32(&id[8]), 8);
}

std::optional<HeadsetInfo> ReadHeadsetInfo(HidLink& link, const std::string& devicePath) {
  if (devicePath.empty()) return std::nullopt;
  OpenInterface headset(link, devicePath);
  if (!headset) return std::nullopt;
  HeadsetInfo info;
  ReportBuffer aBuf{};
  if (GetReport5F(headset.device(), aBuf)) info.firmwareVersion = ReadLe16(&aBuf[3]);
  if (GetReport60(headset.device(), aBuf)) {
    info.mcuId.emplace();
    std::copy_n(&aBuf[3], info.mcuId->size(), info.mcuId->begin());
  }
  return info;
}

std::optional<FirmwareKind> ProbeFirmware(HidLink& link, const std::string& devicePath) {
  OpenInterface headset(link, devicePath);
  if (!headset) return std::nullopt;
  ReportBuffer aBuf{};
  return GetReport58(headset.device(), aBuf) ? FirmwareKind::kApplication : FirmwareKind::kBoot;
}

RunModeReading ReadRunMode(HidLink& link, const std::string& devicePath) {
  RunModeReading reading;
  OpenInterface headset(link, devicePath);
  if (!headset) return reading;
  reading.status = RunModeStatus::kNotReadable;
  ReportBuffer aBuf{};
  if (!GetReport5F(headset.device(), aBuf)) return reading;
  reading.firmwareVersion = ReadLe16(&aBuf[3]);
  if (*reading.firmwareVersion < kMinRunModeVersion) {
    reading.status = RunModeStatus::kNoRunMode;
  } else if (GetReport59(headset.device(), aBuf)) {
    reading.status = RunModeStatus::kRead;
    reading.mode = aBuf[3] == kRunModeDk1 ? RunMode::kDk1 : RunMode::kDk2;
  }
  return reading;
}

RunModeWrite WriteRunMode(HidLink& link, Clock& clock, const std::string& devicePath,
                          RunMode mode) {
  bool written = false;
  {
    OpenInterface headset(link, devicePath);
    if (!headset) return RunModeWrite::kNotOpened;
    written = SetReport59(headset.device(), mode == RunMode::kDk1 ? kRunModeDk1 : kRunModeDk2);
    if (written) SetReport58(headset.device(), 0);
  }
  if (!written) return RunModeWrite::kRefused;
  clock.Sleep(kModeRestartWaitMs);
  return RunModeWrite::kWritten;
}

std::optional<std::string> AwaitInterface(Clock& clock, unsigned timeoutMs,
                                          const InterfaceSearch& search) {
  // An interface can show up before its firmware answers: no search before the first wait.
  unsigned waited = 0;
  for (;;) {
    const unsigned step =
        std::min(waited == 0 ? kFirstBootSearchMs : kBootPollMs, timeoutMs - waited);
    if (step > 0) clock.Sleep(step);
    waited += step;
    if (auto path = search()) return path;
    if (waited >= timeoutMs) return std::nullopt;
  }
}

std::optional<std::string> AwaitBootFirmware(HidLink& link, Clock& clock, unsigned timeoutMs) {
  return AwaitInterface(clock, timeoutMs, [&link] {
    return link.FindHidDevicePath(kHidClassGuidText, kHeadsetVendorId, kBootProductId);
  });
}

}  // namespace obrint
