// The window's command behind "获取设备信息", on the data layer's ReadHeadsetInfo (headset.h).
#pragma once

#include <string>

#include "core/ports.h"

namespace obrint {

// Empties the Status log, then, when the Device path opens, shows
// "版本信息 <version>:<MCU ID>\r\n" (version "%04X", MCU ID as FormatMcuId gives it), with "0"
// for a report that could not be read. Shows no message box. Returns the line shown, or empty
// when the headset could not be reached.
std::string ReadDeviceInfo(HidLink& link, UserInterface& ui, const HeadsetLocation& location);

}  // namespace obrint
