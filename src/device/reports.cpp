#include "device/reports.h"

#include <algorithm>

#include "device/bytes.h"
#include "device/text.h"

namespace obrint {
namespace {

struct CatalogueEntry {
  std::uint8_t id;
  std::uint8_t length;
};

// The lengths of the reports that are read or sent whole.
constexpr CatalogueEntry kCatalogue[] = {
    {kRestartReport, 4}, {kRunModeReport, 4},   {kVersionReport, 5},
    {kMcuIdReport, 15},  {kTransferReport, 64},
};

// Run modes as byte 3 of the Run mode report carries them.
constexpr std::uint8_t kRunModeDk1 = 0xFE;
constexpr std::uint8_t kRunModeDk2 = 0xFD;
// Where a report's value starts.
constexpr std::size_t kValueOffset = 3;

// Length in bytes (byte 0 included) of a report of the headset's catalogue; 0 for another ID.
std::size_t ReportLength(std::uint8_t reportId) {
  for (const auto& entry : kCatalogue) {
    if (entry.id == reportId) return entry.length;
  }
  return 0;
}

bool Get(HidDevice& device, ReportSpan buf, std::uint8_t id) {
  const std::size_t length = ReportLength(id);
  if (buf.size() < length) return false;
  buf[0] = id;
  return device.GetFeature(buf.data(), length);
}

// The Restart report is answered under ID 6 by some firmware: one second try under that ID, with
// bytes 1 to 3 left as they are.
template <typename Transfer>
bool WithRestartFallback(std::uint8_t* report, Transfer transfer) {
  report[0] = kRestartReport;
  if (transfer()) return true;
  report[0] = kRestartFallbackReport;
  return transfer();
}

}  // namespace

bool GetReport5F(HidDevice& d, ReportSpan b) { return Get(d, b, kVersionReport); }
bool GetReport60(HidDevice& d, ReportSpan b) { return Get(d, b, kMcuIdReport); }
bool GetReport61(HidDevice& d, ReportSpan b) { return Get(d, b, kTransferReport); }

bool SetReport61(HidDevice& device, ReportSpan buf) {
  const std::size_t length = ReportLength(kTransferReport);
  return buf.size() >= length && device.SetFeature(buf.data(), length);
}

bool GetReport58(HidDevice& device, ReportSpan buf) {
  const std::size_t length = ReportLength(kRestartReport);
  if (buf.size() < length) return false;
  return WithRestartFallback(buf.data(), [&] { return device.GetFeature(buf.data(), length); });
}

bool SetReport58(HidDevice& device, int bootFlag) {
  std::uint8_t aBuf[4] = {kRestartReport, 0x01, 0x00, static_cast<std::uint8_t>(bootFlag ? 1 : 0)};
  return WithRestartFallback(aBuf, [&] { return device.SetFeature(aBuf, sizeof aBuf); });
}

bool SetReport59(HidDevice& device, std::uint8_t runMode) {
  const std::uint8_t aBuf[4] = {kRunModeReport, 0x01, 0x00, runMode};
  return device.SetFeature(aBuf, sizeof aBuf);
}

std::string FormatMcuId(const McuId& id) {
  return FormatHex(ReadLe32(&id[0]), 8) + FormatHex(ReadLe32(&id[4]), 8) +
         FormatHex(ReadLe32(&id[8]), 8);
}

std::optional<McuId> ParseMcuId(std::string_view text) {
  if (text.size() != 24) return std::nullopt;
  McuId id{};
  for (std::size_t word = 0; word < 3; ++word) {
    const std::optional<std::uint32_t> value = ParseHex(text.substr(8 * word, 8));
    if (!value) return std::nullopt;
    for (std::size_t i = 0; i < 4; ++i)
      id[4 * word + i] = static_cast<std::uint8_t>(*value >> (8 * i));
  }
  return id;
}

Result<std::uint16_t> ReadVersion(HidDevice& device, ReportBuffer& aBuf) {
  if (!GetReport5F(device, aBuf)) return Failure::kReportRefused;
  return ReadLe16(&aBuf[kValueOffset]);
}

Result<McuId> ReadMcuId(HidDevice& device, ReportBuffer& aBuf) {
  if (!GetReport60(device, aBuf)) return Failure::kReportRefused;
  McuId id;
  std::copy_n(&aBuf[kValueOffset], id.size(), id.begin());
  return id;
}

Result<RunMode> ReadRunMode(HidDevice& device, ReportBuffer& aBuf) {
  if (!Get(device, aBuf, kRunModeReport)) return Failure::kReportRefused;
  return aBuf[kValueOffset] == kRunModeDk1 ? RunMode::kDk1 : RunMode::kDk2;
}

Status WriteRunMode(HidDevice& device, RunMode mode) {
  if (!SetReport59(device, mode == RunMode::kDk1 ? kRunModeDk1 : kRunModeDk2)) {
    return Failure::kRunModeRefused;
  }
  return {};
}

}  // namespace obrint
