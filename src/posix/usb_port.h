// The USB port a hidraw node's device sits on, read from sysfs.
#pragma once

#include <filesystem>
#include <string>

namespace obrint::posix {

// The port path of the USB device behind `hidrawNode` ("/dev/hidraw3"), as the kernel names the
// device's folder ("1-2.3", whose interface folder is "1-2.3:1.0"), found through
// `sysfsRoot`/class/hidraw/<node>/device. Empty when the node has no USB device behind it.
std::string UsbPortOfHidraw(const std::filesystem::path& sysfsRoot, const std::string& hidrawNode);

}  // namespace obrint::posix
