// The window's command behind "获取设备信息": the firmware version and MCU ID in the Status log.
#pragma once

#include <string>

#include "device/hid_bus.h"
#include "presenters/window.h"

namespace obrint::presenters {

// Empties the Status log, then, when the Device path opens, shows
// "版本信息 <version>:<MCU ID>\r\n" (version "%04X", MCU ID as FormatMcuId gives it), with "0"
// for a report that could not be read. Shows no message box. Returns the line shown, or empty
// when the headset could not be reached.
std::string ReadDeviceInfo(HidBus& bus, UserInterface& ui, const HeadsetLocation& location);

}  // namespace obrint::presenters
