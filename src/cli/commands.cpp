#include "cli/commands.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "cli/image_check.h"
#include "cli/std_files.h"
#include "core/device_info.h"
#include "core/firmware_upgrade.h"
#include "core/image_stamp.h"
#include "core/reports.h"
#include "core/run_mode.h"
#include "core/text.h"

namespace obrint::cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kInfoPrefix = "版本信息 ";
// After the restart the first search comes when the window's does, so that a headset that is
// back in time sees the window's run; then the search is repeated this often.
constexpr unsigned kFirstBootSearchMs = 2000;
constexpr unsigned kBootPollMs = 100;

std::string Hex16(std::uint16_t v) { return FormatHex(v, 4); }
std::string Hex32(std::uint32_t v) { return "0x" + FormatHex(v, 8); }
std::string IdPair(std::uint16_t vid, std::uint16_t pid) {
  return FormatHex(vid, 4, HexCase::kLower) + ":" + FormatHex(pid, 4, HexCase::kLower);
}

std::string_view ModeName(bool dk1) { return dk1 ? "dk1" : "dk2"; }
std::string_view ModeTitle(bool dk1) { return dk1 ? "DK1-compatible" : "DK2-compatible"; }

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

// Which firmware an interface runs, as far as the Restart report tells: the application firmware
// answers it, the boot firmware does not. Empty when the interface does not open.
std::string ProbeFirmware(HidLink& link, const std::string& path) {
  std::unique_ptr<HidDevice> device = link.OpenHidDevice(path);
  if (!device) return {};
  link.LoadHidLibrary();
  ReportBuffer aBuf{};
  const bool application = GetReport58(*device, aBuf);
  link.FreeHidLibrary();
  return application ? "application" : "boot";
}

// The firmware version alone, for telling why a headset shows no run mode.
std::optional<std::uint16_t> ReadVersion(HidLink& link, const HeadsetLocation& location) {
  std::unique_ptr<HidDevice> device = link.OpenHidDevice(location.devicePath);
  if (!device) return std::nullopt;
  link.LoadHidLibrary();
  ReportBuffer aBuf{};
  const bool read = GetReport5F(*device, aBuf);
  link.FreeHidLibrary();
  if (!read) return std::nullopt;
  return ReadLe16(&aBuf[3]);
}

// The run mode by the Mode controls' refresh rules. nullopt with the report failed when there is
// none to show.
std::optional<bool> RefreshRunMode(Session& session, const HeadsetLocation& location,
                                   Report& report) {
  ModeState controls;
  RefreshModeControls(session.backend->link(), controls, location);
  if (!controls.touched) {
    report.Fail(ExitCode::kNoDevice, "the headset at " + location.devicePath + " does not open");
    return std::nullopt;
  }
  if (controls.enabled()) return controls.dk1;
  const std::optional<std::uint16_t> version = ReadVersion(session.backend->link(), location);
  if (version && *version < kMinRunModeVersion) {
    report.fields["firmware_version"] = Hex16(*version);
    report.Fail(ExitCode::kDeviceRefused, "firmware " + Hex16(*version) +
                                              " has no run mode (it needs " +
                                              Hex16(kMinRunModeVersion) + " or later)");
  } else {
    report.Fail(ExitCode::kDeviceRefused, "the headset did not give its run mode");
  }
  return std::nullopt;
}

// The file's first bytes (as many as stamping reads) and its size; false when unreadable.
bool ReadImageHead(FileSystem& files, const std::string& path, std::vector<std::uint8_t>& head,
                   std::uint32_t& size) {
  std::unique_ptr<ImageFile> file = files.OpenForReading(path);
  if (!file) return false;
  size = file->Size();
  if (size == 0xFFFFFFFF) return false;
  head.assign(std::min(size, kImageBufferSize), 0);
  return file->Read(head.data(), static_cast<std::uint32_t>(head.size()));
}

ExitCode FlashFailure(UpgradeFailure why, bool timedOut, unsigned timeoutMs,
                      const std::string& image, Report& report) {
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
                         timedOut ? "the headset did not come back in its boot firmware within " +
                                        std::to_string(timeoutMs) + " ms"
                                  : "the headset's boot firmware does not open");
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

}  // namespace

ExitCode ListHeadsets(Session& session, Report& report) {
  const std::uint16_t vid = session.options.vid.value_or(kHeadsetVendorId);
  Json devices = Json::array();
  for (const AttachedInterface& found : session.backend->Enumerate(vid)) {
    if (session.options.pid && found.pid != *session.options.pid) continue;
    const std::string firmware = ProbeFirmware(session.backend->link(), found.path);
    Json device = {{"path", found.path},
                   {"id", IdPair(found.vid, found.pid)},
                   {"vid", found.vid},
                   {"pid", found.pid},
                   {"interface", found.interfaceNumber},
                   {"firmware", firmware.empty() ? Json() : Json(firmware)},
                   {"accessible", !firmware.empty()}};
    devices.push_back(device);
    session.console.Say(found.path + "  " + IdPair(found.vid, found.pid) + "  " +
                        (firmware.empty() ? "not accessible" : firmware + " firmware"));
  }
  const bool none = devices.empty();
  report.fields["devices"] = std::move(devices);
  if (none) return report.Fail(ExitCode::kNoDevice, "no headset attached");
  return ExitCode::kSuccess;
}

ExitCode ShowInfo(Session& session, Report& report) {
  HeadsetLocation location;
  if (!Locate(session, report, location)) return report.code;
  ConsoleUserInterface ui(session.console, false);
  const std::string line = ReadDeviceInfo(session.backend->link(), ui, location);
  if (line.empty()) {
    return report.Fail(ExitCode::kNoDevice,
                       "the headset at " + location.devicePath + " does not open");
  }
  // "版本信息 <version>:<MCU ID>\r\n", a report that could not be read showing as "0".
  std::string_view readout(line);
  readout.remove_prefix(std::min(readout.size(), kInfoPrefix.size()));
  while (!readout.empty() && (readout.back() == '\n' || readout.back() == '\r')) {
    readout.remove_suffix(1);
  }
  const std::size_t colon = readout.find(':');
  const std::string version(readout.substr(0, colon));
  const std::string mcuId(colon == std::string_view::npos ? "0" : readout.substr(colon + 1));
  const bool versionRead = version != "0";
  const bool mcuIdRead = mcuId != "0";
  report.fields["firmware_version"] = versionRead ? Json(version) : Json();
  report.fields["mcu_id"] = mcuIdRead ? Json(mcuId) : Json();
  session.console.Say("device:           " + location.devicePath);
  session.console.Say("firmware version: " + (versionRead ? version : "(not read)"));
  session.console.Say("MCU ID:           " + (mcuIdRead ? mcuId : "(not read)"));

  // The run mode by the Mode controls' rules: none below firmware 0025 or when it cannot be read.
  Report modeReport;
  const std::optional<bool> dk1 = RefreshRunMode(session, location, modeReport);
  report.fields["run_mode"] = dk1 ? Json(ModeName(*dk1)) : Json();
  session.console.Say("run mode:         " +
                      (dk1 ? std::string(ModeTitle(*dk1)) + " (" + std::string(ModeName(*dk1)) + ")"
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
  {
    std::unique_ptr<ImageFile> file = session.files.OpenForReading(image);
    if (!file) return report.Fail(ExitCode::kFileError, image + " cannot be opened");
    report.fields["size"] = file->Size();
  }
  HeadsetLocation location;
  if (!Locate(session, report, location)) return report.code;

  Console& console = session.console;
  ConsoleUserInterface ui(console, assumeYes);
  CountingClock clock(session.backend->clock());
  bool timedOut = false;
  std::optional<std::uint16_t> bootVersion;
  std::uint32_t sent = 0;

  UpgradeOptions options;
  // Where the window searches once 2000 ms after the restart, search then and again every 100 ms
  // until the boot firmware shows up and opens, or the timeout has passed. An interface can show
  // up before its firmware answers, so the first search is not made any earlier.
  options.findBootFirmware = [&](HidLink& link, Clock& waits) -> std::optional<std::string> {
    console.Detail("waiting for the boot firmware");
    unsigned waited = 0;
    for (;;) {
      const unsigned step =
          std::min(waited == 0 ? kFirstBootSearchMs : kBootPollMs, timeoutMs - waited);
      if (step > 0) waits.Sleep(step);
      waited += step;
      if (auto path = link.FindHidDevicePath(kHidClassGuidText, kHeadsetVendorId, kBootProductId)) {
        return path;
      }
      if (waited >= timeoutMs) {
        timedOut = true;
        return std::nullopt;
      }
    }
  };
  options.onBootVersion = [&](std::uint16_t version) {
    bootVersion = version;
    console.Say("boot firmware version: " + Hex16(version));
  };
  options.onProgress = [&](std::uint32_t done, std::uint32_t total) {
    sent = done;
    console.Progress(done, total);
  };

  std::string imagePath = image;
  UpgradeFailure why = UpgradeFailure::kNone;
  const auto started = std::chrono::steady_clock::now();
  const UpgradeOutcome outcome = UpgradeFirmware(session.backend->link(), clock, session.files, ui,
                                                 location, imagePath, options, &why);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  console.EndProgress();

  report.fields["boot_firmware_version"] = bootVersion ? Json(Hex16(*bootVersion)) : Json();
  report.fields["bytes_sent"] = sent;
  report.fields["rebooted"] = outcome == UpgradeOutcome::kSucceeded;
  report.fields["waited_ms"] = clock.waitedMs();
  report.fields["elapsed_ms"] =
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  report.fields["device"] = location.devicePath;
  if (outcome == UpgradeOutcome::kSucceeded) {
    console.Say("flashed " + std::to_string(sent) +
                " bytes; the headset confirmed the image and is rebooting");
    return ExitCode::kSuccess;
  }
  return FlashFailure(why, timedOut, timeoutMs, image, report);
}

ExitCode StampImage(Session& session, const std::string& image, Report& report) {
  report.fields["image"] = image;
  std::vector<std::uint8_t> head;
  std::uint32_t size = 0;
  const bool readable = ReadImageHead(session.files, image, head, size);

  ConsoleUserInterface ui(session.console, false);
  const StampOutcome outcome = StampImageFile(session.files, ui, image);
  switch (outcome) {
    case StampOutcome::kCancelled:
    case StampOutcome::kNotOpened:
      return report.Fail(ExitCode::kFileError, image + " cannot be opened for reading and writing");
    case StampOutcome::kFailed:
      return report.Fail(ExitCode::kFileError, image + " could not be read or written whole");
    case StampOutcome::kRefused:
      return report.Fail(
          ExitCode::kVerificationFailed,
          readable && size > kImageBufferSize
              ? image + " is larger than " + std::to_string(kImageBufferSize) + " bytes"
              : image + " has no version block (magic 0xFFAA5500 at 0x9C00)");
    case StampOutcome::kStamped:
      break;
  }
  // Read back what went into the file, for the output.
  std::vector<std::uint8_t> stamped;
  std::uint32_t stampedSize = 0;
  if (!ReadImageHead(session.files, image, stamped, stampedSize)) {
    return report.Fail(ExitCode::kFileError, image + " cannot be read back");
  }
  const ImageCheck check = CheckImage(stamped, stampedSize);
  report.fields["size"] = stampedSize;
  report.fields["checksum"] = Hex32(check.storedChecksum);
  session.console.Say("stamped checksum " + Hex32(check.storedChecksum) + " into " + image);
  if (readable && head.size() >= kChecksumFieldOffset + 4 &&
      ReadLe32(&head[kChecksumFieldOffset]) != 0) {
    report.fields["previous_checksum"] = Hex32(ReadLe32(&head[kChecksumFieldOffset]));
    session.console.Warn(
        "the checksum field was not empty before; the stamped value includes "
        "its old content, so check will not accept the image");
  }
  if (!check.checksumFieldWhole) {
    session.console.Warn("the file ends inside the checksum field; only part of it was written");
  }
  return ExitCode::kSuccess;
}

ExitCode CheckImageFile(Session& session, const std::string& image, Report& report) {
  report.fields["image"] = image;
  std::vector<std::uint8_t> head;
  std::uint32_t size = 0;
  if (!ReadImageHead(session.files, image, head, size)) {
    return report.Fail(ExitCode::kFileError, image + " cannot be read");
  }
  const ImageCheck check = CheckImage(head, size);
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
  const std::optional<bool> dk1 = RefreshRunMode(session, location, report);
  report.fields["run_mode"] = dk1 ? Json(ModeName(*dk1)) : Json();
  if (!dk1) return report.code;
  session.console.Say(std::string(ModeName(*dk1)) + " (" + std::string(ModeTitle(*dk1)) + ")");
  return ExitCode::kSuccess;
}

ExitCode SelectRunMode(Session& session, RunModeChoice choice, Report& report) {
  const bool wantDk1 = choice == RunModeChoice::kDk1;
  report.fields["requested"] = ModeName(wantDk1);
  HeadsetLocation location;
  if (!Locate(session, report, location)) return report.code;
  // As in the window, the mode can only be set while the refresh has enabled the Mode controls.
  ModeState controls;
  RefreshModeControls(session.backend->link(), controls, location);
  if (!controls.touched) {
    return report.Fail(ExitCode::kNoDevice,
                       "the headset at " + location.devicePath + " does not open");
  }
  if (!controls.enabled()) {
    Report why;
    RefreshRunMode(session, location, why);
    return report.Fail(ExitCode::kDeviceRefused, why.error + "; the mode cannot be set");
  }
  report.fields["previous"] = ModeName(controls.dk1);
  controls.SetModeChecks(wantDk1, !wantDk1);

  ConsoleUserInterface ui(session.console, false);
  const RunModeOutcome outcome =
      SetRunMode(session.backend->link(), session.backend->clock(), ui, controls, location);
  if (outcome == RunModeOutcome::kNotOpened) {
    return report.Fail(ExitCode::kNoDevice,
                       "the headset at " + location.devicePath + " does not open");
  }
  if (outcome == RunModeOutcome::kFailed) {
    return report.Fail(ExitCode::kDeviceRefused, "the headset refused the run mode");
  }

  // The headset has restarted; read the mode back where it is now.
  HeadsetLocation after;
  Report afterReport;
  std::optional<bool> nowDk1;
  if (Locate(session, afterReport, after)) nowDk1 = RefreshRunMode(session, after, afterReport);
  report.fields["run_mode"] = nowDk1 ? Json(ModeName(*nowDk1)) : Json();
  report.fields["confirmed"] = nowDk1.has_value() && *nowDk1 == wantDk1;
  if (!nowDk1) {
    session.console.Warn("the mode was written, but the headset could not be read back: " +
                         afterReport.error);
    session.console.Say("run mode set to " + std::string(ModeName(wantDk1)) + " (not confirmed)");
    return ExitCode::kSuccess;
  }
  if (*nowDk1 != wantDk1) {
    return report.Fail(ExitCode::kVerificationFailed,
                       "the headset reads back " + std::string(ModeName(*nowDk1)));
  }
  session.console.Say("run mode set to " + std::string(ModeName(wantDk1)) + " (" +
                      std::string(ModeTitle(wantDk1)) + ")");
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
