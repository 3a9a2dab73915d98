#include "core/reports.h"

namespace obrint {
namespace {

struct CatalogueEntry {
  std::uint8_t id;
  std::uint8_t length;
};

constexpr CatalogueEntry kCatalogue[] = {
    {0x02, 7},  {0x03, 69}, {0x04, 8}, {0x05, 6}, {0x06, 4}, {0x07, 5},  {0x08, 5},
    {0x09, 56}, {0x0A, 15}, {0x58, 4}, {0x59, 4}, {0x5F, 5}, {0x60, 15}, {0x61, 64},
};

bool Get(HidDevice& device, ReportSpan buf, std::uint8_t id) {
  const std::size_t length = ReportLength(id);
  if (buf.size() < length) return false;
  buf[0] = id;
  return device.GetFeature(buf.data(), length);
}

bool Set(HidDevice& device, ReportSpan buf, std::uint8_t id) {
  const std::size_t length = ReportLength(id);
  if (buf.size() < length) return false;
  return device.SetFeature(buf.data(), length);
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

std::size_t ReportLength(std::uint8_t reportId) {
  for (const auto& entry : kCatalogue) {
    if (entry.id == reportId) return entry.length;
  }
  return 0;
}

bool GetReport02(HidDevice& d, ReportSpan b) { return Get(d, b, 0x02); }
bool GetReport03(HidDevice& d, ReportSpan b) { return Get(d, b, 0x03); }
bool GetReport04(HidDevice& d, ReportSpan b) { return Get(d, b, 0x04); }
bool GetReport05(HidDevice& d, ReportSpan b) { return Get(d, b, 0x05); }
bool GetReport07(HidDevice& d, ReportSpan b) { return Get(d, b, 0x07); }
bool GetReport08(HidDevice& d, ReportSpan b) { return Get(d, b, 0x08); }
bool GetReport09(HidDevice& d, ReportSpan b) { return Get(d, b, 0x09); }
bool GetReport0A(HidDevice& d, ReportSpan b) { return Get(d, b, 0x0A); }
bool GetReport59(HidDevice& d, ReportSpan b) { return Get(d, b, kRunModeReport); }
bool GetReport5F(HidDevice& d, ReportSpan b) { return Get(d, b, kVersionReport); }
bool GetReport60(HidDevice& d, ReportSpan b) { return Get(d, b, kMcuIdReport); }
bool GetReport61(HidDevice& d, ReportSpan b) { return Get(d, b, kTransferReport); }

bool SetReport02(HidDevice& d, ReportSpan b) { return Set(d, b, 0x02); }
bool SetReport03(HidDevice& d, ReportSpan b) { return Set(d, b, 0x03); }
bool SetReport04(HidDevice& d, ReportSpan b) { return Set(d, b, 0x04); }
bool SetReport05(HidDevice& d, ReportSpan b) { return Set(d, b, 0x05); }
bool SetReport07(HidDevice& d, ReportSpan b) { return Set(d, b, 0x07); }
bool SetReport08(HidDevice& d, ReportSpan b) { return Set(d, b, 0x08); }
bool SetReport09(HidDevice& d, ReportSpan b) { return Set(d, b, 0x09); }
bool SetReport0A(HidDevice& d, ReportSpan b) { return Set(d, b, 0x0A); }
bool SetReport61(HidDevice& d, ReportSpan b) { return Set(d, b, kTransferReport); }

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

}  // namespace obrint
