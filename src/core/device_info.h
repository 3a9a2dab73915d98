// Reading the headset's firmware version and microcontroller identifier into the Status log.
#pragma once

#include <span>
#include <string>

#include "core/ports.h"

namespace obrint {

// "%04X" of bytes 3-4 of a Version report (little-endian).
std::string FormatFirmwareVersion(std::span<const std::uint8_t> versionReport);
// "%08X%08X%08X" of the three little-endian words in bytes 3-14 of an MCU ID report.
std::string FormatMcuId(std::span<const std::uint8_t> mcuIdReport);

// The command behind "获取设备信息": empties the Status log, then, when the Device path opens,
// shows "版本信息 <version>:<MCU ID>\r\n", with "0" for a report that could not be read.
// Shows no message box. Returns the line shown, or empty when the headset could not be reached.
std::string ReadDeviceInfo(HidLink& link, UserInterface& ui, const HeadsetLocation& location);

}  // namespace obrint
