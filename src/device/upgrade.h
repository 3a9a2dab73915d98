// The firmware upgrade as one sequence: restart the headset into its boot firmware, find it
// again, stream the image in checksummed blocks through the transfer report, have the headset
// confirm the whole, reboot it. Every front end runs this one sequence; they differ in its hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "device/clock.h"
#include "device/failure.h"
#include "device/headset.h"
#include "device/hid_bus.h"
#include "device/reports.h"

namespace obrint {

enum class UpgradeStep : std::uint8_t {
  kRestarting,   // the headset took the Restart report into its boot firmware
  kBootFound,    // `path`: the boot firmware's interface, open and taken as this headset's
  kBootVersion,  // `value`: the boot firmware's version
  kBegin,        // the Begin packet went out
  kFinish,       // every block went out; the Finish packet goes out
  kTotal,        // `value`: the image total as the headset answered it
  kRebooting,    // the Reboot packet went out
};

struct UpgradeEvent {
  UpgradeStep step;
  std::string_view path;
  std::uint16_t value = 0;
};

struct UpgradeHooks {
  // How long the boot firmware is waited for after the restart, at AwaitInterface's pace: the
  // window looks once, after kBootSearchMs.
  unsigned bootSearchMs = kBootSearchMs;
  // One look for the interface of the boot firmware that this headset restarted into. Required.
  InterfaceSearch findBootFirmware;
  // Whether the boot firmware just opened is this headset's (it may read reports, in a buffer of
  // its own); Failure::kNotIdentified when not. Empty: it is taken as found.
  std::function<bool(HidDevice& boot)> isOwnBootFirmware;
  std::function<void(const UpgradeEvent& event)> onStep;
  // After each Data block the headset has taken.
  std::function<void(std::uint32_t sent, std::uint32_t size)> onProgress;
  // Asked once the headset has confirmed the whole image: whether to reboot it. Empty: reboot.
  std::function<bool()> confirmReboot;
};

// What a run got to know, however far it went.
struct UpgradeState {
  bool restarted = false;  // the headset ran its application firmware and took the restart
  std::string bootPath;    // the boot firmware's interface, once found
  std::optional<std::uint16_t> bootVersion;
  std::uint32_t sent = 0;  // image bytes the headset took
};

// One upgrade with the image `image` (at most kMaxImageSize bytes, written exactly as they are).
// Every byte of the report buffer that a step does not name keeps what the previous exchange left
// there: the headset sees exactly that.
class FirmwareUpgrade {
 public:
  FirmwareUpgrade(HidBus& bus, Clock& clock, std::span<const std::uint8_t> image,
                  UpgradeHooks hooks);
  ~FirmwareUpgrade() { Release(); }
  FirmwareUpgrade(const FirmwareUpgrade&) = delete;
  FirmwareUpgrade& operator=(const FirmwareUpgrade&) = delete;

  // Runs every step on the headset at `path` until one fails. A headset that does not answer the
  // Restart report runs its boot firmware already and is written at `path`. The headset and the
  // bus's session stay held until Release().
  Status Run(const std::string& path);
  const UpgradeState& state() const { return state_; }
  void Release();  // the bus's session first, then the headset

 private:
  Status EnterBootFirmware(const std::string& path);
  Status Transfer();
  Status SendBlocks(bool beginSent, std::uint32_t& total);
  Status Verify(std::uint16_t total);
  Status Reboot();
  // Why a packet did not go through: the headset left the bus, or refused it.
  Failure SendFailure(Failure refused);
  void Tell(UpgradeStep step, std::string_view path = {}, std::uint16_t value = 0);

  HidBus& bus_;
  Clock& clock_;
  std::span<const std::uint8_t> image_;
  UpgradeHooks hooks_;
  UpgradeState state_;
  std::string path_;  // of the interface being written
  // In this order: the session goes before the device closes.
  std::unique_ptr<HidDevice> device_;
  std::unique_ptr<HidBus::Session> session_;
  ReportBuffer aBuf_{};
};

}  // namespace obrint
