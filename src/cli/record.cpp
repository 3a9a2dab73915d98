#include "cli/record.h"

#include <ctime>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "device/text.h"

namespace obrint::cli {

std::string_view OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kFlashed:
      return "flashed";
    case RunOutcome::kFailed:
      return "failed";
    case RunOutcome::kNotBack:
      return "not back";
    case RunOutcome::kNotStarted:
      return "not started";
    case RunOutcome::kInterrupted:
      return "interrupted";
  }
  return "failed";
}

std::string HostName() {
#ifdef _WIN32
  char name[MAX_COMPUTERNAME_LENGTH + 1] = "";
  DWORD size = sizeof name;
  if (::GetComputerNameA(name, &size)) return name;
#else
  char name[256] = "";
  if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
#endif
  return "station";
}

std::string UtcTime(std::chrono::system_clock::time_point when) {
  const auto ms = std::chrono::time_point_cast<std::chrono::milliseconds>(when);
  const std::time_t seconds = std::chrono::system_clock::to_time_t(ms);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[40] = "";
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  const auto millis = (ms.time_since_epoch() % std::chrono::seconds(1)).count();
  return std::string(text) + "." + std::to_string(1000 + millis).substr(1) + "Z";
}

std::string ChecksumText(std::uint32_t checksum) { return "0x" + FormatHex(checksum, 8); }

std::string VersionText(const std::optional<std::uint16_t>& version) {
  return version ? FormatHex(*version, 4) : "";
}

nlohmann::ordered_json RecordJson(const RunSetting& setting, const HeadsetRecord& record) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(record.ended - record.started);
  return {{"id", record.id},
          {"started", UtcTime(record.started)},
          {"ended", UtcTime(record.ended)},
          {"tool_version", setting.toolVersion},
          {"station", setting.station},
          {"operator", setting.operatorName},
          {"image_path", setting.imagePath},
          {"image_size", setting.imageSize},
          {"image_sha256", setting.imageSha256},
          {"image_checksum", ChecksumText(setting.imageChecksum)},
          {"usb_port", record.usbPort},
          {"path", record.path},
          {"mcu_id", record.mcuId ? FormatMcuId(*record.mcuId) : ""},
          {"firmware_before", VersionText(record.firmwareBefore)},
          {"boot_firmware_version", VersionText(record.bootVersion)},
          {"firmware_after", VersionText(record.firmwareAfter)},
          {"outcome", OutcomeName(record.outcome)},
          {"reason", record.reason},
          {"exit_status", record.exitStatus},
          {"duration_ms", std::max<std::int64_t>(0, ms.count())},
          {"bytes_sent", record.bytesSent}};
}

}  // namespace obrint::cli
