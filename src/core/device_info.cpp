#include "core/device_info.h"

#include "core/headset.h"
#include "core/text.h"

namespace obrint {

std::string ReadDeviceInfo(HidLink& link, UserInterface& ui, const HeadsetLocation& location) {
  ui.ShowStatus("\r\n");
  const std::optional<HeadsetInfo> info = ReadHeadsetInfo(link, location.devicePath);
  if (!info) return {};
  const std::string strVer = info->firmwareVersion ? FormatHex(*info->firmwareVersion, 4) : "0";
  const std::string strMcuId = info->mcuId ? FormatMcuId(*info->mcuId) : "0";
  std::string line = "版本信息 " + strVer + ":" + strMcuId + "\r\n";
  ui.ShowStatus(line);
  return line;
}

}  // namespace obrint
