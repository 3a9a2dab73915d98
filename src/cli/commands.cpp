#include "cli/commands.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "cli/image_check.h"
#include "cli/std_files.h"
#include "device/headset.h"
#include "device/image.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string Hex16(std::uint16_t v) { return FormatHex(v, 4); }
std::string Hex32(std::uint32_t v) { return "0x" + FormatHex(v, 8); }
std::string IdPair(std::uint16_t vid, std::uint16_t pid) {
  return FormatHex(vid, 4, HexCase::kLower) + ":" + FormatHex(pid, 4, HexCase::kLower);
}

std::string ModeName(RunMode mode) { return mode == RunMode::kDk1 ? "dk1" : "dk2"; }
std::string ModeTitle(RunMode mode) {
  return mode == RunMode::kDk1 ? "DK1-compatible" : "DK2-compatible";
}

// Sums the waits of an operation, whatever clock it runs on.
class CountingClock : public Clock {
 public:
  explicit CountingClock(Clock& inner) : inner_(inner) {}
  void Sleep(unsigned ms) override {
    waitedMs_ += ms;
    inner_.Sleep(ms);
  }
  std::uint64_t waitedMs() const { return waitedMs_; }

 private:
  Clock& inner_;
  std::uint64_t waitedMs_ = 0;
};

// The headset to talk to: --device as given; else the window's registry-style search when a
// product ID is given; else the first attached interface of the vendor that is a device's only
// interface or its interface 0.
bool Locate(Session& session, Report& report, HeadsetLocation& location) {
  const GlobalOptions& options = session.options;
  location.vid = options.vid.value_or(kHeadsetVendorId);
  location.pid = options.pid.value_or(kBootProductId);
  if (!options.device.empty()) {
    location.devicePath = options.device;
  } else if (options.pid) {
    if (auto path = session.backend->link().FindHidDevicePath(kHidClassGuidText, location.vid,
                                                              location.pid)) {
      location.devicePath = *path;
    }
  } else {
    for (const AttachedInterface& found : session.backend->Enumerate(location.vid)) {
      if (found.interfaceNumber > 0) continue;
      location.devicePath = found.path;
      location.pid = found.pid;
      break;
    }
  }
  if (location.devicePath.empty()) {
    report.Fail(ExitCode::kNoDevice, "no headset found (vendor " + Hex16(location.vid) +
                                         (options.pid ? ", product " + Hex16(*options.pid) : "") +
                                         ")");
    return false;
  }
  report.fields["device"] = location.devicePath;
  session.console.Detail("device: " + location.devicePath);
  return true;
}

std::string DoesNotOpen(const HeadsetLocation& location) {
  return "the headset at " + location.devicePath + " does not open";
}

// The run mode read, or nullopt with the report failed for why there is none.
std::optional<RunMode> RunModeOf(const RunModeReading& reading, const HeadsetLocation& location,
                                 Report& report) {
  switch (reading.status) {
    case RunModeStatus::kRead:
      return reading.mode;
    case RunModeStatus::kNotOpened:
      report.Fail(ExitCode::kNoDevice, DoesNotOpen(location));
      break;
    case RunModeStatus::kNoRunMode:
      report.fields["firmware_version"] = Hex16(*reading.firmwareVersion);
      report.Fail(ExitCode::kDeviceRefused, "firmware " + Hex16(*reading.firmwareVersion) +
                                                " has no run mode (it needs " +
                                                Hex16(kMinRunModeVersion) + " or later)");
      break;
    case RunModeStatus::kNotReadable:
      report.Fail(ExitCode::kDeviceRefused, "the headset did not give its run mode");
      break;
  }
  return std::nullopt;
}

// What a stamp left in the file: the field's bytes within it, little-endian.
std::uint32_t StoredChecksum(const StampResult& stamp) {
  const std::uint32_t inFile =
      stamp.size <= kChecksumFieldOffset ? 0 : stamp.size - kChecksumFieldOffset;
  if (inFile >= kChecksumFieldSize) return stamp.checksum;
  return stamp.checksum & ((std::uint32_t{1} << (8 * inFile)) - 1);
}

}  // namespace

std::optional<ImageCheck> ReadImageCheck(FileSystem& files, const std::string& image,
                                         Report& report) {
  // The file's first bytes, as many as stamping reads, and its size.
  std::unique_ptr<ImageFile> file = files.OpenForReading(image);
  const std::uint32_t size = file ? file->Size() : 0xFFFFFFFF;
  std::vector<std::uint8_t> head(size == 0xFFFFFFFF ? 0 : std::min(size, kImageBufferSize));
  if (size == 0xFFFFFFFF || !file->Read(head.data(), static_cast<std::uint32_t>(head.size()))) {
    report.Fail(ExitCode::kFileError, image + " cannot be read");
    return std::nullopt;
  }
  return CheckImage(head, size);
}

ExitCode FlashFailure(UpgradeFailure why, unsigned timeoutMs, const std::string& image,
                      Report& report) {
  switch (why) {
    case UpgradeFailure::kNone:
    case UpgradeFailure::kNoHeadset:
    case UpgradeFailure::kHeadsetNotOpened:
      return report.Fail(ExitCode::kNoDevice, "the headset does not open");
    case UpgradeFailure::kCancelled:
    case UpgradeFailure::kImageUnreadable:
      return report.Fail(ExitCode::kFileError, image + " cannot be read");
    case UpgradeFailure::kImageTooLarge:
      return report.Fail(ExitCode::kVerificationFailed, image + " is too large: at most " +
                                                            std::to_string(kMaxImageSize) +
                                                            " bytes can be flashed");
    case UpgradeFailure::kRestartRefused:
      return report.Fail(ExitCode::kDeviceRefused,
                         "the headset refused to restart into its boot firmware");
    case UpgradeFailure::kBootNotFound:
      return report.Fail(ExitCode::kNoDevice,
                         "the headset did not come back in its boot firmware within " +
                             std::to_string(timeoutMs) + " ms");
    case UpgradeFailure::kBootNotOpened:
      return report.Fail(ExitCode::kNoDevice, "the headset's boot firmware does not open");
    case UpgradeFailure::kTransferRefused:
      return report.Fail(ExitCode::kDeviceRefused, "the headset refused the image transfer");
    case UpgradeFailure::kBlockMismatch:
      return report.Fail(ExitCode::kVerificationFailed,
                         "the headset received a block wrong; the transfer was stopped");
    case UpgradeFailure::kTotalMismatch:
      return report.Fail(ExitCode::kVerificationFailed,
                         "the headset's image total differs from the image's");
    case UpgradeFailure::kRebootDeclined:
      return report.Fail(ExitCode::kDeclined,
                         "the image is written and verified, but the headset was not rebooted");
    case UpgradeFailure::kRebootRefused:
      return report.Fail(ExitCode::kDeviceRefused, "the headset refused to reboot");
  }
  return report.Fail(ExitCode::kDeviceRefused, "the upgrade failed");
}

ExitCode ListHeadsets(Session& session, Report& report) {
  const std::uint16_t vid = session.options.vid.value_or(kHeadsetVendorId);
  Json devices = Json::array();
  for (const AttachedInterface& found : session.backend->Enumerate(vid)) {
    if (session.options.pid && found.pid != *session.options.pid) continue;
    const std::optional<FirmwareKind> kind = ProbeFirmware(session.backend->link(), found.path);
    const std::string firmware =
        !kind ? "" : (*kind == FirmwareKind::kApplication ? "application" : "boot");
    // Where it answers: its identity and the version of the firmware it runs.
    const HeadsetInfo info =
        kind ? ReadHeadsetInfo(session.backend->link(), found.path).value_or(HeadsetInfo{})
             : HeadsetInfo{};
    const std::optional<std::uint16_t>& version = info.firmwareVersion;
    const std::optional<McuId>& mcuId = info.mcuId;
    Json device = {{"path", found.path},
                   {"id", IdPair(found.vid, found.pid)},
                   {"vid", found.vid},
                   {"pid", found.pid},
                   {"interface", found.interfaceNumber},
                   {"firmware", firmware.empty() ? Json() : Json(firmware)},
                   {"accessible", !firmware.empty()},
                   {"port", found.port.empty() ? Json() : Json(found.port)},
                   {"mcu_id", mcuId ? Json(FormatMcuId(*mcuId)) : Json()},
                   {"firmware_version", version ? Json(Hex16(*version)) : Json()}};
    devices.push_back(device);
    session.console.Say(found.path + "  " + IdPair(found.vid, found.pid) + "  " +
                        (firmware.empty() ? "not accessible" : firmware + " firmware") +
                        (found.port.empty() ? "" : "  port " + found.port) +
                        (version ? "  version " + Hex16(*version) : "") +
                        (mcuId ? "  MCU ID " + FormatMcuId(*mcuId) : ""));
  }
  const bool none = devices.empty();
  report.fields["devices"] = std::move(devices);
  if (none) return report.Fail(ExitCode::kNoDevice, "no headset attached");
  return ExitCode::kSuccess;
}

ExitCode ShowInfo(Session& session, Report& report) {
  HeadsetLocation location;
  if (!Locate(session, report, location)) return report.code;
  const std::optional<HeadsetInfo> info =
      ReadHeadsetInfo(session.backend->link(), location.devicePath);
  if (!info) return report.Fail(ExitCode::kNoDevice, DoesNotOpen(location));
  const bool versionRead = info->firmwareVersion.has_value();
  const bool mcuIdRead = info->mcuId.has_value();
  const std::string version = versionRead ? Hex16(*info->firmwareVersion) : "";
  const std::string mcuId = mcuIdRead ? FormatMcuId(*info->mcuId) : "";
  report.fields["firmware_version"] = versionRead ? Json(version) : Json();
  report.fields["mcu_id"] = mcuIdRead ? Json(mcuId) : Json();
  session.console.Say("device:           " + location.devicePath);
  session.console.Say("firmware version: " + (versionRead ? version : "(not read)"));
  session.console.Say("MCU ID:           " + (mcuIdRead ? mcuId : "(not read)"));

  // None below firmware 0025 or when it cannot be read.
  Report modeReport;
  const std::optional<RunMode> mode =
      RunModeOf(ReadRunMode(session.backend->link(), location.devicePath), location, modeReport);
  report.fields["run_mode"] = mode ? Json(ModeName(*mode)) : Json();
  session.console.Say("run mode:         " + (mode ? ModeTitle(*mode) + " (" + ModeName(*mode) + ")"
                                                   : "none (" + modeReport.error + ")"));
  if (!versionRead || !mcuIdRead) {
    return report.Fail(ExitCode::kDeviceRefused,
                       std::string("the headset did not give its ") + (!versionRead && !mcuIdRead
                                                                           ? "version and MCU ID"
                                                                       : versionRead ? "MCU ID"
                                                                                     : "version"));
  }
  return ExitCode::kSuccess;
}

ExitCode FlashImage(Session& session, const std::string& image, bool assumeYes, unsigned timeoutMs,
                    Report& report) {
  report.fields["image"] = image;
  std::unique_ptr<ImageFile> file = session.files.OpenForReading(image);
  if (!file) return report.Fail(ExitCode::kFileError, image + " cannot be opened");
  report.fields["size"] = file->Size();
  HeadsetLocation location;
  if (!Locate(session, report, location)) return report.code;

  Console& console = session.console;
  CountingClock clock(session.backend->clock());
  UpgradeOptions options;
  // The boot firmware is searched for first when the window does, then every 100 ms until the
  // timeout.
  options.bootSearchMs = timeoutMs;
  options.onProgress = [&](std::uint32_t done, std::uint32_t total) {
    console.Progress(done, total);
  };
  if (!assumeYes) {
    options.confirmReboot = [&] {
      return console.Confirm("The image is written and verified. Reboot the headset into it?");
    };
  }

  const auto started = std::chrono::steady_clock::now();
  const UpgradeResult result =
      WriteFirmware(session.backend->link(), clock, location, *file, options);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  file.reset();
  console.EndProgress();
  if (result.bootVersion) console.Say("boot firmware version: " + Hex16(*result.bootVersion));

  const bool succeeded = result.failure == UpgradeFailure::kNone;
  report.fields["boot_firmware_version"] =
      result.bootVersion ? Json(Hex16(*result.bootVersion)) : Json();
  report.fields["bytes_sent"] = result.sent;
  report.fields["rebooted"] = succeeded;
  report.fields["waited_ms"] = clock.waitedMs();
  report.fields["elapsed_ms"] =
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  report.fields["device"] = location.devicePath;
  if (succeeded) {
    console.Say("flashed " + std::to_string(result.sent) +
                " bytes; the headset confirmed the image and is rebooting");
    return ExitCode::kSuccess;
  }
  return FlashFailure(result.failure, timeoutMs, image, report);
}

ExitCode StampImage(Session& session, const std::string& image, Report& report) {
  report.fields["image"] = image;
  const StampResult stamp = StampImage(session.files, image);
  switch (stamp.failure) {
    case StampFailure::kNotOpened:
      return report.Fail(ExitCode::kFileError, image + " cannot be opened for reading and writing");
    case StampFailure::kNoMemory:
    case StampFailure::kUnreadable:
    case StampFailure::kWriteFailed:
      return report.Fail(ExitCode::kFileError, image + " could not be read or written whole");
    case StampFailure::kTooLarge:
      return report.Fail(ExitCode::kVerificationFailed,
                         image + " is larger than " + std::to_string(kImageBufferSize) + " bytes");
    case StampFailure::kNoVersionBlock:
      return report.Fail(ExitCode::kVerificationFailed,
                         image + " has no version block (magic 0xFFAA5500 at 0x9C00)");
    case StampFailure::kNone:
      break;
  }
  const std::uint32_t stored = StoredChecksum(stamp);
  report.fields["size"] = stamp.size;
  report.fields["checksum"] = Hex32(stored);
  session.console.Say("stamped checksum " + Hex32(stored) + " into " + image);
  if (stamp.fieldWhole && stamp.previous != 0) {
    report.fields["previous_checksum"] = Hex32(stamp.previous);
    session.console.Warn(
        "the checksum field was not empty before; the stamped value includes "
        "its old content, so check will not accept the image");
  }
  if (!stamp.fieldWhole) {
    session.console.Warn("the file ends inside the checksum field; only part of it was written");
  }
  return ExitCode::kSuccess;
}

ExitCode CheckImageFile(Session& session, const std::string& image, Report& report) {
  report.fields["image"] = image;
  const std::optional<ImageCheck> checked = ReadImageCheck(session.files, image, report);
  if (!checked) return report.code;
  const ImageCheck& check = *checked;
  report.fields["size"] = check.size;
  report.fields["fits_transfer"] = check.fitsTransfer;
  report.fields["version_block"] = check.hasVersionBlock;
  report.fields["stored_checksum"] =
      check.hasVersionBlock ? Json(Hex32(check.storedChecksum)) : Json();
  report.fields["expected_checksum"] =
      check.hasVersionBlock ? Json(Hex32(check.expectedChecksum)) : Json();
  report.fields["ready"] = check.ready();
  report.fields["problems"] = check.problems;
  session.console.Say(image + ": " + std::to_string(check.size) + " bytes");
  if (check.hasVersionBlock) {
    session.console.Say("stored checksum:   " + Hex32(check.storedChecksum));
    session.console.Say("expected checksum: " + Hex32(check.expectedChecksum));
  }
  if (!check.ready()) {
    std::string reasons;
    for (const std::string& problem : check.problems)
      reasons += (reasons.empty() ? "" : "; ") + problem;
    return report.Fail(ExitCode::kVerificationFailed, image + " is not ready to flash: " + reasons);
  }
  session.console.Say("ready to flash");
  return ExitCode::kSuccess;
}

ExitCode ShowRunMode(Session& session, Report& report) {
  HeadsetLocation location;
  if (!Locate(session, report, location)) return report.code;
  const std::optional<RunMode> mode =
      RunModeOf(ReadRunMode(session.backend->link(), location.devicePath), location, report);
  report.fields["run_mode"] = mode ? Json(ModeName(*mode)) : Json();
  if (!mode) return report.code;
  session.console.Say(ModeName(*mode) + " (" + ModeTitle(*mode) + ")");
  return ExitCode::kSuccess;
}

ExitCode SelectRunMode(Session& session, RunModeChoice choice, Report& report) {
  const RunMode wanted = choice == RunModeChoice::kDk1 ? RunMode::kDk1 : RunMode::kDk2;
  report.fields["requested"] = ModeName(wanted);
  HeadsetLocation location;
  if (!Locate(session, report, location)) return report.code;
  // As in the window, the mode can only be set where the headset shows one.
  HidLink& link = session.backend->link();
  const RunModeReading reading = ReadRunMode(link, location.devicePath);
  if (reading.status == RunModeStatus::kNotOpened) {
    return report.Fail(ExitCode::kNoDevice, DoesNotOpen(location));
  }
  if (reading.status != RunModeStatus::kRead) {
    Report why;
    RunModeOf(reading, location, why);
    return report.Fail(ExitCode::kDeviceRefused, why.error + "; the mode cannot be set");
  }
  report.fields["previous"] = ModeName(reading.mode);

  switch (WriteRunMode(link, session.backend->clock(), location.devicePath, wanted)) {
    case RunModeWrite::kNotOpened:
      return report.Fail(ExitCode::kNoDevice, DoesNotOpen(location));
    case RunModeWrite::kRefused:
      return report.Fail(ExitCode::kDeviceRefused, "the headset refused the run mode");
    case RunModeWrite::kWritten:
      break;
  }

  // The headset has restarted; read the mode back where it is now.
  HeadsetLocation after;
  Report afterReport;
  std::optional<RunMode> now;
  if (Locate(session, afterReport, after)) {
    now = RunModeOf(ReadRunMode(link, after.devicePath), after, afterReport);
  }
  report.fields["run_mode"] = now ? Json(ModeName(*now)) : Json();
  report.fields["confirmed"] = now == wanted;
  if (!now) {
    session.console.Warn("the mode was written, but the headset could not be read back: " +
                         afterReport.error);
    session.console.Say("run mode set to " + ModeName(wanted) + " (not confirmed)");
    return ExitCode::kSuccess;
  }
  if (*now != wanted) {
    return report.Fail(ExitCode::kVerificationFailed, "the headset reads back " + ModeName(*now));
  }
  session.console.Say("run mode set to " + ModeName(wanted) + " (" + ModeTitle(wanted) + ")");
  return ExitCode::kSuccess;
}

ExitCode WriteSampleImage(Session& session, const std::string& file, std::uint32_t size,
                          bool replace, Report& report) {
  const std::vector<std::uint8_t> image = MakeSampleImage(size);
  report.fields["image"] = file;
  report.fields["size"] = image.size();
  std::string error;
  if (!WriteNewFile(file, image, replace, error)) {
    return report.Fail(ExitCode::kFileError, file + " " + error);
  }
  const ImageCheck check = CheckImage(image, image.size());
  report.fields["checksum"] = Hex32(check.storedChecksum);
  session.console.Say("wrote a sample image of " + std::to_string(image.size()) + " bytes to " +
                      file);
  return ExitCode::kSuccess;
}

}  // namespace obrint::cli
