#include "presenters/device_info.h"

#include "device/headset.h"
#include "device/text.h"

namespace obrint::presenters {

std::string ReadDeviceInfo(HidBus& bus, UserInterface& ui, const HeadsetLocation& location) {
  ui.ShowStatus("\r\n");
  if (location.devicePath.empty()) return {};
  const Result<HeadsetInfo> info = ReadHeadsetInfo(bus, location.devicePath);
  if (!info) return {};
  const std::string strVer = info->firmwareVersion ? FormatHex(*info->firmwareVersion, 4) : "0";
  const std::string strMcuId = info->mcuId ? FormatMcuId(*info->mcuId) : "0";
  std::string line = "版本信息 " + strVer + ":" + strMcuId + "\r\n";
  ui.ShowStatus(line);
  return line;
}

}  // namespace obrint::presenters
