#include "records/record.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "device/text.h"

namespace obrint::records {
namespace {

// By RunOutcome's value.
constexpr std::string_view kOutcomeNames[] = {"flashed", "failed", "not back", "not started",
                                              "interrupted"};
static_assert(std::size(kOutcomeNames) == static_cast<std::size_t>(RunOutcome::kInterrupted) + 1);

}  // namespace

std::string_view OutcomeName(RunOutcome outcome) {
  return kOutcomeNames[static_cast<std::size_t>(outcome)];
}

std::optional<RunOutcome> ParseOutcome(std::string_view name) {
  const auto at = std::ranges::find(kOutcomeNames, name);
  if (at == std::end(kOutcomeNames)) return std::nullopt;
  return static_cast<RunOutcome>(at - std::begin(kOutcomeNames));
}

std::string UtcTime(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(when);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss time{ms - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                int(time.minutes().count()), int(time.seconds().count()),
                int(time.subseconds().count()));
  return text;
}

std::optional<std::chrono::system_clock::time_point> ParseUtcTime(std::string_view text) {
  int year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
  const std::string copy(text);
  if (std::sscanf(copy.c_str(), "%4d-%2u-%2uT%2u:%2u:%2u.%3uZ", &year, &month, &day, &hour, &minute,
                  &second, &millis) != 7) {
    return std::nullopt;
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year(year), std::chrono::month(month),
                            std::chrono::day(day)};
  if (!date.ok()) return std::nullopt;
  return time_point_cast<system_clock::duration>(sys_days(date) + hours(hour) + minutes(minute) +
                                                 seconds(second) + milliseconds(millis));
}

bool HasShape(std::string_view text, std::string_view shape, std::string_view digits) {
  return std::ranges::equal(text, shape, [&](char t, char s) {
    return s == '0' ? digits.find(t) != std::string_view::npos : t == s;
  });
}

std::string ChecksumText(std::uint32_t checksum) { return "0x" + FormatHex(checksum, 8); }

std::string VersionText(const std::optional<std::uint16_t>& version) {
  return version ? FormatHex(*version, 4) : "";
}

nlohmann::ordered_json RecordsJson(const RunSetting& setting,
                                   const std::vector<HeadsetRecord>& records) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const HeadsetRecord& record : records) array.push_back(RecordJson(setting, record));
  return array;
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
          {"outcome", OutcomeName(record.outcome())},
          {"reason", record.reason()},
          {"exit_status", record.exitStatus()},
          {"duration_ms", std::max<std::int64_t>(0, ms.count())},
          {"bytes_sent", record.bytesSent}};
}

}  // namespace obrint::records
