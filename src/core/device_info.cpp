#include "core/device_info.h"

#include <cstdio>

#include "core/reports.h"

namespace obrint {

std::string FormatFirmwareVersion(std::span<const std::uint8_t> versionReport) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(ReadLe16(&versionReport[3])));
  return text;
}

std::string FormatMcuId(std::span<const std::uint8_t> mcuIdReport) {
  char text[32];
  std::snprintf(text, sizeof text, "%08X%08X%08X", static_cast<unsigned>(ReadLe32(&mcuIdReport[3])),
                static_cast<unsigned>(ReadLe32(&mcuIdReport[7])),
                static_cast<unsigned>(ReadLe32(&mcuIdReport[11])));
  return text;
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
