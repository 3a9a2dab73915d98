#include "core/device_info.h"

#include "core/text.h"

#include "core/reports.h"

namespace obrint {

std::string FormatFirmwareVersion(std::span<const std::uint8_t> versionReport) {
  return FormatHex(ReadLe16(&versionReport[3]), 4);
}

std::string FormatMcuId(std::span<const std::uint8_t> mcuIdReport) {
  return FormatHex(ReadLe32(&mcuIdReport[3]), 8) + FormatHex(ReadLe32(&mcuIdReport[7]), 8) +
         FormatHex(ReadLe32(&mcuIdReport[11]), 8);
}

std::string ReadDeviceInfo(HidLink& link, UserInterface& ui, const HeadsetLocation& location) {
  ui.ShowStatus("\r\n");
  if (location.devicePath.empty()) return {};
  std::unique_ptr<HidDevice> device = link.OpenHidDevice(location.devicePath);
  if (!device) return {};

  ReportBuffer aBuf{};
  std::string strVer = "0";
  std::string strMcuId = "0";
  link.LoadHidLibrary();
  if (GetReport5F(*device, aBuf)) strVer = FormatFirmwareVersion(aBuf);
  if (GetReport60(*device, aBuf)) strMcuId = FormatMcuId(aBuf);
  std::string line = "版本信息 " + strVer + ":" + strMcuId + "\r\n";
  ui.ShowStatus(line);
  link.FreeHidLibrary();
  device.reset();
  return line;
}

}  // namespace obrint
