// The headset as data: what its reports hold, read and written as values, for every front end.
// Nothing here shows anything; the window's commands (device_info.h, run_mode.h,
// firmware_upgrade.h) and obrint-cli turn these values into their own texts.
//
// Every operation opens the interface at the given path, binds the HID library for its
// transfers, and releases both before it returns: the library first, then the device.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/ports.h"
#include "core/reports.h"

namespace obrint {

// The microcontroller's ID: the 12 bytes of the MCU ID report, as they come.
using McuId = std::array<std::uint8_t, 12>;
// Its 24 hexadecimal digits: the three little-endian words, each as "%08X".
std::string FormatMcuId(const McuId& id);

struct HeadsetInfo {
  std::optional<std::uint16_t> firmwareVersion;  // nullopt: the Version report was refused
  std::optional<McuId> mcuId;                    // nullopt: the MCU ID report was refused
};

// The firmware version and MCU ID; nullopt when the path does not open.
std::optional<HeadsetInfo> ReadHeadsetInfo(HidLink& link, const std::string& devicePath);

enum class FirmwareKind : std::uint8_t { kApplication, kBoot };

// Which firmware the interface runs: the application firmware answers the Restart report, the
// boot firmware does not. nullopt when the path does not open.
std::optional<FirmwareKind> ProbeFirmware(HidLink& link, const std::string& devicePath);

// The lowest firmware version that has a run mode.
inline constexpr std::uint16_t kMinRunModeVersion = 0x0025;

enum class RunMode : std::uint8_t { kDk1, kDk2 };

enum class RunModeStatus : std::uint8_t {
  kRead,         // `mode` holds the run mode
  kNotOpened,    // the path does not open
  kNoRunMode,    // the firmware (`firmwareVersion`) is older than kMinRunModeVersion
  kNotReadable,  // the Version or the Run mode report was refused
};

struct RunModeReading {
  RunModeStatus status = RunModeStatus::kNotOpened;
  // Any byte other than DK1's reads as DK2, as the window shows it.
  RunMode mode = RunMode::kDk2;
  std::optional<std::uint16_t> firmwareVersion;
};

// The firmware version, then, where the firmware has one, the run mode.
RunModeReading ReadRunMode(HidLink& link, const std::string& devicePath);

enum class RunModeWrite : std::uint8_t { kNotOpened, kWritten, kRefused };

// Writes the mode and restarts the headset into it (the restart's own result does not count),
// then gives it 3000 ms to come back. A refused mode is neither retried nor followed by a
// restart.
RunModeWrite WriteRunMode(HidLink& link, Clock& clock, const std::string& devicePath, RunMode mode);

// One look for an interface: its path, or nullopt while it is not there.
using InterfaceSearch = std::function<std::optional<std::string>()>;

// Waits for an interface after a restart: a first search once 2000 ms (or `timeoutMs`, if
// shorter) have passed, then one every 100 ms until it is found or `timeoutMs` have passed.
// nullopt when it did not show up.
std::optional<std::string> AwaitInterface(Clock& clock, unsigned timeoutMs,
                                          const InterfaceSearch& search);

// AwaitInterface over the search under vendor 0x2833 and product 0x0001.
std::optional<std::string> AwaitBootFirmware(HidLink& link, Clock& clock, unsigned timeoutMs);

// Images this large or larger do not fit the 16-bit length of the Begin packet.
inline constexpr std::uint32_t kMaxImageSize = 65535;

// Why an upgrade did not succeed.
enum class UpgradeFailure : std::uint8_t {
  kNone,
  kNoHeadset,         // no Device path
  kCancelled,         // no image chosen
  kImageUnreadable,   // the image does not open, its size cannot be had, or a block cannot be read
  kImageTooLarge,     // the size does not fit the Begin packet
  kHeadsetNotOpened,  // the Device path does not open
  kRestartRefused,    // the headset refused the Restart report
  kBootNotFound,      // the boot firmware did not show up after the restart
  kBootNotOpened,     // it showed up, but did not open
  kTransferRefused,   // a Begin, Data or Finish packet, or the Finish answer, did not go through
  kBlockMismatch,     // the headset's sum of a block differs from the host's
  kTotalMismatch,     // the headset's image total differs from the host's
  kRebootDeclined,    // the reboot was not confirmed
  kRebootRefused,     // the Reboot packet did not go through
};

struct UpgradeOptions {
  // How long to wait for the boot firmware after the restart (AwaitBootFirmware); the window
  // searches once, after 2000 ms.
  unsigned bootSearchMs = 2000;
  // Where the boot firmware is looked for after the restart, at AwaitBootFirmware's pace. Empty:
  // the search under vendor 0x2833 and product 0x0001, as the window does it.
  InterfaceSearch findBootFirmware;
  // After each Data block the headset has taken: bytes sent so far, and the image size.
  std::function<void(std::uint32_t sent, std::uint32_t size)> onProgress;
  // Asked once the headset has confirmed the whole image: whether to reboot it. Empty: reboot.
  std::function<bool()> confirmReboot;
};

// One upgrade of the headset at location.devicePath with an open image file, step by step, so
// that a front end can speak between the steps. Each step returns false, with failure() set,
// when the run cannot go on. Every byte of the report buffer that a step does not name keeps
// what the previous exchange left there: the headset sees exactly that.
class FirmwareUpgrade {
 public:
  FirmwareUpgrade(HidLink& link, Clock& clock, HeadsetLocation& location, ImageFile& image,
                  const UpgradeOptions& options);

  // The image's size fits the Begin packet; checked before the headset is touched.
  bool CheckImage();
  // Opens the headset and binds the HID library until Release().
  bool OpenHeadset();
  // Restarts the headset into its boot firmware unless it runs it already (it then does not
  // answer the Restart report), and opens the boot firmware, updating location.devicePath.
  bool EnterBootFirmware();
  std::optional<std::uint16_t> ReadBootVersion();
  // Begin, the Data blocks, Finish and its check, then, when confirmed, Reboot.
  bool Transfer();
  // Frees the HID library, then closes the headset.
  void Release();

  UpgradeFailure failure() const { return failure_; }
  std::uint32_t sent() const { return sent_; }

 private:
  bool SendBlocks(bool beginSent, std::uint32_t& total);
  bool Verify(std::uint16_t total);
  bool Reboot();
  // Notes why the run fails; always false, so that a failing step can return it.
  bool Fail(UpgradeFailure why);

  HidLink& link_;
  Clock& clock_;
  HeadsetLocation& location_;
  ImageFile& image_;
  const UpgradeOptions& options_;
  UpgradeFailure failure_ = UpgradeFailure::kNone;
  std::uint32_t imageSize_ = 0;
  std::uint32_t sent_ = 0;
  // Declared in this order so that the library is freed before the device closes.
  std::unique_ptr<HidDevice> device_;
  std::optional<HidLibraryBinding> binding_;
  ReportBuffer aBuf_{};
};

struct UpgradeResult {
  UpgradeFailure failure = UpgradeFailure::kNone;
  std::optional<std::uint16_t> bootVersion;
  std::uint32_t sent = 0;
};

// Every step of FirmwareUpgrade in turn.
UpgradeResult WriteFirmware(HidLink& link, Clock& clock, HeadsetLocation& location,
                            ImageFile& image, const UpgradeOptions& options);

}  // namespace obrint
