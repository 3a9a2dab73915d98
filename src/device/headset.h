// The headset as data: its identity, firmware version and run mode, read and written as values
// for every front end. Every operation opens the interface at the given path as an OpenHeadset
// and lets it go before it returns.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/clock.h"
#include "device/failure.h"
#include "device/hid_bus.h"
#include "device/reports.h"

namespace obrint {

// An interface, open, with the bus's session held while it is; empty when it does not open.
// Closing lets the session go first, then the device.
class OpenHeadset {
 public:
  OpenHeadset(HidBus& bus, const std::string& path);
  explicit operator bool() const { return device_ != nullptr; }
  HidDevice& device() { return *device_; }
  void Close();

 private:
  // In this order: the session goes before the device closes.
  std::unique_ptr<HidDevice> device_;
  std::unique_ptr<HidBus::Session> session_;
};

struct HeadsetInfo {
  std::optional<std::uint16_t> firmwareVersion;  // nullopt: the Version report was refused
  std::optional<McuId> mcuId;                    // nullopt: the MCU ID report was refused
};

// The version of the firmware running and the MCU ID. Failure::kNotOpened when the path does not
// open.
Result<HeadsetInfo> ReadHeadsetInfo(HidBus& bus, const std::string& path);

struct RunModeState {
  std::uint16_t firmwareVersion = 0;
  std::optional<RunMode> mode;  // nullopt: the firmware is older than kMinRunModeVersion
};

// The firmware version, then, where the firmware has one, the run mode. Failure::kNotOpened, or
// kReportRefused when the Version or the Run mode report was refused.
Result<RunModeState> ReadHeadsetRunMode(HidBus& bus, const std::string& path);

// Writes the mode and restarts the headset into it (the restart's own result does not count),
// then gives it 3000 ms to come back. A refused mode (Failure::kRunModeRefused) is neither
// retried nor followed by a restart.
Status SwitchRunMode(HidBus& bus, Clock& clock, const std::string& path, RunMode mode);

// The wait that a restart into the boot firmware takes before the headset can be found again.
inline constexpr unsigned kBootSearchMs = 2000;

// One look for an interface: its path, or nullopt while it is not there.
using InterfaceSearch = std::function<std::optional<std::string>()>;

// Waits for an interface after a restart: a first look once kBootSearchMs (or `timeoutMs`, if
// shorter) have passed, then one every 100 ms until it is found or `timeoutMs` have passed.
std::optional<std::string> AwaitInterface(Clock& clock, unsigned timeoutMs,
                                          const InterfaceSearch& search);

}  // namespace obrint
