#include "device/headset.h"

#include <algorithm>

namespace obrint {
namespace {

// Time the headset needs to restart into the mode just written.
constexpr unsigned kModeRestartWaitMs = 3000;
// After the first look for an interface, the pace of the others.
constexpr unsigned kPollMs = 100;

}  // namespace

OpenHeadset::OpenHeadset(HidBus& bus, const std::string& path) : device_(bus.Open(path)) {
  if (device_) session_ = bus.OpenSession();
}

void OpenHeadset::Close() {
  session_.reset();
  device_.reset();
}

Result<HeadsetInfo> ReadHeadsetInfo(HidBus& bus, const std::string& path) {
  OpenHeadset headset(bus, path);
  if (!headset) return Failure::kNotOpened;
  HeadsetInfo info;
  ReportBuffer aBuf{};
  if (const Result<std::uint16_t> version = ReadVersion(headset.device(), aBuf)) {
    info.firmwareVersion = *version;
  }
  if (const Result<McuId> id = ReadMcuId(headset.device(), aBuf)) info.mcuId = *id;
  return info;
}

Result<RunModeState> ReadHeadsetRunMode(HidBus& bus, const std::string& path) {
  OpenHeadset headset(bus, path);
  if (!headset) return Failure::kNotOpened;
  ReportBuffer aBuf{};
  const Result<std::uint16_t> version = ReadVersion(headset.device(), aBuf);
  if (!version) return version.failure();
  RunModeState state{*version, std::nullopt};
  if (*version < kMinRunModeVersion) return state;
  const Result<RunMode> mode = ReadRunMode(headset.device(), aBuf);
  if (!mode) return mode.failure();
  state.mode = *mode;
  return state;
}

Status SwitchRunMode(HidBus& bus, Clock& clock, const std::string& path, RunMode mode) {
  OpenHeadset headset(bus, path);
  if (!headset) return Failure::kNotOpened;
  const Status written = WriteRunMode(headset.device(), mode);
  if (written) SetReport58(headset.device(), 0);
  headset.Close();
  if (!written) return written;
  clock.Sleep(kModeRestartWaitMs);
  return {};
}

std::optional<std::string> AwaitInterface(Clock& clock, unsigned timeoutMs,
                                          const InterfaceSearch& search) {
  // An interface can show up before its firmware answers: no look before the first wait.
  unsigned waited = 0;
  for (;;) {
    const unsigned step = std::min(waited == 0 ? kBootSearchMs : kPollMs, timeoutMs - waited);
    if (step > 0) clock.Sleep(step);
    waited += step;
    if (auto path = search()) return path;
    if (waited >= timeoutMs) return std::nullopt;
  }
}

}  // namespace obrint
